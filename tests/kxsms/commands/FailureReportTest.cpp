// kxsms end to end on trees with what cannot be saved or restored: every data
// set is saved or named on stderr with its cause, the job goes on past each
// one, and the exit status says so. Some cases run kxsms as the user nobody.
#include <gtest/gtest.h>

#include "commands/KxsmsProgram.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using kxsms_test::quote;
using kxsms_test::readFile;
using kxsms_test::removeTree;
using kxsms_test::Result;
using kxsms_test::writeFile;

size_t count(const std::string &text, const std::string &part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class FailureReports : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = kxsms_test::makeScratch("kxsms-fail");
        data_ = dir_ / "data";
        writeFile(dir_ / "smsemu.toml", "[[tsa]]\ntype = \"Linux File System\"\n[[tsa.resource]]\nname = \"/\"\n"
                                        "path = \"" +
                                            data_.string() + "\"\n");
        setenv("SMSEMU_CONFIG", (dir_ / "smsemu.toml").c_str(), 1);
        setenv("KXSMS_PASSWORD", "", 1);
        unsetenv("KXLIB_LOG");
        unsetenv("SMSEMU_FAULTS");
        unsetenv("KXSMS_LIBRARY");
        writeFile(data_ / "tree/a.txt", "alpha\n");
        writeFile(data_ / "tree/m/inside.txt", "inside\n");
        writeFile(data_ / "tree/sub/b.txt", "beta\n");
        writeFile(data_ / "tree/sub/deeper/c.txt", "gamma\n");
        writeFile(data_ / "tree/z-after.txt", "last\n");
    }
    void TearDown() override { removeTree(dir_); }

    Result sh(const std::string &commandLine) { return kxsms_test::runShell(dir_, commandLine); }

    std::set<std::string> archived(const std::string &archive)
    {
        const Result listed = sh("$KXSMS list -f " + quote(archive) + " --json");
        EXPECT_EQ(listed.status, 0) << listed.err;
        std::set<std::string> names;
        for (const json &member : json::parse(listed.out))
            names.insert(member["name"].get<std::string>());
        return names;
    }

    // Why kxsms cannot be run as nobody here, or "" when it can; opens the
    // test's folders to it.
    std::string whyNotAsNobody()
    {
        if (geteuid() != 0 || getpwnam("nobody") == nullptr || sh("$AS_NOBODY true").status != 0)
            return "needs root and the user nobody";
        for (fs::path up = data_; up != dir_.parent_path(); up = up.parent_path())
            fs::permissions(up, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
        fs::create_directories(dir_ / "out");
        fs::permissions(dir_ / "out", fs::perms::all);
        return kxsms_test::runKxsmsForOtherUsers(dir_);
    }

    fs::path dir_;
    fs::path data_;
};

