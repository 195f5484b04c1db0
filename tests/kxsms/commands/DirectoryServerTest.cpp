// kxsms end to end with the directory TSA over an LDAP server (a slapd of
// the test's own): a directory of about 2,000 entries backed up, a subtree
// deleted with ldapdelete -r and restored, the listings compared; another
// directory restored whole onto an empty server; backups of what changed
// (--since, --incremental); the overwrite rules; a size limit; access
// controls that hide entries; the module's own names (the tree-name form,
// [Root], Schema) over the server.
#include "commands/KxsmsProgram.h"

#include "Slapd.h"

#include <algorithm>
#include <memory>

namespace {

using namespace kxsms_test;
using testsupport::Slapd;
using testsupport::SlapdOptions;

class DirectoryServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = Slapd::unavailable(); !why.empty())
            GTEST_SKIP() << why;
        dir_ = makeScratch("kxsms-ldap");
        setenv("KXLIB_LOG", (dir_ / "kxlib.log").c_str(), 1);
        unsetenv("SMSEMU_FAULTS");
        unsetenv("SMSEMU_TRACE");
        unsetenv("KXSMS_LIBRARY");
        unsetenv("KXSMS_PASSWORD");
    }
    void TearDown() override
    {
        server_.reset();
        if (!dir_.empty())
            removeTree(dir_);
    }

    // A server with the sample directory (`people` people) and the TSA over it.
    void serve(int people, SlapdOptions options = {}, const std::string &rootForm = "[Root]")
    {
        options.ldif = testsupport::sampleDirectory(options.suffix, people);
        start(options, rootForm);
    }

    // A server with the entries of `options` (none when it has no LDIF) and
    // the TSA over its suffix.
    void start(const SlapdOptions &options, const std::string &rootForm = "[Root]")
    {
        server_.reset();
        server_ = std::make_unique<Slapd>(options);
        writeFile(dir_ / "smsemu.toml", "[[tsa]]\ntype = \"Directory\"\ntarget_service = \"ACME_TREE\"\n"
                                        "root_form = \"" +
                                            rootForm + "\"\nldap_uri = \"" + server_->uri() + "\"\nldap_base = \"" +
                                            options.suffix + "\"\narchive_state = \"" +
                                            (dir_ / "state.sqlite").string() + "\"\n");
        setenv("SMSEMU_CONFIG", (dir_ / "smsemu.toml").c_str(), 1);
    }

    // kxsms on the directory TSA; logged in as the process's user (the
    // server's manager over its socket) unless `user` names another.
    Result dir(std::vector<std::string> arguments, const std::string &user = "")
    {
        std::vector<std::string> all{"--tsa", "dir"};
        if (!user.empty()) {
            all.push_back("-u");
            all.push_back(user);
        }
        all.insert(all.end(), arguments.begin(), arguments.end());
        return runShell(dir_, kxsmsLine(all));
    }

    Result restore(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "restore");
        return runShell(dir_, kxsmsLine(arguments));
    }

    void ldap(const std::string &program, const std::vector<std::string> &arguments, const std::string &input = "")
    {
        const Slapd::Output output = server_->client(program, arguments, input);
        ASSERT_EQ(output.status, 0) << program << ": " << output.err;
    }

    // A user of the sample directory with a password of its own.
    std::string user(const std::string &password)
    {
        const std::string dn = "cn=Desk 1,ou=D2,ou=Departments,o=Acme";
        ldap("ldappasswd", {"-s", password, dn});
        setenv("KXSMS_PASSWORD", password.c_str(), 1);
        return dn;
    }

    fs::path dir_;
    std::unique_ptr<Slapd> server_;
};

std::size_t countLines(const std::string &text)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST_F(DirectoryServer, ADeletedSubtreeComesBackAsItWasByteForByte)
{
    serve(1950);
    const std::string before = server_->dump();
    ASSERT_GE(testsupport::sortedLdifRecords(before).size(), 2000u);

    const Result saved = dir({"backup", "[Root]", "-f", "all.kxa"});
    ASSERT_EQ(saved.status, 0) << context(saved);
    const Result listed = restore({"-f", "all.kxa", "-n", "--in-place", "--overwrite", "never"});
    EXPECT_EQ(listed.status, 0) << context(listed);

    ldap("ldapdelete", {"-r", "ou=Special,o=Acme", "ou=People,o=Acme"});
    ASSERT_NE(testsupport::sortedLdifRecords(server_->dump()), testsupport::sortedLdifRecords(before));
    const Result back = restore({"-f", "all.kxa", "--in-place", "--overwrite", "never"});
    EXPECT_EQ(back.status, 0) << context(back);
    EXPECT_EQ(testsupport::sortedLdifRecords(server_->dump()), testsupport::sortedLdifRecords(before))
        << "every entry, attribute and value (photos and certificates in base64) as before";
}

