// restore -j: one archive restored by one module object and by four gives
// the same tree, on a tree that tests the order of the work (hard links
// across directories, directories the restoring user cannot write into
// once their mode is set, a large file among small ones), and a signal
// leaves no temporary file whichever worker it finds writing.
#include <set>

#include <sys/stat.h>

#include "commands/KxsmsProgram.h"

namespace {

using namespace kxsms_test;

// describeTree, and for each file with several names the first of them
// (in name order): the same link groups restore as the same groups.
std::map<std::string, std::string> describeWithLinks(const fs::path &root)
{
    std::map<std::string, std::string> entries = describeTree(root);
    std::map<std::pair<dev_t, ino_t>, std::string> first;
    for (auto &[name, what] : entries) {
        struct stat st;
        if (lstat((root / name).c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink < 2)
            continue;
        const auto [found, fresh] = first.emplace(std::pair(st.st_dev, st.st_ino), name);
        what += " links " + std::to_string(st.st_nlink) + (fresh ? "" : " with " + found->second);
    }
    return entries;
}

class ParallelRestore : public KxsmsProgram {
protected:
    void SetUp() override
    {
        KxsmsProgram::SetUp();
        // 2,000 small files in 20 directories; each directory holds a
        // hard link to a file of another one.
        for (int d = 0; d < 20; ++d)
            for (int f = 0; f < 100; ++f)
                writeFile(data_ / "tree/many" / ("d" + std::to_string(d)) / ("f" + std::to_string(f)),
                          "file " + std::to_string(d) + "." + std::to_string(f) + "\n");
        for (int d = 0; d < 20; ++d)
            fs::create_hard_link(data_ / "tree/many" / ("d" + std::to_string((d + 7) % 20)) / "f3",
                                 data_ / "tree/many" / ("d" + std::to_string(d)) / "link");
        // A large file among them, and a link to it from elsewhere.
        writeFile(data_ / "tree/many/d10/large.bin", bigContent(3u << 20));
        fs::create_hard_link(data_ / "tree/many/d10/large.bin", data_ / "tree/sub/large-link");
        // Deep directories closed to writing, the deepest last.
        writeFile(data_ / "tree/closed/a/b/c/leaf.txt", "leaf\n");
        for (const char *dir : {"tree/closed/a/b/c", "tree/closed/a/b", "tree/closed/a", "tree/closed"})
            fs::permissions(data_ / dir, fs::perms(0555));
        fs::create_directories(data_ / "tree/private");
        writeFile(data_ / "tree/private/secret", "s\n");
        fs::permissions(data_ / "tree/private", fs::perms(0700));
        for (const char *dir : {"tree/many/d3", "tree/closed/a/b", "tree/private", "tree"})
            setTime(data_ / dir, 1400000000);
    }
    void TearDown() override
    {
        // Closed directories are opened again so that the tree can be removed.
        sh("chmod -R u+w data");
        KxsmsProgram::TearDown();
    }

    // Runs a command line as a user who is not root: as nobody when the
    // tests run as root (the data then belongs to nobody), else as is.
    Result asUser(const std::string &commandLine)
    {
        if (geteuid() != 0)
            return sh(commandLine);
        return sh("chown -R nobody:nogroup data && export KXSMS && $AS_NOBODY bash -c " + quote(commandLine));
    }
};

TEST_F(ParallelRestore, OneObjectAndFourRestoreTheSameTreeAsAUserWhoIsNotRoot)
{
    if (geteuid() == 0) {
        // The test's folder (the configuration) opened to that user.
        fs::permissions(dir_, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
        if (const std::string why = runKxsmsForOtherUsers(dir_); !why.empty())
            GTEST_SKIP() << why;
    }
    // The archive lies in the data, where that user may write.
    const Result saved = asUser("\"$KXSMS\" backup /tree -f data/a.kxa");
    ASSERT_EQ(saved.status, 0) << context(saved);
    const auto original = describeWithLinks(data_ / "tree");
    for (const char *jobs : {"1", "4"}) {
        SCOPED_TRACE(std::string("-j ") + jobs);
        const std::string to = std::string("/r") + jobs;
        const Result r = asUser("\"$KXSMS\" restore -f data/a.kxa --to " + to + " -j " + jobs);
        EXPECT_EQ(r.status, 0) << context(r);
        EXPECT_EQ(describeWithLinks(data_ / to.substr(1) / "tree"), original);
        EXPECT_EQ(temporaryFiles(data_ / to.substr(1)), std::set<std::string>{});
    }
}

// Through a pipe, over what an earlier restore left, in place and as a
// chain: every -j reaches the same tree.
TEST_F(ParallelRestore, PipesChainsAndRestoresInPlaceAgree)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "--clear-archive", "-f", "full.kxa"}).status, 0);
    fs::remove(data_ / "tree/many/d4/f9");
    writeFile(data_ / "tree/many/d5/new", "new\n");
    setTime(data_ / "tree/many/d4", 1400000000);
    setTime(data_ / "tree/many/d5", 1400000000);
    ASSERT_EQ(kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "inc.kxa"}).status, 0);
    const auto original = describeWithLinks(data_ / "tree");
    for (const char *jobs : {"1", "4"}) {
        SCOPED_TRACE(std::string("-j ") + jobs);
        const std::string to = std::string("r") + jobs;
        Result r = sh("set -o pipefail; cat full.kxa | $KXSMS restore -f - --to /" + to + " -j " + jobs);
        ASSERT_EQ(r.status, 0) << context(r);
        r = sh("$KXSMS restore -f full.kxa -f inc.kxa --to /" + to + " -j " + jobs);
        EXPECT_EQ(r.status, 0) << context(r);
        EXPECT_NE(r.err.find("removed /" + to + "/tree/many/d4/f9"), std::string::npos) << r.err;
        EXPECT_EQ(describeWithLinks(data_ / to / "tree"), original);
    }
    // In place, a deleted file and a file put back older come back; the
    // directory's times are the archive's.
    fs::remove(data_ / "tree/many/d6/f1");
    writeFile(data_ / "tree/many/d7/f2", "older\n");
    setTime(data_ / "tree/many/d7/f2", 1000000000);
    setTime(data_ / "tree/many/d6", 1400000000);
    setTime(data_ / "tree/many/d7", 1400000000);
    const Result r = sh("$KXSMS restore -f full.kxa -f inc.kxa --in-place -j 4");
    EXPECT_EQ(r.status, 0) << context(r);
    EXPECT_EQ(describeWithLinks(data_ / "tree"), original);
}

