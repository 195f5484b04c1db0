// EvDebug/EvEvent: line format, level filtering, cutting, newlines, concurrency,
// and the choice between KXLIB_LOG and standard error.
#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "KxLib.h"
#include "Files.h"
#include "TempDir.h"

namespace {

struct Line {
    std::string time;
    long pid = 0;
    long tid = 0; // 0: the process's first thread wrote it
    std::string level;
    std::string message;
};

const std::regex kLine(R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d{4}) (\d+)(?:/(\d+))? (ERROR|DEBUG\d*) (.*)$)");

std::vector<Line> parseLines(const std::string &text)
{
    std::vector<Line> lines;
    if (!text.empty()) {
        EXPECT_EQ(text.back(), '\n') << "last line is not complete";
    }
    std::istringstream in(text);
    std::string raw;
    while (std::getline(in, raw)) {
        std::smatch m;
        if (!std::regex_match(raw, m, kLine)) {
            ADD_FAILURE() << "malformed line: " << raw.substr(0, 200);
            continue;
        }
        lines.push_back({m[1], std::stol(m[2]), m[3].matched ? std::stol(m[3]) : 0, m[4], m[5]});
    }
    return lines;
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("KXLIB_LOG", m_log.c_str(), 1);
        unsetenv("KXLIB_DEBUG_LEVEL");
    }
    void TearDown() override
    {
        unsetenv("KXLIB_LOG");
        unsetenv("KXLIB_DEBUG_LEVEL");
    }
    std::vector<Line> lines() const { return parseLines(testsupport::readFile(m_log)); }

    testsupport::TempDir m_dir{"kxlib"};
    std::string m_log = m_dir / "kx.log";
};

TEST_F(LogTest, LineCarriesLocalTimeWithOffsetPidLevelAndMessage)
{
    setenv("TZ", "KXT-05:30", 1);
    tzset();
    std::time_t before = std::time(nullptr);
    EvEvent log;
    log.error("Open data set failed for %s, (%x) %s.", "/srv/a", 0xFFFDFFD1u, "No more data sets");
    std::time_t after = std::time(nullptr);
    unsetenv("TZ");
    tzset();

    auto got = lines();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].pid, static_cast<long>(getpid()));
    EXPECT_EQ(got[0].tid, 0); // the process's first thread
    EXPECT_EQ(got[0].level, "ERROR");
    EXPECT_EQ(got[0].message, "Open data set failed for /srv/a, (fffdffd1) No more data sets.");
    EXPECT_EQ(got[0].time.substr(19), "+0530");
    std::tm tm{};
    ASSERT_NE(strptime(got[0].time.c_str(), "%Y-%m-%dT%H:%M:%S%z", &tm), nullptr);
    long offset = tm.tm_gmtoff; // read before timegm normalises tm
    std::time_t stamped = timegm(&tm) - offset;
    EXPECT_GE(stamped, before);
    EXPECT_LE(stamped, after);
}

struct LevelCase {
    const char *environment; // KXLIB_DEBUG_LEVEL, or null for unset
    int override;            // setDebugLevel argument, or INT_MIN for none
    int level;               // resulting level
    std::vector<std::string> written;
};

void PrintTo(const LevelCase &c, std::ostream *os)
{
    *os << "KXLIB_DEBUG_LEVEL=" << (c.environment ? c.environment : "(unset)") << " override=" << c.override;
}

class LogLevelTest : public LogTest, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(LogLevelTest, WritesOnlyWhatTheLevelAdmits)
{
    const LevelCase &c = GetParam();
    if (c.environment != nullptr) {
        setenv("KXLIB_DEBUG_LEVEL", c.environment, 1);
    }
    EvEvent log;
    if (c.override != INT_MIN) {
        log.setDebugLevel(c.override);
    }
    EXPECT_EQ(log.getDebugLevel(), c.level);
    log.debug("d %d", 0);
    log.debugLvl(1, "l %u", 1u);
    log.debugLvl(2, "l %s", "2");
    log.debugLvl(3, "l %x", 3);
    log.error("e");
    std::vector<std::string> written;
    for (const Line &line : lines()) {
        written.push_back(line.level + " " + line.message);
    }
    EXPECT_EQ(written, c.written);
}

const std::vector<std::string> kErrorOnly{"ERROR e"};
const std::vector<std::string> kLevel1{"DEBUG d 0", "DEBUG1 l 1", "ERROR e"};
const std::vector<std::string> kLevel2{"DEBUG d 0", "DEBUG1 l 1", "DEBUG2 l 2", "ERROR e"};
const std::vector<std::string> kLevel3{"DEBUG d 0", "DEBUG1 l 1", "DEBUG2 l 2", "DEBUG3 l 3", "ERROR e"};