// A base of two components, names and values the sample does not have (a
// type given by its OID, attribute options, a large photo, a tab, quotes,
// brackets, a trailing space, a referral object, an alias), and a server
// that starts empty: the whole directory comes back from the archive alone.
TEST_F(DirectoryServer, AnotherDirectoryComesBackWholeOnAnEmptyServer)
{
    std::string photo;
    unsigned state = 7;
    while (photo.size() < 300000) {
        state = state * 1103515245u + 12345u;
        photo += static_cast<char>((state >> 16) & 0xFF);
    }
    writeFile(dir_ / "photo.bin", photo);
    SlapdOptions options;
    options.suffix = "dc=example,dc=com";
    options.ldif =
        "dn: dc=example,dc=com\nobjectClass: dcObject\nobjectClass: organization\ndc: example\no: Example\n\n"
        "dn: ou=hosts,dc=example,dc=com\nobjectClass: organizationalUnit\nou: hosts\n\n"
        "dn: cn=web.example.com+ipHostNumber=10.0.0.1,ou=hosts,dc=example,dc=com\nobjectClass: device\n"
        "objectClass: ipHost\ncn: web.example.com\nipHostNumber: 10.0.0.1\n\n"
        "dn: 2.5.4.3=by oid,ou=hosts,dc=example,dc=com\nobjectClass: device\ncn: by oid\n\n"
        "dn: ou=a,ou=hosts,dc=example,dc=com\nobjectClass: organizationalUnit\nou: a\n\n"
        "dn: ou=b,ou=a,ou=hosts,dc=example,dc=com\nobjectClass: organizationalUnit\nou: b\n\n"
        "dn: cn=deep,ou=b,ou=a,ou=hosts,dc=example,dc=com\nobjectClass: inetOrgPerson\ncn: deep\n"
        "sn: base\nsn;lang-de: Basis\ndescription;lang-fr: bonjour\njpegPhoto:< file://" +
        (dir_ / "photo.bin").string() +
        "\n\n"
        "dn: cn=semi\\3Bcolon\\3Cangle\\3E\\22quote,dc=example,dc=com\nobjectClass: person\n"
        "cn: semi;colon<angle>\"quote\nsn: q\n\n"
        "dn: cn=tab\tchar,dc=example,dc=com\nobjectClass: person\ncn: tab\tchar\nsn: t\n\n"
        "dn: cn=trail\\20,dc=example,dc=com\nobjectClass: person\ncn: trail \nsn: t\n\n"
        "dn: cn=[Root],dc=example,dc=com\nobjectClass: person\ncn: [Root]\nsn: r\n\n"
        "dn: cn=T=X..,dc=example,dc=com\nobjectClass: person\ncn: T=X..\nsn: r\n\n"
        "dn: ou=elsewhere,dc=example,dc=com\nobjectClass: referral\nobjectClass: extensibleObject\n"
        "ou: elsewhere\nref: ldap://other.example/ou=elsewhere,dc=example,dc=com\n\n"
        "dn: cn=alias,dc=example,dc=com\nobjectClass: alias\nobjectClass: extensibleObject\ncn: alias\n"
        "aliasedObjectName: cn=trail\\20,dc=example,dc=com\n\n"
        "dn: cn=all,dc=example,dc=com\nobjectClass: groupOfNames\ncn: all\n"
        "member: cn=deep,ou=b,ou=a,ou=hosts,dc=example,dc=com\nmember: cn=trail\\20,dc=example,dc=com\n\n";
    start(options);
    const std::string before = server_->dump();
    ASSERT_NE(before.find("cn=by oid,ou=hosts"), std::string::npos) << before;
    ASSERT_NE(before.find("dn: ou=elsewhere,dc=example,dc=com\n"), std::string::npos) << before;

    const Result listed = dir({"ls", "-r", "[Root]"});
    EXPECT_NE(listed.out.find(".CN=deep.OU=b.OU=a.OU=hosts.DC=example.DC=com.[Root]\n"), std::string::npos)
        << context(listed);
    EXPECT_NE(listed.out.find(".CN=T\\=X\\.\\..DC=example.DC=com.[Root]\n"), std::string::npos) << listed.out;
    const Result saved = dir({"backup", "[Root]", "-f", "all.kxa"});
    ASSERT_EQ(saved.status, 0) << context(saved);

    options.ldif.clear();
    start(options);
    const Result back = restore({"-f", "all.kxa", "--in-place", "--overwrite", "never"});
    EXPECT_EQ(back.status, 0) << context(back);
    EXPECT_EQ(testsupport::sortedLdifRecords(server_->dump()), testsupport::sortedLdifRecords(before));

    // A referral object is an entry like any other, also to delete.
    const Result removed = dir({"rm", ".OU=elsewhere.DC=example.DC=com.[Root]"});
    EXPECT_EQ(removed.status, 0) << context(removed);
    EXPECT_EQ(server_->dump().find("ou=elsewhere"), std::string::npos);
}