// The archive comes through a FIFO that stops in the middle of its last
// member, a large file after 2,000 small ones handed to the workers: the
// signal comes while a worker writes it, however fast each worker is.
TEST_F(ParallelRestore, ASignalLeavesNoTemporaryFileWhicheverWorkerWrites)
{
    writeFile(data_ / "tree/last/large.bin", bigContent(3u << 20));
    ASSERT_EQ(kxsms({"backup", "/tree/many", "/tree/last", "-f", "a.kxa"}).status, 0);
    for (const auto &[signal, status] : std::vector<std::pair<std::string, int>>{{"INT", 130}, {"TERM", 143}}) {
        SCOPED_TRACE(signal);
        const Result r =
            sh("rm -rf data/r; mkfifo p; (head -c $(($(stat -c %s a.kxa) - 1500000)) a.kxa; exec sleep 3600) >p & "
               "feeder=$!; "
               "$KXSMS restore -f p --to /r -j 4 & job=$!; "
               "while kill -0 $job 2>/dev/null && ! ls data/r/tree/last/.kxsms-restore-* >/dev/null 2>&1; "
               "do sleep 0.02; done; "
               "kill -" +
               signal + " $job; wait $job; status=$?; kill $feeder; rm -f p; exit $status");
        EXPECT_EQ(r.status, status) << context(r);
        EXPECT_NE(r.err.find("abandoned /r/tree/last/large.bin"), std::string::npos) << r.err;
        EXPECT_EQ(temporaryFiles(data_ / "r"), std::set<std::string>{});
        EXPECT_FALSE(fs::exists(data_ / "r/tree/last/large.bin"));
    }
}

// A write the TSA refuses fails that one data set; the workers go on with
// the others. (The directories backed up hold no first name of another's
// link: every file is a file of its own there.)
TEST_F(ParallelRestore, AFailedWriteFailsOnlyItsDataSet)
{
    ASSERT_EQ(kxsms({"backup", "/tree/many/d0", "/tree/many/d1", "/tree/many/d2", "/tree/many/d3", "/tree/many/d4",
                     "-f", "a.kxa"})
                  .status,
              0);
    const Result r = sh("SMSEMU_FAULTS=NWSMTSWriteDataSet@300=0xFFFDFFB6 $KXSMS restore -f a.kxa --to /r -j 4");
    EXPECT_EQ(r.status, 1) << context(r);
    size_t failures = 0;
    for (size_t at = r.err.find("cannot restore /r/tree/many/"); at != std::string::npos;
         at = r.err.find("cannot restore /r/tree/many/", at + 1))
        ++failures;
    EXPECT_EQ(failures, 1u) << r.err;
    EXPECT_NE(r.err.find(", 1 failed"), std::string::npos) << r.err;
    size_t restored = 0;
    for (const auto &entry : fs::recursive_directory_iterator(data_ / "r/tree/many"))
        restored += entry.is_regular_file();
    EXPECT_EQ(restored, 500u + 5u - 1u);
}

TEST_F(ParallelRestore, TheJobCountIsChecked)
{
    ASSERT_EQ(kxsms({"backup", "/tree/sub", "-f", "a.kxa"}).status, 0);
    for (const char *jobs : {"0", "65", "x"}) {
        const Result r = kxsms({"restore", "-f", "a.kxa", "--to", "/r", "-j", jobs});
        EXPECT_EQ(r.status, 2) << jobs << "\n" << context(r);
        EXPECT_NE(r.err.find("--jobs takes a whole number from 1 to 64"), std::string::npos) << r.err;
    }
}

} // namespace