INSTANTIATE_TEST_SUITE_P(Levels, LogLevelTest,
                         ::testing::Values(LevelCase{nullptr, INT_MIN, 1, kLevel1},
                                           LevelCase{"0", INT_MIN, 0, kErrorOnly}, LevelCase{"3", INT_MIN, 3, kLevel3},
                                           LevelCase{"-1", INT_MIN, -1, kErrorOnly},
                                           LevelCase{"two", INT_MIN, 1, kLevel1}, LevelCase{"2x", INT_MIN, 1, kLevel1},
                                           LevelCase{nullptr, 2, 2, kLevel2}, LevelCase{"3", 0, 0, kErrorOnly}));

TEST_F(LogTest, LongMessageIsCutToOneBoundedLine)
{
    EvEvent log;
    std::string huge(20000, 'x');
    log.error("%s", huge.c_str());
    log.debug("after");
    std::string text = testsupport::readFile(m_log);
    std::size_t first = text.find('\n');
    ASSERT_NE(first, std::string::npos);
    EXPECT_LE(first + 1, 4096u);
    auto got = lines();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_GT(got[0].message.size(), 3900u);
    EXPECT_EQ(got[0].message.find_first_not_of('x'), std::string::npos);
    EXPECT_EQ(got[1].message, "after");
}

TEST_F(LogTest, NewlinesNeverSplitALine)
{
    const std::pair<const char *, const char *> cases[] = {
        {"a\nb\nc", "a b c"}, {"ends\n", "ends"},  {"ends twice\n\n", "ends twice"},
        {"\n", ""},           {"\nlead", " lead"}, {"", ""}};
    EvEvent log;
    for (const auto &c : cases) {
        log.error("%s", c.first);
    }
    auto got = lines();
    ASSERT_EQ(got.size(), std::size(cases));
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].message, cases[i].second) << "case " << i;
    }
}

TEST_F(LogTest, LogFileIsLookedUpAtEachWrite)
{
    EvEvent log;
    log.error("first");
    std::string other = m_dir / "other.log";
    setenv("KXLIB_LOG", other.c_str(), 1);
    log.error("second");
    ASSERT_EQ(lines().size(), 1u);
    auto moved = parseLines(testsupport::readFile(other));
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].message, "second");
}

TEST_F(LogTest, FallsBackToStandardError)
{
    for (const char *target : {"", "unset", "directory"}) {
        if (std::string(target) == "unset") {
            unsetenv("KXLIB_LOG");
        } else {
            setenv("KXLIB_LOG", *target ? m_dir.path().c_str() : "", 1);
        }
        EvEvent log;
        ::testing::internal::CaptureStderr();
        log.error("to stderr %d", 7);
        auto got = parseLines(::testing::internal::GetCapturedStderr());
        ASSERT_EQ(got.size(), 1u) << target;
        EXPECT_EQ(got[0].message, "to stderr 7");
    }
}

// Two threads and a second process append at once: every line stays whole,
// and a thread's lines carry its own id.
TEST_F(LogTest, ConcurrentWritersNeverInterleaveWithinALine)
{
    constexpr int kLines = 200;
    long tids[2] = {};
    auto writer = [&tids](char fill) {
        if (fill != 'c')
            tids[fill - 'a'] = static_cast<long>(gettid());
        EvEvent log;
        for (int i = 0; i < kLines; ++i) {
            log.error("%s", std::string(1000 + i % 13 * 97, fill).c_str());
        }
    };
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        writer('c');
        _exit(0);
    }
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    auto got = lines();
    ASSERT_EQ(got.size(), 3u * kLines);
    int counts[3] = {};
    for (const Line &line : got) {
        ASSERT_FALSE(line.message.empty());
        char fill = line.message[0];
        ASSERT_TRUE(fill >= 'a' && fill <= 'c');
        EXPECT_EQ(line.message.find_first_not_of(fill), std::string::npos);
        EXPECT_EQ(line.pid == child, fill == 'c');
        EXPECT_EQ(line.tid, fill == 'c' ? 0 : tids[fill - 'a']);
        ++counts[fill - 'a'];
    }
    EXPECT_EQ(counts[0], kLines);
    EXPECT_EQ(counts[1], kLines);
    EXPECT_EQ(counts[2], kLines);
}

} // namespace
