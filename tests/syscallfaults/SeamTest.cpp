// The fault seam itself: its settings, and what it does to a program's calls
// (sysfaults_probe, which reports how each of a fixed series of calls answered).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cerrno>
#include <string>
#include <vector>

#include "FaultPlan.h"
#include "Files.h"
#include "Preload.h"
#include "TempDir.h"

namespace {

using sysfaults::Call;
using sysfaults::FaultPlan;

struct ProbeRun {
    int status = -1;
    std::vector<std::string> lines;
    std::string err;
};

std::string quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class Seam : public ::testing::Test {
protected:
    // Runs the probe in its folder with these SYSFAULTS settings ("NAME=value ...").
    ProbeRun probe(const std::string &settings)
    {
        testsupport::removeTree(dir_ / "work");
        std::filesystem::create_directories(dir_.path() / "work");
        // Descriptors the test inherited (ctest leaves some open) are closed
        // first, so that the probe's descriptors are numbered alike anywhere.
        const std::string line = std::string("for fd in /proc/$$/fd/*; do fd=${fd##*/}; [ \"$fd\" -gt 2 ] && "
                                             "eval \"exec $fd>&-\"; done 2>/dev/null; ") +
                                 sysfaults::preloadAssignments(SYSFAULTS_LIBRARY) + " " + settings + " " +
                                 quote(SYSFAULTS_PROBE) + " " + quote(dir_ / "work") + " >" + quote(dir_ / "out") +
                                 " 2>" + quote(dir_ / "err");
        const int raw = system(("env -u SYSFAULTS -u SYSFAULTS_PATHS -u SYSFAULTS_PROGRAM -u SYSFAULTS_TRACE " +
                                std::string("bash -c ") + quote(line))
                                   .c_str());
        return ProbeRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, testsupport::readLines(dir_.path() / "out"),
                        testsupport::readFile(dir_.path() / "err")};
    }
    std::string work() const { return dir_ / "work"; }

    testsupport::TempDir dir_{"sysfaults-test"};
};

std::vector<std::string> cleanRun()
{
    return {"open 3",           "write 6", "write 6",  "write 6", "writev 4", "fsync 0",
            "fsync attempts 1", "close 0", "rename 0", "mkdir 0", "read 22",  "null 1"};
}

TEST_F(Seam, WithoutFaultsEveryCallGoesThrough)
{
    const ProbeRun run = probe("SYSFAULTS=");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.lines, cleanRun());
}

struct Case {
    const char *name;
    std::string settings;                                // {work} stands for the probe's folder
    std::vector<std::pair<size_t, std::string>> changed; // line index -> what it says instead
};

std::string expand(std::string text, const std::string &work)
{
    for (size_t at; (at = text.find("{work}")) != std::string::npos;)
        text.replace(at, 6, work);
    return text;
}

void PrintTo(const Case &c, std::ostream *out)
{
    *out << c.name;
}

class SeamCases : public Seam, public ::testing::WithParamInterface<Case> {};

