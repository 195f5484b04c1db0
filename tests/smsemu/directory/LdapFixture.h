// A directory TSA over a slapd of the test's own (tests/support/Slapd.h),
// driven through the C API with the helpers of the JSON store's tests.
#pragma once

#include "directory/DirectoryFixture.h"

#include "Slapd.h"

#include <memory>

namespace smsemutest {

class LdapDirectory : public Directory {
protected:
    void SetUp() override
    {
        Directory::SetUp();
        if (std::string why = testsupport::Slapd::unavailable(); !why.empty())
            GTEST_SKIP() << why;
    }

    void TearDown() override
    {
        if (connection != 0)
            NWSMReleaseTSA(&connection);
        connection = 0;
        smsemuReset();
        server.reset();
        Directory::TearDown();
    }

    // Starts a server with these options (the sample directory unless they
    // name entries) and a TSA over it; `keys` are more lines of the TSA.
    void useServer(testsupport::SlapdOptions options = {}, const std::string &keys = "",
                   const std::string &rootForm = "[Root]")
    {
        if (options.ldif.empty())
            options.ldif = testsupport::sampleDirectory(options.suffix, people);
        server = std::make_unique<testsupport::Slapd>(options);
        useConfig(R"([host]
name = "srv1"
[[tsa]]
type = "Directory"
target_service = "ACME_TREE"
root_form = ")" + rootForm +
                  R"("
ldap_uri = ")" + server->uri() +
                  R"("
ldap_base = ")" + options.suffix +
                  R"("
archive_state = "state/directory.sqlite"
)" + keys);
    }

    // Connects and logs in: as the manager by default.
    CCODE logIn(const std::string &user = "cn=admin,o=Acme", const std::string &password = "secret")
    {
        if (connection == 0)
            connection = connect("srv1.Directory");
        return login(connection, "ACME_TREE", user, password);
    }

    // Runs an LDAP client program as the server's manager; it must succeed.
    void ldap(const std::string &program, const std::vector<std::string> &arguments, const std::string &input = "")
    {
        testsupport::Slapd::Output output = server->client(program, arguments, input);
        ASSERT_EQ(output.status, 0) << program << ": " << output.err;
    }

    int people = 40;
    std::unique_ptr<testsupport::Slapd> server;
};

} // namespace smsemutest
