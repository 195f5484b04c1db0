// Connections to TSAs, login to target services, handles and release.
#include "SmsEmuFixture.h"

#include <numeric>
#include <thread>

namespace smsemutest {
namespace {

class Login : public SmsEmu {
protected:
    void SetUp() override
    {
        SmsEmu::SetUp();
        useFullConfig();
    }
};

TEST_F(Login, RightAndWrongPasswords)
{
    UINT32 connection = connect("srv1.Linux File System");
    EXPECT_EQ(login(connection, "srv1", "admin", "wrong"), NWSMTS_LOGIN_DENIED);
    EXPECT_EQ(login(connection, "srv1", "admin", "secre"), NWSMTS_LOGIN_DENIED);
    EXPECT_EQ(login(connection, "srv1", "admin", "secret!"), NWSMTS_LOGIN_DENIED);
    EXPECT_EQ(login(connection, "srv1", "Admin", "secret"), NWSMTS_LOGIN_DENIED);
    EXPECT_EQ(login(connection, "srv1", "", ""), NWSMTS_LOGIN_DENIED);
    EXPECT_EQ(smsemuLoggedInConnections(), 0);
    EXPECT_EQ(login(connection, "SRV1", "admin", "secret"), 0u); // service names ignore case
    EXPECT_EQ(smsemuLoggedInConnections(), 1);
    // A failed new attempt ends the login.
    EXPECT_EQ(login(connection, "srv1", "admin", "nope"), NWSMTS_LOGIN_DENIED);
    EXPECT_EQ(smsemuLoggedInConnections(), 0);
}

TEST_F(Login, UntrustedAuthenticationBlocksAreRefused)
{
    UINT32 connection = connect("srv1.Linux File System");
    char service[] = "srv1";
    char user[] = "admin";
    EXPECT_EQ(NWSMTSConnectToTargetService(&connection, service, user, nullptr), NWSMTS_INVALID_PARAMETER);
    std::vector<char> block = auth("secret");
    block[0] = 7; // one past the terminator
    EXPECT_EQ(NWSMTSConnectToTargetService(&connection, service, user, block.data()), NWSMTS_INVALID_PARAMETER);
    block[0] = 5; // the terminator is not where the length says
    EXPECT_EQ(NWSMTSConnectToTargetService(&connection, service, user, block.data()), NWSMTS_INVALID_PARAMETER);
    std::vector<char> huge(2 + 4097 + 1, 'x');
    UINT16 length = 4097;
    std::memcpy(huge.data(), &length, 2);
    huge.back() = '\0';
    EXPECT_EQ(NWSMTSConnectToTargetService(&connection, service, user, huge.data()), NWSMTS_INVALID_PARAMETER);
    EXPECT_EQ(NWSMTSConnectToTargetService(&connection, nullptr, user, auth("secret").data()),
              NWSMTS_INVALID_PARAMETER);
    EXPECT_EQ(NWSMTSConnectToTargetService(&connection, service, nullptr, auth("secret").data()),
              NWSMTS_INVALID_PARAMETER);
    EXPECT_EQ(NWSMTSConnectToTargetService(nullptr, service, user, auth("secret").data()), NWSMTS_INVALID_PARAMETER);
    EXPECT_EQ(login(connection, "other", "admin", "secret"), NWSMTS_INVALID_PARAMETER);
    EXPECT_EQ(smsemuLoggedInConnections(), 0);
}

TEST_F(Login, HandlesCountUpFromOneAndRestartAfterAReset)
{
    std::vector<UINT32> handles;
    for (const char *tsa : {"srv1.Linux File System", "srv1.Directory", "srv1.linux file system"})
        handles.push_back(connect(tsa));
    EXPECT_EQ(handles, (std::vector<UINT32>{1, 2, 3}));
    UINT32 none = 0;
    EXPECT_EQ(NWSMConnectToTSA(const_cast<char *>("srv1.Nothing"), &none), NWSMDR_NO_SUCH_TSA);
    EXPECT_EQ(NWSMConnectToTSA(nullptr, &none), NWSMDR_INVALID_PARAMETER);
    EXPECT_EQ(smsemuOpenConnections(), 3);
    UINT32 second = handles[1];
    EXPECT_EQ(NWSMReleaseTSA(&second), 0u);
    EXPECT_EQ(second, 2u); // left as it was
    EXPECT_EQ(NWSMReleaseTSA(&second), NWSMDR_INVALID_CONNECTION);
    EXPECT_EQ(connect("srv1.Directory"), 4u); // never reused
    EXPECT_EQ(smsemuOpenConnections(), 3);
    smsemuReset();
    EXPECT_EQ(smsemuOpenConnections(), 0);
    EXPECT_EQ(connect("srv1.Directory"), 1u);
}

// A handle given again after a reset names the new connection, on a thread
// that used the old one as on any other.
TEST_F(Login, AHandleGivenAgainAfterAResetNamesTheNewConnection)
{
    const UINT32 old = loggedIn("srv1.Linux File System", "srv1");
    NWSM_NAME_LIST *list = nullptr;
    ASSERT_EQ(NWSMTSListTSResources(old, &list), 0u);
    NWSMFreeNameList(&list);
    smsemuReset();
    const UINT32 again = connect("srv1.Linux File System");
    ASSERT_EQ(again, old);
    EXPECT_EQ(NWSMTSListTSResources(again, &list), NWSMTS_NO_CONNECTION); // not logged in
    UINT32 released = again;
    ASSERT_EQ(NWSMReleaseTSA(&released), 0u);
    EXPECT_EQ(NWSMTSListTSResources(again, &list), NWSMTS_INVALID_CONNECTION_HANDLE);
}

// Connections driven from several threads at once: each call reaches its
// own connection, a release is seen at once by the thread that used it, and
// the calls are counted as one sequence (the n-th call fails once).
TEST_F(Login, ConnectionsOnSeveralThreadsEachReachTheirOwn)
{
    constexpr int c_Threads = 4;
    constexpr int c_Calls = 200;
    smsemuSetFaults("NWSMTSListTSResources@300=0xFFFDFFC3");
    std::vector<UINT32> connections;
    for (int i = 0; i < c_Threads; ++i)
        connections.push_back(loggedIn("srv1.Linux File System", "srv1"));
    std::vector<int> failed(c_Threads, 0);
    std::vector<int> wrong(c_Threads, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < c_Threads; ++i)
        threads.emplace_back([&, i] {
            for (int call = 0; call < c_Calls; ++call) {
                NWSM_NAME_LIST *list = nullptr;
                const CCODE rc = NWSMTSListTSResources(connections[i], &list);
                if (rc == 0xFFFDFFC3)
                    ++failed[i];
                else if (rc != 0)
                    ++wrong[i];
                NWSMFreeNameList(&list);
            }
        });
    for (std::thread &thread : threads)
        thread.join();
    smsemuSetFaults(nullptr);
    EXPECT_EQ(std::accumulate(failed.begin(), failed.end(), 0), 1);
    EXPECT_EQ(std::accumulate(wrong.begin(), wrong.end(), 0), 0);
    UINT32 first = connections[0];
    ASSERT_EQ(NWSMReleaseTSA(&first), 0u);
    NWSM_NAME_LIST *list = nullptr;
    EXPECT_EQ(NWSMTSListTSResources(connections[0], &list), NWSMTS_INVALID_CONNECTION_HANDLE);
    EXPECT_EQ(NWSMTSListTSResources(connections[1], &list), 0u);
    NWSMFreeNameList(&list);
}

TEST_F(Login, ReleasingTheTsaEndsTheLoginAndReleasingTheServiceKeepsTheConnection)
{
    UINT32 connection = loggedIn("srv1.Linux File System", "srv1");
    ASSERT_EQ(smsemuLoggedInConnections(), 1);
    ASSERT_EQ(NWSMTSReleaseTargetService(&connection), 0u);
    EXPECT_EQ(smsemuLoggedInConnections(), 0);
    EXPECT_EQ(smsemuOpenConnections(), 1);
    NWSM_NAME_LIST *list = nullptr;
    EXPECT_EQ(NWSMTSListTSResources(connection, &list), NWSMTS_NO_CONNECTION);
    EXPECT_EQ(NWSMTSReleaseTargetService(&connection), 0u); // not logged in: nothing to do
    ASSERT_EQ(login(connection, "srv1", "admin", "secret"), 0u);
    ASSERT_EQ(NWSMReleaseTSA(&connection), 0u);
    EXPECT_EQ(smsemuLoggedInConnections(), 0);
    EXPECT_EQ(smsemuOpenConnections(), 0);
    EXPECT_EQ(NWSMTSListTSResources(connection, &list), NWSMTS_INVALID_CONNECTION_HANDLE);
}

TEST_F(Login, CallsNeedAKnownConnectionAndMostNeedALogin)
{
    UINT32 connection = connect("srv1.Linux File System");
    UINT32 unknown = 77;
    UINT32 value = 0, sequence = 0, handle = 0;
    INT16 reverse = 0;
    char space[64];
    STRING_BUFFER *a = nullptr, *b = nullptr;
    NWSM_NAME_LIST *list = nullptr;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    NWSM_DATA_SET_NAME_LIST *start = nullptr;
    ASSERT_EQ(NWSMPutOneName(&start, 0, 0, 0, nullptr, nullptr, const_cast<char *>("/")), 0u);
    char name[] = "/a/b";
    UINT8 buffer[16];
    auto each = [&](UINT32 c) {
        return std::vector<CCODE>{
            NWSMTSListTSResources(c, &list),
            NWSMTSSetRestoreOptions(c, 0, 1, nullptr),
            NWSMTSGetSupportedNameTypes(c, &value),
            NWSMTSConfigureTargetService(c, NWSM_OPTION_CACHING_MODE, &value),
            NWSMTSScanDataSetBegin(c, start, nullptr, nullptr, &sequence, &info, &names),
            NWSMTSScanNextDataSet(c, &sequence, &info, &names),
            NWSMTSScanDataSetEnd(c, &sequence, &info, &names),
            NWSMTSOpenDataSetForBackup(c, 1, 0, &handle),
            NWSMTSReadDataSet(c, 1, sizeof buffer, &value, buffer),
            NWSMTSSetArchiveStatus(c, 1, 1, 0),
            NWSMTSOpenDataSetForRestore(c, 0, start, 0, &handle),
            NWSMTSWriteDataSet(c, 1, sizeof buffer, buffer),
            NWSMTSCloseDataSet(c, &handle),
            NWSMTSDeleteDataSet(c, 1),
            NWSMTSScanSupportedNameSpaces(c, &sequence, const_cast<char *>("/"), &value, space),
            NWSMTSGetNameSpaceTypeInfo(c, 0, &reverse, &a, &b),
            NWSMTSSeparateDataSetName(c, 0, name, &a, &b),
            NWSMTSCatDataSetName(c, 0, name, name, 0, &a),
        };
    };
    for (CCODE rc : each(unknown))
        EXPECT_EQ(rc, NWSMTS_INVALID_CONNECTION_HANDLE);
    for (CCODE rc : each(connection))
        EXPECT_EQ(rc, NWSMTS_NO_CONNECTION);
    EXPECT_EQ(NWSMTSListTargetServices(unknown, const_cast<char *>("*"), &list), NWSMTS_INVALID_CONNECTION_HANDLE);
    EXPECT_EQ(NWSMTSReleaseTargetService(&unknown), NWSMTS_INVALID_CONNECTION_HANDLE);
    std::free(start);
}

TEST_F(Login, DataOperationsCheckTheirHandles)
{
    UINT32 connection = loggedIn("srv1.GroupWise System", "gw1");
    NWSM_DATA_SET_NAME_LIST *start = nullptr;
    ASSERT_EQ(NWSMPutOneName(&start, NWSM_TSA_DEFINED_RESOURCE, 0, 0, nullptr, nullptr, const_cast<char *>("DOM1:")),
              0u);
    UINT32 sequence = 0, handle = 0, read = 0;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    UINT8 buffer[8];
    EXPECT_EQ(NWSMTSScanDataSetBegin(connection, nullptr, nullptr, nullptr, &sequence, &info, &names),
              NWSMTS_INVALID_PARAMETER);
    EXPECT_EQ(NWSMTSOpenDataSetForRestore(connection, 5, start, 0, &handle), NWSMTS_INVALID_DATA_SET_HANDLE);
    EXPECT_EQ(NWSMTSOpenDataSetForBackup(connection, 1, NWSM_OPEN_FOR_BACKUP, &handle), NWSMTS_INVALID_SEQUENCE_NUMBER);
    EXPECT_EQ(NWSMTSScanNextDataSet(connection, &sequence, &info, &names), NWSMTS_INVALID_SEQUENCE_NUMBER);
    EXPECT_EQ(NWSMTSDeleteDataSet(connection, 1), NWSMTS_INVALID_SEQUENCE_NUMBER);
    EXPECT_EQ(NWSMTSReadDataSet(connection, 1, sizeof buffer, &read, buffer), NWSMTS_INVALID_DATA_SET_HANDLE);
    EXPECT_EQ(NWSMTSReadDataSet(connection, 1, sizeof buffer, nullptr, buffer), NWSMTS_INVALID_PARAMETER);
    EXPECT_EQ(NWSMTSWriteDataSet(connection, 1, sizeof buffer, nullptr), NWSMTS_INVALID_PARAMETER);
    EXPECT_EQ(NWSMTSSetArchiveStatus(connection, 0, 1, 0), NWSMTS_INVALID_DATA_SET_HANDLE);
    handle = 3;
    EXPECT_EQ(NWSMTSCloseDataSet(connection, &handle), NWSMTS_INVALID_DATA_SET_HANDLE);
    EXPECT_EQ(smsemuOpenScans(), 0);
    EXPECT_EQ(smsemuOpenDataSets(), 0);
    std::free(start);
}

TEST_F(Login, TargetOptions)
{
    struct Case {
        const char *tsa, *service;
        bool caching;
    };
    for (const Case &c : {Case{"srv1.Linux File System", "srv1", true}, Case{"srv1.Directory", "ACME_TREE", false},
                          Case{"srv1.GroupWise System", "gw1", false}}) {
        UINT32 connection = loggedIn(c.tsa, c.service);
        UINT32 off = 0, on = 1, two = 2;
        EXPECT_EQ(NWSMTSConfigureTargetService(connection, NWSM_OPTION_CACHING_MODE, &off),
                  c.caching ? 0u : NWSMTS_UNSUPPORTED_OPTION)
            << c.tsa;
        EXPECT_EQ(NWSMTSConfigureTargetService(connection, NWSM_OPTION_CACHING_MODE, &on),
                  c.caching ? 0u : NWSMTS_UNSUPPORTED_OPTION);
        EXPECT_EQ(NWSMTSConfigureTargetService(connection, NWSM_OPTION_CACHING_MODE, &two),
                  c.caching ? NWSMTS_INVALID_PARAMETER : NWSMTS_UNSUPPORTED_OPTION);
        EXPECT_EQ(NWSMTSConfigureTargetService(connection, 0x10004, &off), NWSMTS_UNSUPPORTED_OPTION);

        NWSM_SELECTION_LIST *selection = nullptr;
        NWSM_NAME_HANDLE handle = nullptr;
        ASSERT_EQ(NWSMPutFirstName(&selection, 0, 16, 0, nullptr, nullptr, const_cast<char *>("/x"), &handle), 0u);
        EXPECT_EQ(NWSMTSSetRestoreOptions(connection, 1, 0, selection), 0u);
        std::free(selection); // the TSA keeps its own copy
        EXPECT_EQ(NWSMTSSetRestoreOptions(connection, 0, 1, nullptr), 0u);
    }
}

TEST_F(Login, TargetServicesMatchSimplePatterns)
{
    UINT32 connection = connect("srv1.Directory");
    auto list = [&](const char *pattern) {
        NWSM_NAME_LIST *services = nullptr;
        EXPECT_EQ(NWSMTSListTargetServices(connection, const_cast<char *>(pattern), &services), 0u);
        return names(services);
    };
    const std::vector<std::string> tree{"ACME_TREE"};
    EXPECT_EQ(list("*"), tree);
    EXPECT_EQ(list("acme*"), tree);
    EXPECT_EQ(list("*_TR?E"), tree);
    EXPECT_EQ(list("ACME_TREE"), tree);
    EXPECT_EQ(list(nullptr), tree);
    EXPECT_TRUE(list("ACME").empty());
    EXPECT_TRUE(list("?ACME_TREE").empty());
}

TEST_F(Login, SupportedNameTypesFollowTheUtf8Setting)
{
    for (bool utf8 : {true, false}) {
        useFullConfig("[Root]", utf8);
        UINT32 connection = loggedIn("srv1.Linux File System", "srv1");
        UINT32 types = 0;
        ASSERT_EQ(NWSMTSGetSupportedNameTypes(connection, &types), 0u);
        EXPECT_EQ(types, utf8 ? 0x3u : 0x1u);
    }
}

} // namespace
} // namespace smsemutest