TEST_F(DirectoryServer, TheOverwriteRulesHoldForAChangedEntry)
{
    serve(20);
    const std::string name = ".CN=Smith, John.OU=Special.O=Acme.[Root]";
    const std::string dn = "cn=Smith\\, John,ou=Special,o=Acme";
    ASSERT_EQ(dir({"backup", name, "-f", "smith.kxa"}).status, 0);
    const std::string saved = server_->dump(dn);
    ldap("ldapmodify", {},
         "dn: " + dn +
             "\nchangetype: modify\nreplace: sn\nsn: Changed\n-\nadd: description\n"
             "description: new\n");
    const std::string changed = server_->dump(dn);

    const Result newer = restore({"-f", "smith.kxa", "--in-place"});
    EXPECT_EQ(newer.status, 2) << context(newer);
    const Result never = restore({"-f", "smith.kxa", "--in-place", "--overwrite", "never"});
    EXPECT_EQ(never.status, 0) << context(never);
    EXPECT_NE(never.err.find("kept " + name), std::string::npos) << never.err;
    EXPECT_EQ(server_->dump(dn), changed);
    const Result always = restore({"-f", "smith.kxa", "--in-place", "--overwrite", "always"});
    EXPECT_EQ(always.status, 0) << context(always);
    const std::string now = server_->dump(dn);
    EXPECT_NE(now.find("sn: Special"), std::string::npos) << now;
    EXPECT_EQ(now.find("description"), std::string::npos) << "what the saved entry did not have is gone";
    EXPECT_EQ(now.size(), saved.size());
}

// What changed, told by the entries' modifyTimestamp (--since) or by the
// archive flags kept in the state store (--incremental).
TEST_F(DirectoryServer, SinceAndIncrementalBackupsTakeWhatChanged)
{
    SlapdOptions options;
    options.ldif = "dn: o=Acme\nobjectClass: organization\no: Acme\n\n"
                   "dn: ou=Staff,o=Acme\nobjectClass: organizationalUnit\nou: Staff\n\n"
                   "dn: cn=old,ou=Staff,o=Acme\nobjectClass: person\ncn: old\nsn: o\n"
                   "createTimestamp: 20200101000000Z\nmodifyTimestamp: 20200101000000Z\n\n"
                   "dn: cn=new,ou=Staff,o=Acme\nobjectClass: person\ncn: new\nsn: n\n"
                   "createTimestamp: 20200101000000Z\nmodifyTimestamp: 20240601000000Z\n\n";
    start(options);
    const std::string old = ".CN=old.OU=Staff.O=Acme.[Root]";
    const std::string fresh = ".CN=new.OU=Staff.O=Acme.[Root]";
    auto has = [](const Result &r, const std::string &name) { return r.out.find(name + "\n") != std::string::npos; };

    const Result since = dir({"backup", "[Root]", "--since", "2023-01-01", "-n", "-f", "s.kxa"});
    EXPECT_EQ(since.status, 0) << context(since);
    EXPECT_TRUE(has(since, fresh)) << since.out;
    EXPECT_FALSE(has(since, old)) << since.out;
    EXPECT_TRUE(has(since, ".OU=Staff.O=Acme.[Root]")) << "containers always";

    const Result full = dir({"backup", "[Root]", "--incremental", "--clear-archive", "-f", "full.kxa"});
    EXPECT_EQ(full.status, 0) << context(full);
    const Result none = dir({"backup", "[Root]", "--incremental", "-n", "-f", "n.kxa"});
    EXPECT_FALSE(has(none, old) || has(none, fresh)) << none.out;
    ldap("ldapmodify", {}, "dn: cn=old,ou=Staff,o=Acme\nchangetype: modify\nreplace: sn\nsn: changed\n");
    const Result changed = dir({"backup", "[Root]", "--incremental", "-n", "-f", "c.kxa"});
    EXPECT_TRUE(has(changed, old)) << changed.out;
    EXPECT_FALSE(has(changed, fresh)) << changed.out;
}

