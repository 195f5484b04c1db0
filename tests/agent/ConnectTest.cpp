// Login and logout against the SMS stand-in: every failure row of Connect,
// reuse of one object, and what a login leaves behind.
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "Harness.h"
#include "KXSMSErr.h"
#include "Peek.h"

namespace {

using harness::StandIns;

class Connect : public StandIns {
protected:
    void SetUp() override
    {
        StandIns::SetUp();
        harness::fs::create_directories(dir / "data");
        harness::fs::create_directories(dir / "gw");
        testsupport::writeFile(dir / "tree.json", "{\"objects\": []}");
        useConfig(config());
        object = CreateKXSMS();
    }
    void TearDown() override
    {
        DestroyKXSMS(object);
        StandIns::TearDown();
    }
    std::string config(const std::string &fsExtra = "") const
    {
        return "[host]\nname = " + testsupport::tomlString(host()) + "\n" +
               testsupport::fileSystemTsaConfig(dir / "data", "", "users = { admin = \"secret\" }\n" + fsExtra) +
               "[[tsa]]\ntype = \"Directory\"\ntarget_service = \"ACME_TREE\"\nusers = { admin = \"secret\" }\n"
               "store = " +
               testsupport::tomlString(dir / "tree.json") +
               "\n"
               "[[tsa]]\ntype = \"GroupWise System\"\nusers = { admin = \"secret\" }\n"
               "[[tsa.resource]]\nname = \"DOM1:\"\npath = " +
               testsupport::tomlString(dir / "gw") + "\n";
    }
    static std::string host()
    {
        char name[256] = {};
        gethostname(name, sizeof name - 1);
        return name;
    }
    unsigned login(int type = KXSMS_TSA_FILE_SYSTEM, const char *user = "admin", const char *secret = "secret")
    {
        KXPassword password(secret);
        std::string name = user;
        return object->Connect(static_cast<KXSMS_TSA_TYPE>(type), name.data(), &password);
    }
    void expectNothingHeld()
    {
        EXPECT_EQ(object->GetTSAConnection(), 0xFFFFFFFFu);
        EXPECT_EQ(smsemuOpenConnections(), 0);
        EXPECT_EQ(smsemuOpenScans(), 0);
    }

