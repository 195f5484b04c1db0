// Durable writes: backup makes the archive durable (fsync of the file and its
// folder) before the connection is logged out and the state store commits
// the cleared archive flags; a sync that fails fails the job and commits no
// clear; restore syncs each target file system as it goes and once at its end; --no-sync
// skips both. The order of calls is read from strace; failing syncs come
// from a preloaded library (FailingSync.c).
#include <gtest/gtest.h>

#include "Preload.h"
#include "commands/KxsmsProgram.h"

#include <set>
#include <sstream>

namespace {

using namespace kxsms_test;

class DurableWrite : public KxsmsProgram {
protected:
    // Data sets below /tree whose archive flag is set.
    std::set<std::string> flagged()
    {
        return flaggedBelow("/tree");
    }

    // Runs kxsms under strace, the calls that sync or write into `trace`;
    // false when strace cannot run here.
    bool traced(const std::vector<std::string> &arguments, Result &result)
    {
        if (sh("strace -f -o /dev/null true").status != 0)
            return false;
        // The leak check of a sanitizer build does not work under ptrace.
        result = sh(kxsmsLine(arguments, "ASAN_OPTIONS=detect_leaks=0 strace -f -y -o trace -e "
                                         "trace=fsync,fdatasync,syncfs,sync,write,pwrite64 "));
        return true;
    }

    // A write to the state store's database or its log (not to the shared
    // memory index, which commits nothing).
    static bool storeWrite(const std::string &line)
    {
        return line.find("archive.sqlite") != std::string::npos && line.find("-shm>") == std::string::npos;
    }

    std::vector<std::string> traceLines()
    {
        std::vector<std::string> lines;
        std::istringstream in(readFile(dir_ / "trace"));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
};

// The archive's fsync and its folder's come before any write of the state
// store, which commits the clears; with two paths, the clears of the first
// (committed when the second's scan begins) wait for a sync too.
TEST_F(DurableWrite, ArchiveIsDurableBeforeTheStoreCommitsClears)
{
    writeFile(data_ / "other/x.txt", "x\n");
    // The store exists already: its writes below are commits of clears.
    ASSERT_EQ(kxsms({"backup", "/tree", "/other", "--clear-archive", "-f", "full.kxa"}).status, 0);
    writeFile(data_ / "tree/a.txt", "changed\n");
    writeFile(data_ / "other/x.txt", "changed\n");
    Result r;
    if (!traced({"backup", "/tree", "/other", "--incremental", "--clear-archive", "-f", "a.kxa"}, r))
        GTEST_SKIP() << "strace cannot trace here";
    ASSERT_EQ(r.status, 0) << context(r);
    const std::vector<std::string> lines = traceLines();
    const std::string folder = "<" + dir_.string() + ">";
    long archiveSync = -1, folderSync = -1, firstStoreWrite = -1, lastArchiveWrite = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        const bool sync = line.find("fsync(") != std::string::npos;
        if (sync && line.find("a.kxa>") != std::string::npos && archiveSync < 0)
            archiveSync = static_cast<long>(i);
        if (sync && line.find(folder) != std::string::npos && folderSync < 0)
            folderSync = static_cast<long>(i);
        if (!sync && storeWrite(line) && firstStoreWrite < 0)
            firstStoreWrite = static_cast<long>(i);
        if (!sync && line.find("a.kxa>") != std::string::npos)
            lastArchiveWrite = static_cast<long>(i);
    }
    ASSERT_GE(archiveSync, 0) << "no fsync of the archive";
    ASSERT_GE(folderSync, 0) << "no fsync of the archive's folder";
    ASSERT_GE(firstStoreWrite, 0) << "the store was not written";
    EXPECT_LT(archiveSync, firstStoreWrite);
    EXPECT_LT(folderSync, firstStoreWrite);
    // The last bytes of the archive are synced too, before the logout's commit.
    long lastSync = -1, lastStoreWrite = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find("fsync(") != std::string::npos && lines[i].find("a.kxa>") != std::string::npos)
            lastSync = static_cast<long>(i);
        if (lines[i].find("fsync(") == std::string::npos && storeWrite(lines[i]))
            lastStoreWrite = static_cast<long>(i);
    }
    EXPECT_GT(lastSync, lastArchiveWrite);
    EXPECT_LT(lastSync, lastStoreWrite);
    EXPECT_TRUE(flagged().empty());
}

// --no-sync: neither backup nor restore syncs; restore otherwise syncs its
// target's file system once, however many files it wrote.
TEST_F(DurableWrite, RestoreSyncsEachFileSystemOnceAndNoSyncSkipsBoth)
{
    Result r;
    if (!traced({"backup", "/tree", "--no-sync", "-f", "a.kxa"}, r))
        GTEST_SKIP() << "strace cannot trace here";
    ASSERT_EQ(r.status, 0) << context(r);
    EXPECT_EQ(readFile(dir_ / "trace").find("fsync("), std::string::npos);

    struct Case {
        std::vector<std::string> extra;
        int syncs;
    };
    for (const Case &c : {Case{{}, 1}, Case{{"--no-sync"}, 0}}) {
        std::vector<std::string> arguments = {"restore", "-f", "a.kxa", "--to", "/out"};
        arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
        ASSERT_TRUE(traced(arguments, r));
        ASSERT_EQ(r.status, 0) << context(r);
        int syncs = 0, fsyncs = 0;
        for (const std::string &line : traceLines()) {
            syncs += line.find("syncfs(") != std::string::npos;
            fsyncs += line.find("fsync(") != std::string::npos;
        }
        EXPECT_EQ(syncs, c.syncs);
        EXPECT_EQ(fsyncs, 0) << "no fsync per file";
        removeTree(data_ / "out");
    }
}

