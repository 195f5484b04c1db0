// The configuration: defaults, a full file, and files with problems.
#include "SmsEmuFixture.h"

#include <pwd.h>
#include <unistd.h>

namespace smsemutest {
namespace {

using Configuration = SmsEmu;

std::string hostName()
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

std::string userName()
{
    passwd *pw = getpwuid(geteuid());
    return pw != nullptr ? pw->pw_name : "";
}

std::vector<std::string> tsasOf(const std::string &host, CCODE expected = 0)
{
    NWSM_NAME_LIST *list = nullptr;
    EXPECT_EQ(NWSMListTSAs(const_cast<char *>(host.c_str()), &list), expected) << host;
    if (expected != 0) {
        EXPECT_EQ(list, nullptr);
        return {};
    }
    std::vector<std::string> out;
    for (NWSM_NAME_LIST *n = list; n != nullptr; n = n->next)
        out.emplace_back(n->name);
    NWSMFreeNameList(&list);
    return out;
}

TEST_F(Configuration, WithoutAFileThisMachineHasOneFileSystemTsaOverTheRoot)
{
    std::string host = hostName();
    EXPECT_EQ(tsasOf(host), (std::vector<std::string>{host + ".Linux File System"}));
    EXPECT_STREQ(smsemuLastConfigError(), "");
    UINT32 connection = connect(host + ".Linux File System");
    NWSM_NAME_LIST *services = nullptr;
    ASSERT_EQ(NWSMTSListTargetServices(connection, const_cast<char *>("*"), &services), 0u);
    EXPECT_EQ(names(services), (std::vector<std::string>{host}));
    // Peer authentication: the user the process runs as, any password.
    EXPECT_EQ(login(connection, host, "not-" + userName(), "x"), NWSMTS_LOGIN_DENIED);
    EXPECT_EQ(login(connection, host, userName(), "anything at all"), 0u);
    NWSM_NAME_LIST *resources = nullptr;
    ASSERT_EQ(NWSMTSListTSResources(connection, &resources), 0u);
    EXPECT_EQ(names(resources), (std::vector<std::string>{"/"}));
    UINT32 types = 0;
    ASSERT_EQ(NWSMTSGetSupportedNameTypes(connection, &types), 0u);
    EXPECT_EQ(types, NWSM_NAME_TYPE_MBCS | NWSM_NAME_TYPE_UTF8);
}

TEST_F(Configuration, AFullFileListsItsTsasInOrder)
{
    useFullConfig();
    EXPECT_STREQ(smsemuLastConfigError(), "");
    EXPECT_EQ(tsasOf("srv1"),
              (std::vector<std::string>{"srv1.Linux File System", "srv1.Directory", "srv1.GroupWise System"}));
    EXPECT_EQ(tsasOf("SRV1").size(), 3u); // host names ignore case
    tsasOf("srv2", NWSMDR_NO_SUCH_TSA);
    tsasOf(hostName() == "srv1" ? "x" : hostName(), NWSMDR_NO_SUCH_TSA);

    struct Expect {
        const char *tsa, *service;
        std::vector<std::string> resources;
    };
    for (const Expect &e : {Expect{"srv1.Linux File System", "srv1", {"/", "/srv"}},
                            Expect{"srv1.Directory", "ACME_TREE", {"ACME_TREE", "Schema"}},
                            Expect{"srv1.GroupWise System", "gw1", {"GroupWise Mail Server", "DOM1:", "DOM2:"}}}) {
        UINT32 connection = connect(e.tsa);
        NWSM_NAME_LIST *services = nullptr;
        ASSERT_EQ(NWSMTSListTargetServices(connection, const_cast<char *>("*"), &services), 0u);
        EXPECT_EQ(names(services), (std::vector<std::string>{e.service}));
        ASSERT_EQ(login(connection, e.service, "admin", "secret"), 0u) << e.tsa;
        NWSM_NAME_LIST *resources = nullptr;
        ASSERT_EQ(NWSMTSListTSResources(connection, &resources), 0u);
        EXPECT_EQ(names(resources), e.resources) << e.tsa;
    }
}

TEST_F(Configuration, AFileThatDoesNotParseListsNoTsa)
{
    ::testing::internal::CaptureStderr();
    std::filesystem::path file = useConfig("[host]\nname = \"srv1\"\n[[tsa]\ntype = \"Directory\"\n");
    std::string err = ::testing::internal::GetCapturedStderr();
    std::string problem = smsemuLastConfigError();
    EXPECT_NE(problem.find(file.string() + ":3:"), std::string::npos) << problem;
    EXPECT_NE(err.find(problem), std::string::npos) << err;
    // The host is not known from the file: this machine answers with no TSA.
    tsasOf(hostName(), NWSMDR_TSA_NOT_LOADED);
    tsasOf("srv1", NWSMDR_NO_SUCH_TSA);
}

TEST_F(Configuration, AMissingFileListsNoTsa)
{
    setenv("SMSEMU_CONFIG", (dir_ / "absent.toml").c_str(), 1);
    ::testing::internal::CaptureStderr();
    smsemuReset();
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string(smsemuLastConfigError()).find("absent.toml"), std::string::npos);
    EXPECT_NE(err.find("absent.toml"), std::string::npos);
    tsasOf(hostName(), NWSMDR_TSA_NOT_LOADED);
}

TEST_F(Configuration, ATsaWithABadResourceOrStoreIsLeftOutAndTheOthersAreListed)
{
    makeDir("dom1");
    write("broken.json", "{\n  \"objects\": [1, 2,\n}\n");
    ::testing::internal::CaptureStderr();
    std::filesystem::path file = useConfig(R"([host]
name = "srv1"

[[tsa]]
type = "Linux File System"
  [[tsa.resource]]
  name = "/"
  path = "no-such-dir"

[[tsa]]
type = "GroupWise System"
  [[tsa.resource]]
  name = "DOM1:"
  path = "dom1"

[[tsa]]
type = "Directory"
name = "tree A"
target_service = "A"
store = "broken.json"

[[tsa]]
type = "Directory"
name = "tree B"
target_service = "B"
store = "missing.json"

[[tsa]]
type = "GroupWise System"
name = "gw bad name"
  [[tsa.resource]]
  name = "DOM9"
  path = "dom1"

[[tsa]]
type = "Linux File System"
name = "bad spaces"
  [[tsa.resource]]
  name = "/"
  path = "dom1"
  name_spaces = ["DOS", "HPFS"]

[[tsa]]
type = "Novell Storage"
)");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(tsasOf("srv1"), (std::vector<std::string>{"srv1.GroupWise System"}));
    EXPECT_NE(err.find(file.string() + ":6: "), std::string::npos) << err;
    EXPECT_NE(err.find("no-such-dir"), std::string::npos) << err;
    EXPECT_NE(err.find("does not exist"), std::string::npos) << err;
    EXPECT_NE(err.find("broken.json"), std::string::npos) << err;
    EXPECT_NE(err.find("parse error at line 3"), std::string::npos) << err;
    EXPECT_NE(err.find("missing.json"), std::string::npos) << err;
    EXPECT_NE(err.find("DOM9"), std::string::npos) << err;
    EXPECT_NE(err.find("name spaces are"), std::string::npos) << err;
    EXPECT_NE(err.find("Novell Storage"), std::string::npos) << err;
    EXPECT_NE(std::string(smsemuLastConfigError()).find("Novell Storage"), std::string::npos);
}

struct ArchiveKeys {
    const char *keys;
    bool listed;
    const char *problem; // part of the problem reported, "" for none
};

class ArchiveKeyConfiguration : public SmsEmu, public ::testing::WithParamInterface<ArchiveKeys> {};

TEST_P(ArchiveKeyConfiguration, AreCheckedForFileSystemAndGroupWiseTsas)
{
    makeDir("data");
    makeDir("a-folder");
    for (const char *type : {"Linux File System", "GroupWise System"}) {
        ::testing::internal::CaptureStderr();
        useConfig(std::string("[host]\nname = \"srv1\"\n[[tsa]]\ntype = \"") + type + "\"\n" + GetParam().keys +
                  "\n[[tsa.resource]]\nname = \"" + (type[0] == 'L' ? "/" : "DOM1:") + "\"\npath = \"data\"\n");
        const std::vector<std::string> listed = tsasOf("srv1", GetParam().listed ? 0 : NWSMDR_TSA_NOT_LOADED);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(listed.size(), GetParam().listed ? 1u : 0u) << type << ": " << GetParam().keys << err;
        if (*GetParam().problem != '\0')
            EXPECT_NE(err.find(GetParam().problem), std::string::npos) << err;
        else
            EXPECT_EQ(err, "") << GetParam().keys;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArchiveKeyConfiguration,
    ::testing::Values(ArchiveKeys{"", true, ""}, ArchiveKeys{"archive_flag = \"store\"", true, ""},
                      ArchiveKeys{"archive_flag = \"xattr\"", true, ""},
                      ArchiveKeys{"archive_state = \"state/fs.sqlite\"", true, ""},
                      ArchiveKeys{"archive_flag = \"inode\"", false, "archive_flag must be \"store\" or \"xattr\""},
                      ArchiveKeys{"archive_flag = true", false, "\"archive_flag\" must be a string"},
                      ArchiveKeys{"archive_state = \"a-folder\"", false, "archive_state must name a file"},
                      ArchiveKeys{"archive_state = \"\"", false, "archive_state must name a file"}));

TEST_F(Configuration, ADirectoryTsaHasNoArchiveKeys)
{
    write("tree.json", R"({"objects": []})");
    ::testing::internal::CaptureStderr();
    useConfig("[host]\nname = \"srv1\"\n[[tsa]]\ntype = \"Directory\"\nstore = \"tree.json\"\n"
              "archive_state = \"x.sqlite\"\n");
    EXPECT_EQ(tsasOf("srv1").size(), 1u);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("unknown key \"archive_state\""), std::string::npos);
}

TEST_F(Configuration, AHostWithoutTsasAnswersNotLoaded)
{
    useConfig("[host]\nname = \"empty\"\n");
    tsasOf("empty", NWSMDR_TSA_NOT_LOADED);
}

TEST_F(Configuration, ALongHostNameIsFoundByItsFirst47Characters)
{
    std::string host(60, 'h');
    write("t.json", "{}");
    useConfig("[host]\nname = \"" + host + "\"\n[[tsa]]\ntype = \"Directory\"\nstore = \"t.json\"\n");
    EXPECT_EQ(tsasOf(host).size(), 1u);
    EXPECT_EQ(tsasOf(host.substr(0, 47)).size(), 1u);
    tsasOf(host.substr(0, 46), NWSMDR_NO_SUCH_TSA);
}

} // namespace
} // namespace smsemutest