    CKXSMS *object = nullptr;
};

TEST_F(Connect, NullArgumentsAreRefusedBeforeAnythingElse)
{
    KXPassword password("secret");
    char user[] = "admin";
    EXPECT_EQ(object->Connect(KXSMS_TSA_FILE_SYSTEM, nullptr, &password), KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_EQ(object->Connect(KXSMS_TSA_FILE_SYSTEM, user, nullptr), KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_TRUE(traceCalls().empty());
    EXPECT_TRUE(logMessages().empty());
}

TEST_F(Connect, SucceedsAndLogsItsProgress)
{
    ASSERT_EQ(login(), 0u);
    EXPECT_NE(object->GetTSAConnection(), 0xFFFFFFFFu);
    EXPECT_EQ(object->GetTSAType(), KXSMS_TSA_FILE_SYSTEM);
    EXPECT_STREQ(object->GetTSARoot(), "/");
    EXPECT_STREQ(Peek::targetServiceName(object), host().c_str());
    EXPECT_EQ(Peek::treeNameRoot(object), 0);
    EXPECT_TRUE(Peek::unicodePaths(object));
    EXPECT_EQ(object->GetScanControl()->returnNameSpaceType, -6);
    EXPECT_FALSE(Peek::openFilesUnprotected(object));
    EXPECT_EQ(smsemuLoggedInConnections(), 1);

    const std::string tsa = host() + ".Linux File System";
    EXPECT_TRUE(logged("Connecting to TSA " + tsa + "...", "DEBUG1"));
    EXPECT_TRUE(logged("Unicode Paths supported=1", "DEBUG1"));
    EXPECT_TRUE(logged("Disabled TSA caching mode", "DEBUG1"));
    EXPECT_TRUE(logged("Logged in to Linux File System TSA as admin.", "DEBUG1"));
    // The file-system TSA is not probed for a tree-root form.
    EXPECT_EQ(countCalls("NWSMTSScanDataSetBegin"), 0u);
    const std::vector<std::string> expected = {"NWSMListTSAs",
                                               "NWSMConnectToTSA",
                                               "NWSMFreeNameList",
                                               "NWSMTSListTargetServices",
                                               "NWSMTSConnectToTargetService",
                                               "NWSMFreeNameList",
                                               "NWSMTSListTSResources",
                                               "NWSMFreeNameList",
                                               "NWSMTSSetRestoreOptions",
                                               "NWSMTSGetSupportedNameTypes",
                                               "NWSMTSConfigureTargetService"};
    EXPECT_EQ(traceCalls(), expected);
    for (const std::string &line : traceLines())
        EXPECT_EQ(line.find("secret"), std::string::npos) << line;
    for (const std::string &line : logMessages())
        EXPECT_EQ(line.find("secret"), std::string::npos) << line;
}

TEST_F(Connect, PeerAuthenticationWithoutAUsersTable)
{
    useConfig(testsupport::fileSystemTsaConfig(dir / "data", ""));
    EXPECT_EQ(login(KXSMS_TSA_FILE_SYSTEM, testsupport::currentUserName().c_str(), "anything"), 0u);
    EXPECT_EQ(login(KXSMS_TSA_FILE_SYSTEM, "someone-else", "anything"), KXSMS_ERR_LOGIN_FAILED);
}

TEST_F(Connect, WrongPasswordIsDenied)
{
    EXPECT_EQ(login(KXSMS_TSA_FILE_SYSTEM, "admin", "wrong"), KXSMS_ERR_LOGIN_FAILED);
    EXPECT_TRUE(logged("Cannot login as user admin.", "ERROR"));
    EXPECT_TRUE(logged("Please check password.", "ERROR"));
    expectNothingHeld();
}

struct FailureRow {
    const char *what;
    int type;
    const char *faults;
    unsigned code;
    const char *line; // {host} and {code} are filled in
};

class ConnectFailures : public Connect, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(ConnectFailures, ReportTheirCodeAndLineAndHoldNothing)
{
    const FailureRow &row = GetParam();
    if (row.faults[0] != '\0')
        useFaults(row.faults);
    EXPECT_EQ(login(row.type), row.code) << row.what;
    std::string line = row.line;
    if (size_t at = line.find("{host}"); at != std::string::npos)
        line.replace(at, 6, host());
    if (!line.empty())
        EXPECT_TRUE(logged(line, "ERROR")) << row.what << ": expected \"" << line << "\"";
    else
        EXPECT_TRUE(logMessages("ERROR").empty()) << row.what;
    expectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ConnectFailures,
    ::testing::Values(FailureRow{"type outside 0-2", 3, "", KXSMS_ERR_BAD_ARGUMENTS, ""},
                      FailureRow{"no TSA list", 1, "NWSMListTSAs@1=0xFFFEFFF7", KXSMS_ERR_TSA_NOT_LOADED,
                                 "Linux File System TSA not loaded."},
                      FailureRow{
                          "connect refused", 1, "NWSMConnectToTSA@1=0xFFFDFFB3", KXSMS_ERR_CONNECT_FAILED,
                          "Failed to connect to TSA {host}.Linux File System, (fffdffb3) All TSA connections in use."},
                      FailureRow{"no target services", 1, "NWSMTSListTargetServices@1=0xFFFDFFD3",
                                 KXSMS_ERR_CONNECT_FAILED, "Failed to list target services, (fffdffd3) No connection."},
                      FailureRow{"login fails otherwise", 1, "NWSMTSConnectToTargetService@1=0xFFFDFFBC",
                                 KXSMS_ERR_LOGIN_FAILED, "Failed to login to TSA, Transport failure."},
                      FailureRow{"no resources", 1, "NWSMTSListTSResources@1=0xFFFDFFC5", KXSMS_ERR_CONNECT_FAILED,
                                 "Failed to list target service resources, Resource name not found."}));

TEST_F(Connect, NoTsaOfTheRequestedType)
{
    useConfig(testsupport::fileSystemTsaConfig(dir / "data", "", "users = { admin = \"secret\" }"));
    EXPECT_EQ(login(KXSMS_TSA_GROUPWISE), KXSMS_ERR_TSA_NOT_LOADED);
    EXPECT_TRUE(logged(host() + ".GroupWise System TSA not loaded.", "ERROR"));
    EXPECT_EQ(object->GetTSAType(), KXSMS_TSA_GROUPWISE); // set once the TSAs were listed
    expectNothingHeld();
}

TEST_F(Connect, TypeThreeDropsThePreviousConnectionFirst)
{
    ASSERT_EQ(login(), 0u);
    EXPECT_EQ(login(3), KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_TRUE(logged("Logged out of TSA.", "DEBUG1"));
    expectNothingHeld();
}

TEST_F(Connect, ReuseAcrossConnectionsAndDisconnectLogsOnce)
{
    ASSERT_EQ(login(KXSMS_TSA_FILE_SYSTEM), 0u);
    ASSERT_EQ(login(KXSMS_TSA_GROUPWISE), 0u);
    EXPECT_EQ(object->GetTSAType(), KXSMS_TSA_GROUPWISE);
    EXPECT_STREQ(object->GetTSARoot(), "GroupWise Mail Server");
    EXPECT_EQ(smsemuOpenConnections(), 1);
    ASSERT_EQ(login(KXSMS_TSA_DIRECTORY), 0u);
    EXPECT_STREQ(object->GetTSARoot(), "ACME_TREE");
    EXPECT_EQ(smsemuOpenConnections(), 1);
    clearLog();
    object->Disconnect();
    object->Disconnect();
    size_t logouts = 0;
    for (const std::string &m : logMessages())
        logouts += m == "Logged out of TSA.";
    EXPECT_EQ(logouts, 1u);
    expectNothingHeld();
    // What the last attempt recorded stays after the logout.
    EXPECT_EQ(object->GetTSAType(), KXSMS_TSA_DIRECTORY);
    EXPECT_STREQ(object->GetTSARoot(), "ACME_TREE");
}

TEST_F(Connect, DestroyReleasesEverything)
{
    ASSERT_EQ(login(), 0u);
    char path[] = "/";
    ASSERT_EQ(object->AddScanFilter(path), 0u);
    DestroyKXSMS(object);
    object = nullptr;
    EXPECT_TRUE(logged("Logged out of TSA.", "DEBUG1"));
    EXPECT_EQ(smsemuOpenConnections(), 0);
}

TEST_F(Connect, DirectoryTreeRootForms)
{
    ASSERT_EQ(login(KXSMS_TSA_DIRECTORY), 0u);
    EXPECT_EQ(Peek::treeNameRoot(object), 0);
    EXPECT_EQ(smsemuOpenScans(), 0);

    std::string tree = config();
    tree.replace(tree.find("target_service = \"ACME_TREE\"\n"), 29,
                 "target_service = \"ACME_TREE\"\nroot_form = \"tree\"\n");
    useConfig(tree);
    ASSERT_EQ(login(KXSMS_TSA_DIRECTORY), 0u);
    EXPECT_EQ(Peek::treeNameRoot(object), 1);
    EXPECT_EQ(smsemuOpenScans(), 0);
    EXPECT_EQ(Peek::scanInformation(object), nullptr);
    EXPECT_FALSE(object->EnableCachingMode(true)); // only the file-system TSA has the option
}

TEST_F(Connect, RootProbeFailureDoesNotFailTheLogin)
{
    useFaults("NWSMTSScanDataSetBegin@1=0xFFFDFFC4");
    ASSERT_EQ(login(KXSMS_TSA_DIRECTORY), 0u);
    EXPECT_EQ(Peek::treeNameRoot(object), 0);
    EXPECT_TRUE(logged("NWSMTSScanDataSetBegin(ACME_TREE) returned (fffdffc4), Scan error/Invalid path.", "ERROR"));
}

TEST_F(Connect, OptionalStepsNeverFailTheLogin)
{
    useFaults("NWSMTSSetRestoreOptions@*=0xFFFDFFB9,NWSMTSGetSupportedNameTypes@*=0xFFFDFFB9,"
              "NWSMTSConfigureTargetService@*=0xFFFDFFAD");
    ASSERT_EQ(login(), 0u);
    EXPECT_FALSE(Peek::unicodePaths(object));
    EXPECT_TRUE(logged("NWSMTSGetSupportedNameTypes() not supported", "DEBUG1"));
    EXPECT_TRUE(logged("Unicode Paths supported=0", "DEBUG1"));
    EXPECT_TRUE(logged("Failed to set caching mode to 0, " + std::to_string(static_cast<int>(0xFFFDFFADu)), "DEBUG1"));
}

TEST_F(Connect, Utf8NamesOffLeavesTheReturnedNameSpaceAlone)
{
    useConfig(config("utf8_names = false\n"));
    ASSERT_EQ(login(), 0u);
    EXPECT_FALSE(Peek::unicodePaths(object));
    EXPECT_EQ(object->GetScanControl()->returnNameSpaceType, -1);
    EXPECT_TRUE(object->IsUnicodePathsSupported());
}

TEST_F(Connect, NoUtf8SwitchFileSkipsTheNameTypeQuery)
{
    const harness::fs::path previous = harness::fs::current_path();
    harness::fs::current_path(dir.path());
    testsupport::writeFile(dir / "SYS:\\NOUTF8.DBG", "");
    const unsigned code = login();
    harness::fs::current_path(previous);
    ASSERT_EQ(code, 0u);
    EXPECT_FALSE(Peek::unicodePaths(object));
    EXPECT_EQ(countCalls("NWSMTSGetSupportedNameTypes"), 0u);
    EXPECT_TRUE(logged("Ignoring Unicode support because of SYS:\\NOUTF8.DBG", "ERROR"));
}

TEST_F(Connect, ResourcesAreAppended)
{
    ASSERT_EQ(login(KXSMS_TSA_GROUPWISE), 0u);
    std::vector<std::string> names{"a", "b"};
    EXPECT_EQ(object->GetTSAResources(names), 0u);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "GroupWise Mail Server", "DOM1:"}));
    EXPECT_TRUE(logged("Available Target Service Resources: ", "DEBUG"));
    EXPECT_TRUE(logged("DOM1:", "DEBUG"));
    useFaults("NWSMTSListTSResources@1=0xFFFDFFD3");
    EXPECT_EQ(object->GetTSAResources(names), 0xFFFFFFFFu);
    EXPECT_EQ(names.size(), 4u);
}

TEST_F(Connect, SpaceIsAlwaysAvailable)
{
    EXPECT_TRUE(object->IsSpaceAvailable());
    EXPECT_TRUE(object->IsSpaceAvailable());
    size_t lines = 0;
    for (const std::string &m : logMessages("ERROR"))
        lines += m == "KXSMS::IsSpaceAvailable is not implemented on this OS";
    EXPECT_EQ(lines, 2u);
}

// A host name of HOST_NAME_MAX characters is legal and must find the TSA. It
// is set in a UTS namespace of a child process, so that the machine keeps
// its own name; where namespaces are not permitted the test is skipped.
class HostName : public StandIns {};

TEST_F(HostName, OfSixtyFourCharactersFindsTheTsa)
{
    enum : int { kConnected = 0, kNotPermitted = 77, kNameNotSet = 78, kConnectFailed = 79 };
    const std::string name = std::string(HOST_NAME_MAX - 4, 'h') + "-x64";
    ASSERT_EQ(name.size(), 64u);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWUTS) != 0 || sethostname(name.data(), name.size()) != 0)
            _exit(kNotPermitted);
        char seen[HOST_NAME_MAX + 1] = {};
        if (gethostname(seen, sizeof seen) != 0 || name != seen)
            _exit(kNameNotSet);
        smsemuReset(); // the default host is this (namespaced) machine's name
        CKXSMS *object = CreateKXSMS();
        KXPassword password("");
        std::string user = testsupport::currentUserName();
        const unsigned code = object->Connect(KXSMS_TSA_FILE_SYSTEM, user.data(), &password);
        DestroyKXSMS(object);
        _exit(code == 0 ? kConnected : kConnectFailed);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kNotPermitted)
        GTEST_SKIP() << "no UTS namespace here (needs root or user namespaces)";
    EXPECT_EQ(WEXITSTATUS(status), kConnected);
    EXPECT_FALSE(logged("Linux File System TSA not loaded."));
    EXPECT_TRUE(logged("Connecting to TSA " + name + ".Linux File System...", "DEBUG1"));
}

} // namespace