// A sync of the archive that fails (a failing disk, a full one) fails the job
// and leaves every archive flag set: the next incremental saves it all again.
TEST_F(DurableWrite, FailedSyncFailsTheJobAndClearsNoFlag)
{
    const std::string preload =
        "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" FAILING_SYNC_LIBRARY " KXSMS_TEST_SYNC_FAILS=a.kxa ";
    const std::set<std::string> before = flagged();
    ASSERT_FALSE(before.empty());
    struct Case {
        const char *error;
        const char *text;
    };
    for (const Case &c : {Case{"EIO", "Input/output error"}, Case{"ENOSPC", "No space left on device"}}) {
        for (const char *paths : {"/tree", "/tree /tree/sub"}) {
            const Result r = sh(std::string(preload) + "KXSMS_TEST_SYNC_ERRNO=" + c.error + " \"$KXSMS\" backup " +
                                paths + " --incremental --clear-archive -f a.kxa");
            EXPECT_EQ(r.status, 2) << context(r);
            EXPECT_NE(r.err.find("cannot make the archive durable"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
            EXPECT_EQ(flagged(), before) << c.error << " " << paths;
        }
    }
    // The same backup without the fault clears them.
    const Result r = kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "a.kxa"});
    ASSERT_EQ(r.status, 0) << context(r);
    EXPECT_TRUE(flagged().empty());
}

// A restore syncs in the background as it goes as well as at its end; a
// sync that fails, whichever it was, fails the job. The tree is larger than
// the step between background syncs, so the first sync may be either.
TEST_F(DurableWrite, FailedRestoreSyncFailsTheJobEarlyOrLate)
{
    writeFile(data_ / "tree/big.bin", std::string(40u << 20, 'x'));
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    for (const char *fault : {"syncfs@1=EIO", "syncfs@*=EIO"}) {
        for (const char *jobs : {"1", "4"}) {
            removeTree(data_ / "out");
            const Result r = sh(kxsmsLine({"restore", "-j", jobs, "-f", "a.kxa", "--to", "/out"},
                                          sysfaults::preloadAssignments(SYSFAULTS_LIBRARY) +
                                              " SYSFAULTS_PROGRAM=kxsms SYSFAULTS_PATHS=/ SYSFAULTS=" + fault + " "));
            EXPECT_EQ(r.status, 2) << fault << " -j " << jobs << context(r);
            EXPECT_NE(r.err.find("cannot make what was restored durable"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("Input/output error"), std::string::npos) << r.err;
        }
    }
}

// A backup to a file asks the disk to start writing its archive every few
// MiB, before the final fsync, so that the sync has only the rest to wait
// for; the answer to that request does not matter (a failing write-back is
// the final fsync's to report). --no-sync asks for nothing.
TEST_F(DurableWrite, BackupStartsWritingBackEarlyAndTheFinalSyncJudges)
{
    writeFile(data_ / "tree/big.bin", std::string(20u << 20, 'x'));
    struct Case {
        const char *fault; // of sync_file_range
        const char *extra;
        bool asked;
    };
    for (const Case &c : {Case{"", "", true}, Case{"sync_file_range@*=EIO", "", true},
                          Case{"sync_file_range@1=ENOSPC", "", true}, Case{"", "--no-sync", false}}) {
        std::filesystem::remove(dir_ / "calls");
        const Result r = sh(kxsmsLine({"backup", "/tree", "-f", "a.kxa", c.extra},
                                      sysfaults::preloadAssignments(SYSFAULTS_LIBRARY) +
                                          " SYSFAULTS_PROGRAM=kxsms SYSFAULTS_PATHS=" + dir_.string() +
                                          " SYSFAULTS_TRACE=calls SYSFAULTS=" +
                                          c.fault + " "));
        ASSERT_EQ(r.status, 0) << c.fault << c.extra << context(r);
        EXPECT_EQ(kxsms({"verify", "-f", "a.kxa"}).status, 0) << c.fault << c.extra;
        long asked = 0, firstAsk = -1, sync = -1;
        std::istringstream in(readFile(dir_ / "calls"));
        long number = 0;
        for (std::string line; std::getline(in, line); ++number) {
            if (line.rfind("sync_file_range ", 0) == 0) {
                ++asked;
                if (firstAsk < 0)
                    firstAsk = number;
            }
            if (line.rfind("fsync ", 0) == 0 && sync < 0)
                sync = number;
        }
        if (!c.asked) {
            EXPECT_EQ(asked, 0) << c.extra;
            continue;
        }
        // 20 MiB and more of archive: a request every 8 MiB.
        EXPECT_GE(asked, 2) << c.fault;
        EXPECT_GE(sync, 0) << c.fault << " no fsync of the archive";
        EXPECT_LT(firstAsk, sync) << c.fault;
    }
}

// To a pipe there is nothing to sync, and nothing is said.
TEST_F(DurableWrite, PipeNeedsNoSync)
{
    const Result r = sh(kxsmsLine({"backup", "/tree", "--clear-archive", "-f", "-"}) + " | cat > piped.kxa");
    ASSERT_EQ(r.status, 0) << context(r);
    EXPECT_EQ(r.err.find("durable"), std::string::npos) << r.err;
    EXPECT_EQ(kxsms({"verify", "-f", "piped.kxa"}).status, 0);
}

} // namespace