TEST_F(FailureReports, UnreadableDirectoryIsSavedAsADirectoryAndTheSiblingsAfterIt)
{
    if (const std::string why = whyNotAsNobody(); !why.empty())
        GTEST_SKIP() << why;
    fs::permissions(data_ / "tree/m", fs::perms::owner_all);
    const Result r = sh("$AS_NOBODY $KXSMS backup /tree -f out/a.kxa");
    EXPECT_EQ(r.status, 1) << context(r);
    EXPECT_EQ(count(r.err, "/tree/m"), 1u) << r.err;
    EXPECT_NE(r.err.find("cannot read the contents of /tree/m"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("stopped"), std::string::npos) << r.err;
    EXPECT_EQ(archived("out/a.kxa"),
              (std::set<std::string>{"/tree", "/tree/a.txt", "/tree/m", "/tree/sub", "/tree/sub/b.txt",
                                     "/tree/sub/deeper", "/tree/sub/deeper/c.txt", "/tree/z-after.txt"}));

    // The directory comes back with its mode.
    const Result restored = sh("$KXSMS restore -f out/a.kxa --to /restored");
    EXPECT_EQ(restored.status, 0) << context(restored);
    struct stat st;
    ASSERT_EQ(lstat((data_ / "restored/tree/m").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(FailureReports, ListingNamesAnUnreadableDirectoryOnceAndSaysWhy)
{
    if (const std::string why = whyNotAsNobody(); !why.empty())
        GTEST_SKIP() << why;
    fs::permissions(data_ / "tree/m", fs::perms::owner_all);
    for (const char *command : {"ls -r /tree", "ls /tree/m"}) {
        const Result r = sh(std::string("$AS_NOBODY $KXSMS ") + command);
        EXPECT_EQ(r.status, 1) << command << "\n" << context(r);
        EXPECT_LE(count(r.out, "/tree/m\n"), 1u) << command << "\n" << r.out;
        EXPECT_NE(r.err.find("cannot list the contents of /tree/m: Insufficient access rights (No search "
                             "privileges: Permission denied)"),
                  std::string::npos)
            << command << "\n"
            << r.err;
    }
    EXPECT_EQ(count(sh("$AS_NOBODY $KXSMS ls -r /tree").out, "/tree/z-after.txt"), 1u);
}

TEST_F(FailureReports, UnreadableFileFailsAloneWithItsCause)
{
    if (const std::string why = whyNotAsNobody(); !why.empty())
        GTEST_SKIP() << why;
    fs::permissions(data_ / "tree/a.txt", fs::perms::owner_read);
    const Result r = sh("$AS_NOBODY $KXSMS backup /tree -f out/a.kxa");
    EXPECT_EQ(r.status, 1) << context(r);
    EXPECT_NE(r.err.find("cannot back up /tree/a.txt: Insufficient access rights (No search privileges: "
                         "Permission denied)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(archived("out/a.kxa").count("/tree/z-after.txt"), 1u);
}

TEST_F(FailureReports, UnwritableTargetDirectoryFailsItsEntriesAndTheRestoreGoesOn)
{
    if (const std::string why = whyNotAsNobody(); !why.empty())
        GTEST_SKIP() << why;
    ASSERT_EQ(sh("$KXSMS backup /tree -f a.kxa && chmod 644 a.kxa").status, 0);
    fs::create_directories(data_ / "target/tree/sub");
    fs::permissions(data_ / "target", fs::perms::all);
    fs::permissions(data_ / "target/tree", fs::perms::all);
    fs::permissions(data_ / "target/tree/sub", fs::perms(0555));
    const Result r = sh("$AS_NOBODY $KXSMS restore -f a.kxa --to /target");
    EXPECT_EQ(r.status, 1) << context(r);
    EXPECT_NE(r.err.find("cannot restore /target/tree/sub/b.txt: Insufficient access rights (Cannot create a "
                         "directory entry)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("/target/tree/sub/deeper"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Out of disk space"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("stopped"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(data_ / "target/tree/a.txt"), "alpha\n");
    EXPECT_EQ(readFile(data_ / "target/tree/z-after.txt"), "last\n");
}

TEST_F(FailureReports, NamesLongerThanTheInterfaceAreCountedOnTheirDirectory)
{
    std::string deepest = "/tree/long";
    for (int i = 0; i < 4; ++i)
        deepest += "/" + std::string(250, static_cast<char>('p' + i));
    writeFile(data_.string() + deepest + "/fits", "ok\n");
    writeFile(data_.string() + deepest + "/" + std::string(40, 'x'), "too long\n");
    writeFile(data_.string() + deepest + "/" + std::string(50, 'y') + "/below", "too long too\n");
    const Result r = sh("$KXSMS backup /tree -f a.kxa");
    EXPECT_EQ(r.status, 1) << context(r);
    // The file, the directory and what the directory holds.
    EXPECT_NE(r.err.find("cannot back up 3 entries in " + deepest + ": the names are longer than 1023 bytes"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("3 failed"), std::string::npos) << "the summary counts them; " << r.err;
    const std::set<std::string> names = archived("a.kxa");
    EXPECT_EQ(names.count(deepest + "/fits"), 1u);
    EXPECT_EQ(names.count(deepest), 1u) << "the directory once";
    EXPECT_EQ(names.count("/tree/z-after.txt"), 1u);
}

TEST_F(FailureReports, TheArchiveInsideTheTreeIsLeftOutWithOneNotice)
{
    // The machine's own paths: the stand-in's default serves "/".
    unsetenv("SMSEMU_CONFIG");
    const std::string tree = (data_ / "tree").string();
    const Result r = sh("$KXSMS backup " + quote(tree) + " -f " + quote(tree + "/sub/self.kxa"));
    EXPECT_EQ(r.status, 0) << context(r);
    EXPECT_EQ(count(r.err, "file is the archive; not dumped"), 1u) << r.err;
    const std::set<std::string> names = archived(tree + "/sub/self.kxa");
    EXPECT_EQ(names.count(tree + "/sub/self.kxa"), 0u);
    EXPECT_EQ(names.count(tree + "/sub/b.txt"), 1u);

    // Another name of the same file is left out too.
    ASSERT_EQ(link((tree + "/sub/self.kxa").c_str(), (tree + "/other-name").c_str()), 0);
    const Result again = sh("$KXSMS backup " + quote(tree) + " -f " + quote(tree + "/sub/self.kxa"));
    EXPECT_EQ(again.status, 0) << context(again);
    EXPECT_EQ(count(again.err, "file is the archive; not dumped"), 2u) << again.err;
}

// Failures injected into SMS calls: each line names the data set, the
// module's message and the TSA's text of the code.
struct Injected {
    const char *name;
    const char *faults;
    const char *command;
    const char *line;
    int status;
};

class InjectedFailures : public FailureReports, public ::testing::WithParamInterface<Injected> {};

TEST_P(InjectedFailures, LineCarriesTheTsaText)
{
    const Injected &c = GetParam();
    ASSERT_EQ(sh("$KXSMS backup -j 1 /tree -f a.kxa").status, 0);
    const Result r = sh(std::string("SMSEMU_FAULTS=") + quote(c.faults) + " $KXSMS " + c.command);
    EXPECT_EQ(r.status, c.status) << context(r);
    EXPECT_NE(r.err.find(c.line), std::string::npos) << r.err;
}

// The N-th call of a kind is the data set named when one module object makes
// the calls (restores take -j 1: several objects call in another order).
INSTANTIATE_TEST_SUITE_P(
    Calls, InjectedFailures,
    // The N-th call counts calls of the whole process: the backups run with
    // one module object, so that N names one data set.
    ::testing::Values(Injected{"open_in_use", "NWSMTSOpenDataSetForBackup@4=0xFFFDFFF5", "backup -j 1 /tree -f b.kxa",
                               "cannot back up /tree/m: Data in use (Data set is currently in use)", 1},
                      Injected{"report_open", "NWSMTSOpenDataSetForBackup@5=0xFFFDFFCF", "backup -j 1 /tree -f b.kxa",
                               "cannot back up /tree/m/inside.txt: Insufficient access rights (No search privileges: "
                               "Permission denied)",
                               1},
                      Injected{"read", "NWSMTSReadDataSet@2=0xFFFDFFC6", "backup -j 1 /tree -f b.kxa",
                               "cannot read /tree/a.txt: Failed to backup data (Error reading the file)", 1},
                      Injected{"scan_next", "NWSMTSScanNextDataSet@3=0xFFFDFFC3", "backup -j 1 /tree -f b.kxa",
                               "cannot scan /tree: Failed to scan data (Unable to scan file entry)", 1},
                      Injected{"restore_exists", "NWSMTSOpenDataSetForRestore@2=0xFFFDFFF8", "restore -j 1 -f a.kxa --to /r",
                               "cannot restore /r/tree/a.txt: Unknown SMS error (Data set name already exists)", 1},
                      Injected{"restore_write", "NWSMTSWriteDataSet@3=0xFFFDFFB6", "restore -j 1 -f a.kxa --to /r",
                               "cannot restore /r/tree/m: Failed to restore data (Unable to write to file)", 1},
                      Injected{"restore_full", "NWSMTSCloseDataSet@2=0xFFFDFFCA", "restore -j 1 -f a.kxa --to /r",
                               "cannot restore /r/tree/a.txt: Out of disk space\nkxsms: restore stopped", 2}),
    [](const ::testing::TestParamInfo<Injected> &tested) { return std::string(tested.param.name); });

TEST_F(FailureReports, TheModuleLogStillGoesWhereItWasAsked)
{
    const Result quiet = sh("SMSEMU_FAULTS=NWSMTSOpenDataSetForBackup@4=0xFFFDFFF5 $KXSMS backup -j 1 /tree -f a.kxa");
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.err.find("Open data set failed"), std::string::npos) << "the log is not shown by default";

    const Result logged = sh("SMSEMU_FAULTS=NWSMTSOpenDataSetForBackup@4=0xFFFDFFF5 $KXSMS --log module.log "
                             "backup -j 1 /tree -f b.kxa");
    EXPECT_EQ(logged.status, 1);
    EXPECT_NE(readFile(dir_ / "module.log").find("Open data set failed for /tree/m, (fffdfff5)"), std::string::npos);
    EXPECT_NE(logged.err.find("(Data set is currently in use)"), std::string::npos) << logged.err;

    const Result verbose = sh("SMSEMU_FAULTS=NWSMTSOpenDataSetForBackup@4=0xFFFDFFF5 $KXSMS -v backup -j 1 /tree -f c.kxa");
    EXPECT_NE(verbose.err.find("Open data set failed for /tree/m, (fffdfff5)"), std::string::npos) << verbose.err;
}

} // namespace

namespace {

// The backup writes to a pipe that stalls inside the first file (4 MiB): the
// scan has listed /tree by then and holds still until the pipe is read on
// (with one module object: with several the scan runs ahead of the archive).
// Meanwhile a file it listed is deleted and a directory renamed: each is
// named, as is the directory that changed under the scan, and the exit is 1.
TEST_F(FailureReports, ARenameAndADeletionDuringTheBackupAreNamed)
{
    writeFile(data_ / "tree/a-big", std::string(4 << 20, 'b'));
    const Result r = sh("set -o pipefail; $KXSMS backup -j 1 /tree -f - | { dd bs=100000 count=1 iflag=fullblock "
                        "status=none of=a.kxa && rm data/tree/m/inside.txt data/tree/z-after.txt && "
                        "mv data/tree/sub data/tree/sub-renamed && cat >>a.kxa; }");
    EXPECT_EQ(r.status, 1) << context(r);
    for (const char *line : {"kxsms: /tree/z-after.txt: removed before it was read",
                             "kxsms: /tree/sub: removed before it was read",
                             "kxsms: warning: /tree: changed while it was being read"})
        EXPECT_NE(r.err.find(line), std::string::npos) << line << "\n" << r.err;
    // m was listed after the removal: its contents are what is there.
    EXPECT_EQ(r.err.find("inside.txt"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("3 failed"), std::string::npos) << r.err;
    const std::set<std::string> names = archived("a.kxa");
    EXPECT_EQ(names.count("/tree/a-big"), 1u);
    EXPECT_EQ(names.count("/tree/sub-renamed"), 0u) << "made after the scan listed /tree";
}

} // namespace
