// Shared set-up of the stand-in tests: a private folder per test, the
// environment the stand-in reads, and small helpers for logins and lists.
#pragma once

#include "SMSAPI.h"
#include "requester/SmsEmuTest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Environment.h"
#include "Files.h"
#include "TempDir.h"

namespace smsemutest {

class SmsEmu : public ::testing::Test {
protected:
    void SetUp() override
    {
        clearEnvironment();
        dir_ = testsupport::TempDir("smsemu-test").release();
        smsemuReset();
    }

    void TearDown() override
    {
        clearEnvironment();
        smsemuReset();
        testsupport::removeTree(dir_);
    }

    static void clearEnvironment() { testsupport::clearStandInEnvironment(); }

    std::filesystem::path write(const std::string &name, const std::string &content)
    {
        std::filesystem::path path = dir_ / name;
        testsupport::writeFile(path, content);
        return path;
    }

    std::filesystem::path makeDir(const std::string &name)
    {
        std::filesystem::create_directories(dir_ / name);
        return dir_ / name;
    }

    // Writes the configuration, points SMSEMU_CONFIG at it and resets.
    std::filesystem::path useConfig(const std::string &toml)
    {
        std::filesystem::path path = write("smsemu.toml", toml);
        setenv("SMSEMU_CONFIG", path.c_str(), 1);
        smsemuReset();
        return path;
    }

    // The three TSA types of one host "srv1", all with user admin / secret.
    std::filesystem::path useFullConfig(const std::string &rootForm = "[Root]", bool utf8 = true)
    {
        makeDir("data");
        makeDir("srv");
        makeDir("dom1");
        makeDir("dom2");
        write("tree.json", R"({"objects": []})");
        return useConfig(std::string(R"(
[host]
name = "srv1"

[[tsa]]
type = "Linux File System"
users = { admin = "secret" }
archive_state = "fs-archive.sqlite"
utf8_names = )") + (utf8 ? "true" : "false") +
                         R"(
  [[tsa.resource]]
  name = "/"
  path = "data"
  [[tsa.resource]]
  name = "/srv"
  path = "srv"
  name_spaces = ["NFS", "DOS", "MAC"]

[[tsa]]
type = "Directory"
target_service = "ACME_TREE"
root_form = ")" + rootForm +
                         R"("
store = "tree.json"
users = { admin = "secret" }

[[tsa]]
type = "GroupWise System"
target_service = "gw1"
users = { admin = "secret" }
archive_state = "gw-archive.sqlite"
  [[tsa.resource]]
  name = "DOM1:"
  path = "dom1"
  [[tsa.resource]]
  name = "DOM2:"
  path = "dom2"
  name_spaces = ["NFS"]
)");
    }

    // The authentication block of a password: length, bytes, terminator.
    static std::vector<char> auth(const std::string &password)
    {
        std::vector<char> block(2 + password.size() + 1, '\0');
        UINT16 length = static_cast<UINT16>(password.size());
        std::memcpy(block.data(), &length, sizeof length);
        std::memcpy(block.data() + 2, password.data(), password.size());
        return block;
    }

    static UINT32 connect(const std::string &tsa)
    {
        UINT32 connection = 0;
        EXPECT_EQ(NWSMConnectToTSA(const_cast<char *>(tsa.c_str()), &connection), 0u) << tsa;
        return connection;
    }

    static CCODE login(UINT32 connection, const std::string &service, const std::string &user,
                       const std::string &password)
    {
        std::vector<char> block = auth(password);
        return NWSMTSConnectToTargetService(&connection, const_cast<char *>(service.c_str()),
                                            const_cast<char *>(user.c_str()), block.data());
    }

    // Connects to a TSA of "srv1" and logs in as admin.
    static UINT32 loggedIn(const std::string &tsa, const std::string &service)
    {
        UINT32 connection = connect(tsa);
        EXPECT_EQ(login(connection, service, "admin", "secret"), 0u);
        return connection;
    }

    // The names of a plain name list, which is then released.
    static std::vector<std::string> names(NWSM_NAME_LIST *list)
    {
        std::vector<std::string> out;
        for (NWSM_NAME_LIST *n = list; n != nullptr; n = n->next)
            out.emplace_back(n->name);
        EXPECT_EQ(NWSMFreeNameList(&list), 0u);
        EXPECT_EQ(list, nullptr);
        return out;
    }

    std::filesystem::path dir_;
};

using testsupport::ScopedEnv;

} // namespace smsemutest
