// Scans on a real file-system TSA: skip rules, traversal, ends, the
// one-data-set queries and what each failure leaves behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "Harness.h"
#include "KXSMSErr.h"
#include "Peek.h"

namespace {

class Scans : public harness::FileSystemTsa {
protected:
    void SetUp() override
    {
        FileSystemTsa::SetUp();
        folder("/d/empty");
        file("/d/a.txt", "alpha");
        file("/d/sub/b.txt", std::string(5000, 'b'));
        file("/top.txt", "t");
    }
};

TEST_F(Scans, OneLevelScanReturnsTheChildrenNotTheStart)
{
    const auto entries = scanAll("/d");
    EXPECT_EQ(namesOf(entries), (std::vector<std::string>{"/d/a.txt", "/d/empty", "/d/sub"}));
    EXPECT_EQ(entries[0].child, "a.txt");
    EXPECT_FALSE(entries[0].parent);
    EXPECT_EQ(entries[0].size, 5u);
    EXPECT_TRUE(entries[1].parent);
    EXPECT_TRUE(entries[2].parent);
    expectNothingOpen();
}

TEST_F(Scans, TraversingScanStartsWithTheStartItselfParentsFirst)
{
    object->SetScanTraverse(true);
    EXPECT_EQ(namesOf(scanAll("/d")),
              (std::vector<std::string>{"/d", "/d/a.txt", "/d/empty", "/d/sub", "/d/sub/b.txt"}));
}

TEST_F(Scans, RootScanOfTheFileSystemSkipsTheRoot)
{
    EXPECT_EQ(namesOf(scanAll(nullptr)), (std::vector<std::string>{"/d", "/top.txt"}));
    EXPECT_EQ(namesOf(scanAll("")), (std::vector<std::string>{"/d", "/top.txt"}));
    object->SetScanTraverse(true);
    EXPECT_EQ(scanAll(nullptr).front().name, "/");
}

TEST_F(Scans, EmptyDirectoryEndsAtOnceAndAnEndedScanBeginsAgain)
{
    unsigned sequence = 0;
    bool end = false;
    char path[] = "/d/empty";
    EXPECT_EQ(object->Scan(path, &sequence, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, &end),
              0u);
    EXPECT_TRUE(end);
    EXPECT_EQ(sequence, 0u);
    EXPECT_EQ(Peek::scanInformation(object), nullptr);
    EXPECT_EQ(scanAll("/d").size(), 3u); // sequence 0 again: a new scan
    expectNothingOpen();
}

TEST_F(Scans, ArgumentsAndConnection)
{
    unsigned sequence = 0;
    bool end = false;
    char path[] = "/d";
    EXPECT_EQ(
        object->Scan(path, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &end),
        KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_EQ(object->Scan(path, &sequence, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr),
              KXSMS_ERR_BAD_ARGUMENTS);
    object->Disconnect();
    EXPECT_EQ(object->Scan(path, &sequence, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, &end),
              KXSMS_ERR_NO_CONNECTION);
    EXPECT_EQ(object->BeginScan(path, &sequence, KXSMS_ACTION_SCAN), KXSMS_ERR_BAD_ARGUMENTS);
}

TEST_F(Scans, MissingStartIsReportedAsNotFound)
{
    unsigned code = 0;
    EXPECT_TRUE(scanAll("/nope", &code).empty());
    EXPECT_EQ(code, KXSMS_ERR_DATA_NOT_FOUND);
    EXPECT_TRUE(logged("/nope does not exist.", "ERROR"));
    expectNothingOpen();
}

TEST_F(Scans, FailingStepEndsTheScan)
{
    useFaults("NWSMTSScanNextDataSet@2=0xFFFDFFC3");
    unsigned code = 0;
    EXPECT_EQ(scanAll("/d", &code).size(), 1u);
    EXPECT_EQ(code, KXSMS_ERR_SCAN_FAILED);
    EXPECT_TRUE(logged("Failed scan next data set, Unable to scan file entry.", "ERROR"));
    EXPECT_EQ(Peek::scanInformation(object), nullptr);
}

TEST_F(Scans, FailingDescriptionEndsTheScan)
{
    useFaults("NWSMGetDataSetName@*=0xFFFDFFD0,NWSMGetOneName@*=0xFFFDFFD0");
    unsigned sequence = 0;
    bool end = false;
    char path[] = "/d";
    EXPECT_EQ(object->Scan(path, &sequence, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, &end),
              KXSMS_ERR_SCAN_FAILED);
    EXPECT_EQ(sequence, 0u);
    EXPECT_TRUE(logged("Get data set name failed, No more names.", "ERROR"));
    expectNothingOpen();
}

TEST_F(Scans, ChildNameThatDoesNotFitEndsTheScan)
{
    unsigned sequence = 0;
    bool end = false;
    char path[] = "/d";
    char child[5];
    EXPECT_EQ(object->Scan(path, &sequence, nullptr, 0, child, sizeof child, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, &end),
              KXSMS_ERR_SCAN_FAILED);
    EXPECT_TRUE(logged("Buffer too small (3) for a.txt.", "ERROR"));
    expectNothingOpen();
}

TEST_F(Scans, NameThatDoesNotFitIsAFailureNotAStaleName)
{
    unsigned sequence = 0;
    bool end = true;
    char path[] = "/d";
    char name[8] = "stale";
    EXPECT_EQ(object->Scan(path, &sequence, name, sizeof name, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, &end),
              KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_STREQ(name, "stale");
    EXPECT_TRUE(logged("Buffer too small for the name of /d/a.txt.", "ERROR"));
    // KXSMS_ERR_BAD_ARGUMENTS is fatal: a host that stops here must strand no SMS scan.
    EXPECT_TRUE(object->IsFatalError(KXSMS_ERR_BAD_ARGUMENTS));
    EXPECT_EQ(sequence, 0u);
    EXPECT_TRUE(end); // not written, as after a failed description
    EXPECT_EQ(Peek::scanInformation(object), nullptr);
    EXPECT_EQ(countCalls("NWSMTSScanDataSetEnd"), 1u);
    expectNothingOpen();

    // The next call with the ended sequence begins a new scan.
    char roomy[64];
    EXPECT_EQ(object->Scan(path, &sequence, roomy, sizeof roomy, nullptr, 0, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, &end),
              0u);
    EXPECT_STREQ(roomy, "/d/a.txt");
    object->AbortScan(&sequence);
}

TEST_F(Scans, OneDataSetNameThatDoesNotFitIsLogged)
{
    char path[] = "/d/a.txt";
    char name[8] = "stale";
    EXPECT_EQ(object->ScanDataSetInfo(path, name, sizeof name, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr),
              KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_STREQ(name, "stale");
    EXPECT_TRUE(logged("Buffer too small for the name of /d/a.txt.", "ERROR"));
    expectNothingOpen();
}

// Without an output, IsDataSetParent is an existence probe with the scan's own
// code; only where it would write (the top of the tree) is a null refused.
TEST_F(Scans, IsDataSetParentWithoutAnOutput)
{
    struct Probe {
        const char *path;
        unsigned code;
    };
    for (const Probe &p : {Probe{"/d/sub", 0u}, Probe{"/d/a.txt", 0u}, Probe{"/d/none", KXSMS_ERR_DATA_NOT_FOUND}}) {
        std::string path = p.path;
        EXPECT_EQ(object->IsDataSetParent(path.data(), nullptr), p.code) << p.path;
    }
    expectNothingOpen();
    clearTrace();
    char empty[] = "";
    EXPECT_EQ(object->IsDataSetParent(empty, nullptr), KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_EQ(object->IsDataSetParent(nullptr, nullptr), KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_TRUE(traceCalls().empty());
}

// The stand-in never reports a name over 1023 characters; a TSA that does is
// played by a name list made here, as the SMS library lays it out.
TEST_F(Scans, NameLongerThanTheWorkBufferIsRefusedWithItsFirstCharacters)
{
    std::string name = "/long";
    for (char c : {'a', 'b', 'c', 'd'})
        name += "/" + std::string(250, c); // 1009 characters
    name += "/" + std::string(100, 'e');
    const size_t entrySize = (sizeof(NWSM_NAME_ENTRY) + name.size() + 1 + 7) / 8 * 8;
    const size_t listSize = sizeof(NWSM_DATA_SET_NAME_LIST) + entrySize;
    std::vector<unsigned long long> block((listSize + 7) / 8, 0);
    auto *list = reinterpret_cast<NWSM_DATA_SET_NAME_LIST *>(block.data());
    list->bufferSize = list->usedSize = static_cast<UINT32>(listSize);
    list->nameCount = 1;
    auto *entry = reinterpret_cast<NWSM_NAME_ENTRY *>(list + 1);
    entry->entrySize = static_cast<UINT32>(entrySize);
    entry->nameSpaceType = 0xFFFFFFFEu;
    entry->nameLength = static_cast<UINT16>(name.size());
    memcpy(entry->name, name.c_str(), name.size() + 1);
    NWSM_SCAN_INFORMATION info;
    memset(&info, 0, sizeof info);
    Peek::dataSetNames(object) = list;
    Peek::scanInformation(object) = &info;

    char work[1024] = "untouched";
    bool isParent = false;
    EXPECT_EQ(object->GetDataSetInfo(work, sizeof work, nullptr, 0, &isParent, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr),
              KXSMS_ERR_BAD_ARGUMENTS);
    Peek::dataSetNames(object) = nullptr;
    Peek::scanInformation(object) = nullptr;
    EXPECT_STREQ(work, "untouched");
    EXPECT_TRUE(logged("Data set name too long, " + name.substr(0, 200) + "...", "ERROR"));
}

TEST_F(Scans, AbortScanWithoutScanOrConnectionDoesNothing)
{
    unsigned sequence = 0;
    object->AbortScan(&sequence);
    object->AbortScan(nullptr);
    EXPECT_TRUE(traceCalls().empty());
    sequence = 7;
    object->Disconnect();
    object->AbortScan(&sequence);
    EXPECT_EQ(sequence, 7u);
}

TEST_F(Scans, FailingScanEndStillClearsThePosition)
{
    useFaults("NWSMTSScanDataSetEnd@*=0xFFFDFFD8");
    unsigned sequence = 0;
    bool end = false;
    char path[] = "/d";
    ASSERT_EQ(object->Scan(path, &sequence, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, &end),
              0u);
    object->AbortScan(&sequence);
    EXPECT_EQ(sequence, 0u);
    EXPECT_EQ(Peek::scanInformation(object), nullptr);
    EXPECT_EQ(Peek::dataSetNames(object), nullptr);
}

TEST_F(Scans, OneDataSetQueriesLeaveNoScanPosition)
{
    char path[] = "/d/a.txt";
    char name[64], child[64];
    bool parent = true, archive = false;
    long modified = 0, accessed = 0;
    unsigned long long size = 0;
    ASSERT_EQ(object->ScanDataSetInfo(path, name, sizeof name, child, sizeof child, &parent, &archive, &modified,
                                      &accessed, &size),
              0u);
    EXPECT_STREQ(name, "/d/a.txt");
    EXPECT_STREQ(child, "a.txt");
    EXPECT_FALSE(parent);
    EXPECT_TRUE(archive);
    EXPECT_EQ(size, 5u);
    struct stat info;
    ASSERT_EQ(stat(real("/d/a.txt").c_str(), &info), 0);
    EXPECT_EQ(modified, info.st_mtime - info.st_mtime % 2);
    EXPECT_GE(accessed, modified);
    EXPECT_EQ(Peek::scanInformation(object), nullptr);
    expectNothingOpen();

    bool isParent = false;
    char folderPath[] = "/d/sub";
    EXPECT_EQ(object->IsDataSetParent(folderPath, &isParent), 0u);
    EXPECT_TRUE(isParent);
    clearTrace();
    char empty[] = "";
    EXPECT_EQ(object->IsDataSetParent(empty, &isParent), 0u);
    EXPECT_EQ(object->IsDataSetParent(nullptr, &isParent), 0u);
    EXPECT_TRUE(isParent);
    EXPECT_TRUE(traceCalls().empty());
    char missing[] = "/d/none";
    EXPECT_EQ(object->IsDataSetParent(missing, &isParent), KXSMS_ERR_DATA_NOT_FOUND);
    EXPECT_EQ(object->ScanDataSetInfo(nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr),
              KXSMS_ERR_BAD_ARGUMENTS);
}

TEST_F(Scans, ModifiedTimeRangeAppliesToFilesOnly)
{
    const long old = 1500000000, recent = 1700000000;
    for (auto [name, when] : {std::pair{"/d/a.txt", old}, std::pair{"/d/sub/b.txt", recent}})
        testsupport::setFileTimes(real(name), when);
    object->SetScanTraverse(true);
    object->SetScanModifiedDateTimeRange(1600000000, 0);
    EXPECT_EQ(namesOf(scanAll("/d")), (std::vector<std::string>{"/d", "/d/empty", "/d/sub", "/d/sub/b.txt"}));
    object->SetScanModifiedDateTimeRange(0, 1600000000);
    EXPECT_EQ(namesOf(scanAll("/d")), (std::vector<std::string>{"/d", "/d/a.txt", "/d/empty", "/d/sub"}));
}

TEST_F(Scans, ArchiveFlagFollowsBackupAndChange)
{
    auto archiveOf = [&](const char *name) {
        char path[256];
        strcpy(path, name);
        bool archive = false;
        EXPECT_EQ(object->ScanDataSetInfo(path, nullptr, 0, nullptr, 0, nullptr, &archive, nullptr, nullptr, nullptr),
                  0u);
        return archive;
    };
    EXPECT_TRUE(archiveOf("/d/a.txt"));
    object->SetClearArchiveBitFlag(true);
    std::string stream;
    ASSERT_EQ(backup("/d/a.txt", stream), 0u);
    EXPECT_FALSE(archiveOf("/d/a.txt"));
    file("/d/a.txt", "changed");
    EXPECT_TRUE(archiveOf("/d/a.txt"));
}

TEST_F(Scans, SparseFileOfFiveGibibytesReportsItsSize)
{
    const int fd = open(real("/big.sparse").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 5LL << 30), 0);
    ASSERT_EQ(pwrite(fd, "end", 3, (5LL << 30) - 3), 3);
    close(fd);
    char path[] = "/big.sparse";
    unsigned long long size = 0;
    ASSERT_EQ(object->ScanDataSetInfo(path, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, &size), 0u);
    EXPECT_EQ(size, 5ULL << 30);
}

} // namespace

namespace {

// File systems that keep no birth time report the epoch: the modification
// time must not then be raised to the scan start time.
TEST(ScanTimes, MissingBirthTimeKeepsTheModificationTime)
{
    testsupport::TempDir dir;
    setenv("KXLIB_LOG", (dir / "log").c_str(), 1);
    unsetenv("SMSEMU_CONFIG"); // the default: "/" over this machine's root
    smsemuReset();
    const char *candidates[] = {"/usr/include/stdio.h", "/etc/hostname", "/usr/bin/env", "/bin/sh"};
    std::string chosen;
    struct statx info;
    for (const char *path : candidates) {
        if (statx(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &info) == 0 &&
            (!(info.stx_mask & STATX_BTIME) || info.stx_btime.tv_sec < 315532800)) {
            chosen = path;
            break;
        }
    }
    if (chosen.empty())
        GTEST_SKIP() << "no file here without a birth time";

    CKXSMS *object = CreateKXSMS();
    KXPassword password("");
    std::string user = testsupport::currentUserName();
    ASSERT_EQ(object->Connect(KXSMS_TSA_FILE_SYSTEM, user.data(), &password), 0u);
    object->SetScanStartTime(time(nullptr));
    long modified = 0;
    ASSERT_EQ(
        object->ScanDataSetInfo(chosen.data(), nullptr, 0, nullptr, 0, nullptr, nullptr, &modified, nullptr, nullptr),
        0u);
    EXPECT_EQ(modified, info.stx_mtime.tv_sec - info.stx_mtime.tv_sec % 2) << chosen;
    DestroyKXSMS(object);
    unsetenv("KXLIB_LOG");
}

} // namespace
