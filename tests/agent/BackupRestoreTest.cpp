// Backup and restore streams through the module on a real file-system TSA.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <map>

#include "Harness.h"
#include "KXSMSErr.h"
#include "Peek.h"

namespace {

namespace fs = harness::fs;

class Streams : public harness::FileSystemTsa {
protected:
    // Mode, size, modification time and content (or link target) of a tree.
    std::map<std::string, std::string> describe(const std::string &root) const
    {
        std::map<std::string, std::string> tree;
        for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
            struct stat info;
            lstat(it->path().c_str(), &info);
            std::string what = std::to_string(info.st_mode) + " " + std::to_string(info.st_size);
            if (!S_ISDIR(info.st_mode))
                what += " " + std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
            else
                what += " " + std::to_string(info.st_mtim.tv_sec);
            if (S_ISREG(info.st_mode))
                what += " " + testsupport::readFile(it->path());
            else if (S_ISLNK(info.st_mode))
                what += " -> " + fs::read_symlink(it->path()).string();
            tree[fs::relative(it->path(), root).string()] = what;
        }
        return tree;
    }
};

TEST_F(Streams, VariedTreeRoundTrip)
{
    file("/src/empty");
    file("/src/one", "1");
    for (size_t size : {65535u, 65536u, 65537u, 3u << 20})
        file("/src/size" + std::to_string(size), std::string(size, static_cast<char>('a' + size % 26)));
    file("/src/deep/a/b/c/d/e/f.txt", "deep");
    file("/src/with space/ünïcödé ✓.txt", "utf8");
    folder("/src/emptydir");
    fs::create_symlink("one", real("/src/link"));
    chmod(real("/src/one").c_str(), 0640);
    const int fd = open(real("/src/sparse").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_EQ(ftruncate(fd, 64 << 20), 0);
    ASSERT_EQ(pwrite(fd, "x", 1, 32 << 20), 1);
    close(fd);
    for (auto it = fs::recursive_directory_iterator(real("/src")); it != fs::recursive_directory_iterator(); ++it)
        testsupport::setFileTimes(it->path(), 1600000000, 123456789);

    object->SetScanTraverse(true);
    const auto entries = scanAll("/src");
    ASSERT_GT(entries.size(), 10u);
    std::vector<std::pair<std::string, std::string>> streams;
    for (const auto &entry : entries) {
        std::string stream;
        ASSERT_EQ(backup(entry.name, stream), 0u) << entry.name;
        streams.emplace_back(entry.name, stream);
    }
    expectNothingOpen();
    for (const auto &[name, stream] : streams) {
        const std::string target = "/dst" + name.substr(4);
        ASSERT_EQ(restore(target, stream), 0u) << target;
    }
    expectNothingOpen();
    object->Disconnect(); // directory times are applied at release
    EXPECT_EQ(describe(real("/src")), describe(real("/dst")));
    struct stat info;
    ASSERT_EQ(stat(real("/dst/sparse").c_str(), &info), 0);
    EXPECT_LT(info.st_blocks * 512, 1 << 20) << "restored sparse file is not sparse";
}

TEST_F(Streams, StreamNameIsUsedWithoutANewName)
{
    file("/f.txt", "original");
    std::string stream;
    ASSERT_EQ(backup("/f.txt", stream), 0u);
    file("/f.txt", "changed!");
    ASSERT_EQ(restore("/f.txt", stream, false), 0u);
    EXPECT_EQ(testsupport::readFile(real("/f.txt")), "original");
}

TEST_F(Streams, EndOfDataOnAnExactMultipleOfTheBuffer)
{
    file("/f", std::string(1000, 'z'));
    std::string stream;
    ASSERT_EQ(backup("/f", stream), 0u);
    const unsigned length = static_cast<unsigned>(stream.size());
    ASSERT_LE(length, 65536u);

    unsigned sequence = 0;
    char path[] = "/f";
    ASSERT_EQ(object->BeginBackup(path, &sequence, nullptr, nullptr, nullptr, nullptr, nullptr, false), 0u);
    std::vector<unsigned char> block(length);
    unsigned got = 0;
    bool end = true;
    ASSERT_EQ(object->Backup(&sequence, block.data(), length, &got, &end), 0u);
    EXPECT_EQ(got, length);
    EXPECT_FALSE(end);
    ASSERT_EQ(object->Backup(&sequence, block.data(), length, &got, &end), 0u);
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(end);
    EXPECT_EQ(sequence, 0u);
    // nothing open any more
    EXPECT_EQ(object->Backup(&sequence, block.data(), length, &got, &end), KXSMS_ERR_BAD_ARGUMENTS);
    expectNothingOpen();
}

TEST_F(Streams, ShortDataSetEndsInOneBlockAndIsClosed)
{
    file("/f", "tiny");
    unsigned sequence = 0;
    char path[] = "/f";
    bool parent = true;
    long created = 0, modified = 0;
    unsigned long long size = 0;
    unsigned nameSpace = 99;
    ASSERT_EQ(object->BeginBackup(path, &sequence, &parent, &created, &modified, &size, &nameSpace, false), 0u);
    EXPECT_FALSE(parent);
    EXPECT_EQ(size, 4u);
    EXPECT_NE(nameSpace, 99u);
    EXPECT_STREQ(Peek::dataSetName(object), "/f");
    std::vector<unsigned char> block(65536);
    unsigned got = 0;
    bool end = false;
    ASSERT_EQ(object->Backup(&sequence, block.data(), 65536, &got, &end), 0u);
    EXPECT_GT(got, 4u);
    EXPECT_TRUE(end);
    EXPECT_EQ(sequence, 0u);
    EXPECT_EQ(Peek::dataSetHandle(object), 0u);
    expectNothingOpen();
}

TEST_F(Streams, BlockSizeBounds)
{
    file("/f", "x");
    unsigned sequence = 0;
    char path[] = "/f";
    ASSERT_EQ(object->BeginBackup(path, &sequence, nullptr, nullptr, nullptr, nullptr, nullptr, false), 0u);
    std::vector<unsigned char> block(65537);
    unsigned got = 0;
    bool end = false;
    EXPECT_EQ(object->Backup(&sequence, block.data(), 65537, &got, &end), KXSMS_ERR_BAD_ARGUMENTS);
    // A read of nothing could not mark the end of the data set: refused.
    EXPECT_EQ(object->Backup(&sequence, block.data(), 0, &got, &end), KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_EQ(object->Backup(&sequence, block.data(), 65536, nullptr, &end), KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_EQ(object->Backup(&sequence, block.data(), 65536, &got, nullptr), KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_EQ(object->Backup(&sequence, block.data(), 65536, &got, &end), 0u);
    EXPECT_TRUE(end);
    EXPECT_EQ(countCalls("NWSMTSReadDataSet"), 1u);
}

TEST_F(Streams, ArchiveStatusIsClearedOncePerCompletedDataSet)
{
    file("/a", std::string(200000, 'a'));
    file("/b", "b");
    std::string stream;
    ASSERT_EQ(backup("/a", stream, 4096), 0u);
    EXPECT_EQ(countCalls("NWSMTSSetArchiveStatus"), 0u);

    object->SetClearArchiveBitFlag(true);
    clearTrace();
    ASSERT_EQ(backup("/a", stream, 4096), 0u);
    ASSERT_EQ(backup("/b", stream), 0u);
    const auto calls = traceCalls();
    EXPECT_EQ(countCalls("NWSMTSSetArchiveStatus"), 2u);
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i] != "NWSMTSSetArchiveStatus")
            continue;
        EXPECT_EQ(calls[i - 1], "NWSMTSReadDataSet");
        EXPECT_EQ(calls[i + 1], "NWSMTSCloseDataSet");
    }

    // A failed read keeps the archive status.
    useFaults("NWSMTSReadDataSet@2=0xFFFDFFC6");
    file("/a", std::string(200000, 'c'));
    EXPECT_EQ(backup("/a", stream, 4096), KXSMS_ERR_BACKUP_FAILED);
    EXPECT_EQ(countCalls("NWSMTSSetArchiveStatus"), 2u);
}

TEST_F(Streams, ReadFailureClosesAndReportsTheDataSet)
{
    file("/f", std::string(100000, 'f'));
    useFaults("NWSMTSReadDataSet@2=0xFFFDFFC6");
    std::string stream;
    EXPECT_EQ(backup("/f", stream, 4096), KXSMS_ERR_BACKUP_FAILED);
    EXPECT_TRUE(logged("Read data set failed for /f, (fffdffc6) Error reading the file.", "ERROR"));
    EXPECT_TRUE(logged("Failed to backup data set /f, Failed to backup data.", "ERROR"));
    EXPECT_EQ(Peek::dataSetHandle(object), 0u);
    expectNothingOpen();
}

TEST_F(Streams, OpenFailureEndsTheScanOfBeginBackupOnly)
{
    file("/f", "x");
    useFaults("NWSMTSOpenDataSetForBackup@*=0xFFFDFFF5");
    std::string stream;
    EXPECT_EQ(backup("/f", stream), KXSMS_ERR_DATA_IN_USE);
    EXPECT_TRUE(logged("Open data set failed for /f, (fffdfff5) Data set is currently in use.", "ERROR"));
    expectNothingOpen();

    unsigned sequence = 0;
    bool end = false;
    char root[] = "/";
    char name[64];
    ASSERT_EQ(object->Scan(root, &sequence, name, sizeof name, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, &end),
              0u);
    EXPECT_EQ(object->BeginBackupNoScan(name, &sequence, false), KXSMS_ERR_DATA_IN_USE);
    EXPECT_NE(sequence, 0u); // the host's scan goes on
    EXPECT_EQ(smsemuOpenScans(), 1);
    object->AbortScan(&sequence);
}

TEST_F(Streams, BackupWithinAScanAndAbort)
{
    file("/a", std::string(100000, 'a'));
    file("/b", "b");
    unsigned sequence = 0;
    bool end = false;
    char root[] = "/";
    char name[64];
    ASSERT_EQ(object->Scan(root, &sequence, name, sizeof name, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, &end),
              0u);
    ASSERT_STREQ(name, "/a");
    ASSERT_EQ(object->BeginBackupNoScan(name, &sequence, true), 0u);
    EXPECT_TRUE(Peek::backupNoScan(object));
    const unsigned scanSequence = sequence;
    object->AbortBackup(&sequence);
    EXPECT_EQ(sequence, scanSequence);
    EXPECT_EQ(smsemuOpenDataSets(), 0);
    ASSERT_EQ(object->Scan(root, &sequence, name, sizeof name, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, &end),
              0u);
    EXPECT_STREQ(name, "/b");
    object->AbortScan(&sequence);

    char path[] = "/a";
    ASSERT_EQ(object->BeginBackup(path, &sequence, nullptr, nullptr, nullptr, nullptr, nullptr, true), 0u);
    object->AbortBackup(&sequence);
    EXPECT_EQ(sequence, 0u);
    object->AbortBackup(&sequence); // nothing open: no effect
    expectNothingOpen();
    bool openFlagSeen = false;
    for (const std::string &line : traceLines())
        openFlagSeen |= line.rfind("NWSMTSOpenDataSetForBackup(", 0) == 0 && line.find("0x30000") != std::string::npos;
    EXPECT_TRUE(openFlagSeen);
}

TEST_F(Streams, BeginBackupEndsAScanItsSequenceStillNames)
{
    file("/a", "a");
    file("/b", "b");
    unsigned sequence = 0;
    bool end = false;
    char root[] = "/";
    ASSERT_EQ(object->Scan(root, &sequence, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, &end),
              0u);
    ASSERT_EQ(smsemuOpenScans(), 1);
    char path[] = "/b";
    ASSERT_EQ(object->BeginBackup(path, &sequence, nullptr, nullptr, nullptr, nullptr, nullptr, false), 0u);
    EXPECT_EQ(smsemuOpenScans(), 1);
    object->AbortBackup(&sequence);
    expectNothingOpen();
}

std::string modeOf(const std::string &line)
{
    // NWSMTSOpenDataSetForRestore(connection, parent, list, mode, handle)
    size_t at = 0;
    for (int comma = 0; comma < 3; ++comma)
        at = line.find(", ", at) + 2;
    return line.substr(at, line.find(',', at) - at);
}

struct ModeCase {
    bool overwrite;
    int trustees;
    bool dataOnly;
    const char *mode;
};

class RestoreModes : public Streams, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(RestoreModes, ComposeTheOpenMode)
{
    const ModeCase &c = GetParam();
    useFaults("NWSMTSOpenDataSetForRestore@*=0xFFFDFFCC");
    char name[] = "/x";
    EXPECT_EQ(object->BeginRestore(name, 2, c.overwrite, static_cast<KXSMS_TRUSTEE_OPTION>(c.trustees), false,
                                   c.dataOnly, true),
              KXSMS_ERR_OPEN_FAILED);
    std::string line;
    for (const std::string &l : traceLines())
        if (l.rfind("NWSMTSOpenDataSetForRestore(", 0) == 0)
            line = l;
    EXPECT_EQ(modeOf(line), c.mode) << line;
    EXPECT_TRUE(logged("Open data set failed for /x, (fffdffcc) Open file error.", "ERROR"));
    EXPECT_EQ(Peek::dataSetHandle(object), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, RestoreModes,
                         ::testing::Values(ModeCase{true, 1, true, "0x1"}, ModeCase{false, 2, true, "0xc04"},
                                           ModeCase{true, 3, false, "0x3101"}, ModeCase{false, 3, false, "0x3105"},
                                           ModeCase{true, 1, false, "0x3001"}, ModeCase{false, 0, true, "0x4"},
                                           // options without a meaning add nothing
                                           ModeCase{true, 4, false, "0x3001"}, ModeCase{false, -1, true, "0x4"},
                                           ModeCase{true, INT_MAX, true, "0x1"}));

TEST_F(Streams, RootResourceKeepsTheHostsOptions)
{
    useFaults("NWSMTSOpenDataSetForRestore@*=0xFFFDFFCC");
    char root[] = "/";
    object->BeginRestore(root, 2, false, KXSMS_TRUSTEE_ACCESS, false, false, true);
    std::string line;
    for (const std::string &l : traceLines())
        if (l.rfind("NWSMTSOpenDataSetForRestore(", 0) == 0)
            line = l;
    EXPECT_EQ(modeOf(line), "0x3c04");
}

TEST_F(Streams, RestoreBlockBoundsAndIdleCalls)
{
    std::vector<unsigned char> block(65537, 0);
    EXPECT_EQ(object->Restore(block.data(), 10), KXSMS_ERR_BAD_ARGUMENTS); // nothing open
    EXPECT_EQ(object->EndRestore(), 0u);
    EXPECT_TRUE(traceCalls().empty());
    char name[] = "/r";
    ASSERT_EQ(object->BeginRestore(name, 2, true, KXSMS_TRUSTEE_DEFAULT, false, false, true), 0u);
    EXPECT_EQ(object->Restore(block.data(), 65537), KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_EQ(object->Restore(nullptr, 1), KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_EQ(countCalls("NWSMTSWriteDataSet"), 0u);
    EXPECT_EQ(object->Restore(block.data(), 0), 0u);
    EXPECT_EQ(countCalls("NWSMTSWriteDataSet"), 1u);
    EXPECT_EQ(object->EndRestore(), KXSMS_ERR_DATA_CORRUPT); // no stream was written: nothing restored
    EXPECT_FALSE(fs::exists(real("/r")));
    EXPECT_EQ(object->BeginRestore(nullptr, 2, true, KXSMS_TRUSTEE_DEFAULT, false, false, true),
              KXSMS_ERR_BAD_ARGUMENTS);
    char empty[] = "";
    EXPECT_EQ(object->BeginRestore(empty, 2, true, KXSMS_TRUSTEE_DEFAULT, false, false, true), KXSMS_ERR_BAD_ARGUMENTS);
    expectNothingOpen();
}

TEST_F(Streams, FailedCloseLeavesTheObjectIdle)
{
    file("/f", "data");
    std::string stream;
    ASSERT_EQ(backup("/f", stream), 0u);
    useFaults("NWSMTSCloseDataSet@1=0xFFFDFFB6");
    char name[] = "/g";
    ASSERT_EQ(object->BeginRestore(name, 2, true, KXSMS_TRUSTEE_DEFAULT, false, false, true), 0u);
    ASSERT_EQ(object->Restore(reinterpret_cast<unsigned char *>(stream.data()), stream.size()), 0u);
    EXPECT_EQ(object->EndRestore(), KXSMS_ERR_RESTORE_FAILED);
    EXPECT_TRUE(logged("Close data set failed for /g, (fffdffb6) Unable to write to file.", "ERROR"));
    EXPECT_TRUE(logged("Failed to restore data set /g, Failed to restore data.", "ERROR"));
    clearTrace();
    EXPECT_EQ(object->EndRestore(), 0u);
    EXPECT_TRUE(traceCalls().empty());
}

TEST_F(Streams, BrokenStreamsLeaveTheTargetUntouched)
{
    file("/f", std::string(300000, 'o'));
    std::string stream;
    ASSERT_EQ(backup("/f", stream), 0u);
    file("/target", "keep me");

    // Truncated: the trailer never comes.
    EXPECT_EQ(restore("/target", stream.substr(0, stream.size() / 2)), KXSMS_ERR_DATA_CORRUPT);
    EXPECT_EQ(testsupport::readFile(real("/target")), "keep me");
    // A flipped data byte fails the checksum.
    std::string flipped = stream;
    flipped[flipped.size() / 2] ^= 0x40;
    EXPECT_EQ(restore("/target", flipped), KXSMS_ERR_DATA_CORRUPT);
    EXPECT_EQ(testsupport::readFile(real("/target")), "keep me");
    // Garbage instead of a header.
    EXPECT_EQ(restore("/target", std::string(100, '\x7f')), KXSMS_ERR_DATA_CORRUPT);
    EXPECT_EQ(testsupport::readFile(real("/target")), "keep me");
    // Nothing temporary is left behind.
    size_t entries = 0;
    for ([[maybe_unused]] auto &entry : fs::directory_iterator(data()))
        ++entries;
    EXPECT_EQ(entries, 2u);
    expectNothingOpen();
}

TEST_F(Streams, NamesThatLeaveTheResourceAreRefused)
{
    file("/f", "x");
    std::string stream;
    ASSERT_EQ(backup("/f", stream), 0u);
    fs::create_directories(dir / "outside");
    fs::create_symlink(dir / "outside", real("/escape"));
    folder("/d/e");
    fs::create_symlink(dir / "outside", real("/d/e/deeper"));
    for (const char *name :
         {"/../outside/x", "/a/../../outside/y", "/escape/z", "/escape/new/z", "/d/e/deeper/z", "/d/e/deeper/new/z"}) {
        EXPECT_EQ(restore(name, stream), KXSMS_ERR_INVALID_SMS_PATH) << name;
    }
    EXPECT_TRUE(fs::is_empty(dir / "outside"));
    expectNothingOpen();
}

TEST_F(Streams, KeepNewerRefusesToReplaceANewerDataSet)
{
    file("/f", "old");
    testsupport::setFileTimes(real("/f"), 1500000000);
    std::string stream;
    ASSERT_EQ(backup("/f", stream), 0u);
    file("/f", "newer on disk");
    EXPECT_EQ(restore("/f", stream, true, false), KXSMS_ERR_NOT_NEWER);
    EXPECT_EQ(testsupport::readFile(real("/f")), "newer on disk");
    EXPECT_EQ(restore("/f", stream, true, true), 0u);
    EXPECT_EQ(testsupport::readFile(real("/f")), "old");
}

} // namespace