TEST_P(SeamCases, ChangesExactlyTheCallsNamed)
{
    const Case &c = GetParam();
    const ProbeRun run = probe(expand(c.settings, work()));
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> expected = cleanRun();
    for (const auto &[index, line] : c.changed)
        expected[index] = line;
    EXPECT_EQ(run.lines, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SeamCases,
    ::testing::Values(
        Case{"second_write", "SYSFAULTS=write@2=ENOSPC", {{2, "write -1 No space left on device"}, {10, "read 16"}}},
        Case{"writes_onwards",
             "SYSFAULTS=write@2+=EDQUOT",
             {{2, "write -1 Disk quota exceeded"},
              {3, "write -1 Disk quota exceeded"},
              {10, "read 10"},
              {11, "null -1 Disk quota exceeded"}}},
        Case{"every_fsync_interrupted_once", "SYSFAULTS=fsync@*=EINTR", {{6, "fsync attempts 2"}}},
        Case{"short_write", "SYSFAULTS=write@1=SHORT", {{1, "write 3"}, {10, "read 19"}}},
        Case{"short_writev", "SYSFAULTS=writev@1=SHORT", {{4, "writev 2"}, {10, "read 20"}}},
        Case{"close_fails_after_closing", "SYSFAULTS=close@1=EIO", {{7, "close -1 Input/output error"}}},
        Case{"rename_and_mkdir",
             "SYSFAULTS='rename@1=EXDEV,mkdir@1=EACCES'",
             {{8, "rename -1 Invalid cross-device link"},
              {9, "mkdir -1 Permission denied"},
              {10, "read -1 Bad file descriptor"}}},
        Case{"numbers_for_errnos",
             "SYSFAULTS=open@1=5",
             {{0, "open -1 Input/output error"},
              {1, "write -1 Bad file descriptor"},
              {2, "write -1 Bad file descriptor"},
              {3, "write -1 Bad file descriptor"},
              {4, "writev -1 Bad file descriptor"},
              {5, "fsync -1 Bad file descriptor"},
              {7, "close -1 Bad file descriptor"},
              {8, "rename -1 No such file or directory"},
              {10, "read -1 Bad file descriptor"}}},
        // Only calls on files below the paths count: /dev/null's write is not
        // the third write, and makes no trouble.
        Case{"paths_select",
             "SYSFAULTS_PATHS={work} SYSFAULTS=write@*=EIO",
             {{1, "write -1 Input/output error"},
              {2, "write -1 Input/output error"},
              {3, "write -1 Input/output error"},
              {10, "read 4"}}},
        Case{"paths_elsewhere", "SYSFAULTS_PATHS={work}-other SYSFAULTS=write@*=EIO", {}},
        Case{"another_program", "SYSFAULTS_PROGRAM=kxsms SYSFAULTS=write@*=EIO", {}}),
    [](const ::testing::TestParamInfo<Case> &param) { return std::string(param.param.name); });

TEST_F(Seam, TraceCountsTheSelectedCallsWithTheirPaths)
{
    const std::string trace = dir_ / "trace";
    const ProbeRun run =
        probe("SYSFAULTS_PATHS=" + quote(work()) + " SYSFAULTS_TRACE=" + quote(trace) + " SYSFAULTS=write@3=ENOSPC");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = testsupport::readLines(trace);
    const std::string file = work() + "/file";
    const std::vector<std::string> expected = {
        "open 1 4 " + file, // 3 is the trace's
        "write 1 6 " + file,
        "write 2 6 " + file,
        "write 3 -1 ENOSPC injected " + file,
        "writev 1 4 " + file,
        "fsync 1 0 " + file,
        "close 1 0 " + file,
        "rename 1 0 " + file + " -> " + work() + "/moved",
        "mkdir 1 0 " + work() + "/sub",
        "open 2 4 " + work() + "/moved",
        "read 1 16 " + work() + "/moved",
        "close 2 0 " + work() + "/moved",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(Seam, ASettingItCannotReadStopsTheProgram)
{
    for (const std::string bad : {"write@0=EIO", "write@3=ENOTANERROR", "scribble@1=EIO", "write=EIO", "write@x=EIO"}) {
        const ProbeRun run = probe("SYSFAULTS=" + quote(bad));
        EXPECT_EQ(run.status, 99) << bad;
        EXPECT_NE(run.err.find("sysfaults: SYSFAULTS \"" + bad + "\""), std::string::npos) << run.err;
        EXPECT_TRUE(run.lines.empty()) << bad;
    }
    const ProbeRun relative = probe("SYSFAULTS_PATHS=relative/path SYSFAULTS=write@1=EIO");
    EXPECT_EQ(relative.status, 99);
    EXPECT_NE(relative.err.find("is not absolute"), std::string::npos) << relative.err;
}

TEST(SeamPlan, CountsEachRuleFromOne)
{
    FaultPlan plan;
    std::string problem;
    ASSERT_TRUE(plan.parse(" write@2=ENOSPC , fsync@*=EINTR,pwrite@3+=EIO,read@1=SHORT,read@4=EIO", problem))
        << problem;
    auto error = [&](Call call, unsigned long n) {
        const auto fault = plan.faultFor(call, n);
        return fault ? (fault->shortTransfer ? -2 : fault->error) : 0;
    };
    EXPECT_EQ(error(Call::write, 1), 0);
    EXPECT_EQ(error(Call::write, 2), ENOSPC);
    EXPECT_EQ(error(Call::write, 3), 0);
    // An interruption every other call: each one's retry goes through.
    EXPECT_EQ(error(Call::fsync, 1), EINTR);
    EXPECT_EQ(error(Call::fsync, 2), 0);
    EXPECT_EQ(error(Call::fsync, 3), EINTR);
    EXPECT_EQ(error(Call::pwrite, 2), 0);
    EXPECT_EQ(error(Call::pwrite, 3), EIO);
    EXPECT_EQ(error(Call::pwrite, 1000), EIO);
    EXPECT_EQ(error(Call::read, 1), -2);
    EXPECT_EQ(error(Call::read, 4), EIO);
    EXPECT_EQ(error(Call::close, 1), 0);
    EXPECT_FALSE(plan.empty());
    ASSERT_TRUE(plan.parse("", problem));
    EXPECT_TRUE(plan.empty());
}

TEST(SeamPlan, PathsMatchWholeComponents)
{
    const std::vector<std::string> prefixes = sysfaults::splitPaths("/srv/data/:/tmp/a.kxa");
    EXPECT_EQ(prefixes, (std::vector<std::string>{"/srv/data/", "/tmp/a.kxa"}));
    EXPECT_TRUE(sysfaults::pathSelected("/srv/data", prefixes));
    EXPECT_TRUE(sysfaults::pathSelected("/srv/data/x/y", prefixes));
    EXPECT_FALSE(sysfaults::pathSelected("/srv/database", prefixes));
    EXPECT_TRUE(sysfaults::pathSelected("/tmp/a.kxa", prefixes));
    EXPECT_FALSE(sysfaults::pathSelected("/tmp/a.kxa.tmp", prefixes));
    EXPECT_TRUE(sysfaults::pathSelected("/anything", {}));
    EXPECT_TRUE(sysfaults::pathSelected("/anything", {"/"}));
}

} // namespace