TEST_F(DirectoryServer, PagedScansGetPastASizeLimitOfFiveHundred)
{
    SlapdOptions options;
    options.limits = "sizelimit 500\nlimits users size.prtotal=unlimited";
    serve(2000, options);
    const std::string dn = user("desk");
    const Result plain = runShell(dir_, "ldapsearch -x -H " + quote(server_->uri()) + " -D " + quote(dn) +
                                            " -w desk -b ou=People,o=Acme -LLL dn");
    EXPECT_NE(plain.status, 0) << "a search of one request stops at the limit";
    const Result saved = dir({"backup", ".OU=People.O=Acme.[Root]", "-f", "people.kxa"}, dn);
    ASSERT_EQ(saved.status, 0) << context(saved);
    EXPECT_EQ(countLines(runShell(dir_, kxsmsLine({"list", "-f", "people.kxa"})).out), 2001u);
}

TEST_F(DirectoryServer, WhatTheLimitsOrAccessControlsKeepBackIsNamedAndTheRestSaved)
{
    SlapdOptions options;
    options.limits = "sizelimit 500";
    options.access = "access to dn.children=\"ou=Special,o=Acme\" by dn.exact=\"cn=admin,o=Acme\" read by * none\n";
    serve(600, options);
    const std::string dn = user("desk");
    const Result saved = dir({"backup", "[Root]", "-f", "a.kxa"}, dn);
    EXPECT_EQ(saved.status, 1) << context(saved);
    EXPECT_NE(saved.err.find("cannot read the contents of .OU=Special.O=Acme.[Root]"), std::string::npos) << saved.err;
    EXPECT_NE(saved.err.find("cannot read the contents of .OU=People.O=Acme.[Root]"), std::string::npos) << saved.err;
    EXPECT_NE(saved.err.find("Size limit exceeded"), std::string::npos) << saved.err;
    const std::string members = runShell(dir_, kxsmsLine({"list", "-f", "a.kxa"})).out;
    EXPECT_NE(members.find(".CN=Group 3.OU=Groups.O=Acme.[Root]"), std::string::npos) << "the rest is saved";
    EXPECT_NE(members.find(".CN=Desk 3.OU=D4.OU=Departments.O=Acme.[Root]"), std::string::npos);
}

TEST_F(DirectoryServer, TheModulesNamesHoldOverTheServer)
{
    serve(10, {}, "tree");
    const Result resources = dir({"resources"});
    EXPECT_EQ(resources.out, "ACME_TREE\nSchema\n") << context(resources);
    const Result top = dir({"ls", "[Root]"});
    EXPECT_EQ(top.out, ".O=Acme.[Root]\n") << context(top);
    const Result schema = dir({"ls", "Schema"});
    EXPECT_NE(schema.out.find(".CN=inetOrgPerson.Schema"), std::string::npos) << context(schema);
    const Result info = dir({"info", ".CN=John+UID=jd.OU=Special.O=Acme.[Root]", "--json"});
    EXPECT_EQ(info.status, 0) << context(info);

    // rm: a leaf goes, a container only with -r, each entry before its container.
    const Result notEmpty = dir({"rm", ".OU=D1.OU=Departments.O=Acme.[Root]"});
    EXPECT_NE(notEmpty.status, 0);
    EXPECT_NE(notEmpty.err.find("not empty"), std::string::npos) << notEmpty.err;
    EXPECT_EQ(dir({"rm", "-r", ".OU=D1.OU=Departments.O=Acme.[Root]"}).status, 0);
    EXPECT_EQ(server_->dump().find("ou=D1,"), std::string::npos);
    const Result gone = dir({"info", ".OU=D1.OU=Departments.O=Acme.[Root]"});
    EXPECT_NE(gone.status, 0);
}

} // namespace
