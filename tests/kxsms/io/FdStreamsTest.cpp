// Reading the archive from a descriptor when a signal has asked the job to
// stop: a pipe whose writer never writes again must not hold the job, even
// when the signal came before the read began; a file is read as ever.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "TempDir.h"
#include "io/Streams.h"

namespace {

bool g_stop = false;
bool stopAsked()
{
    return g_stop;
}

struct ReadCase {
    const char *name;
    bool pipe;        // else a regular file
    bool dataWaiting; // bytes are there to read
    bool stopAsked;
    bool interrupted; // the read throws Interrupted rather than giving the bytes
};

class FdInputStop : public ::testing::TestWithParam<ReadCase> {};

TEST_P(FdInputStop, ReadsOrStopsWithoutWaiting)
{
    const ReadCase &c = GetParam();
    testsupport::TempDir dir{"kxsms-fdinput"};
    int ends[2] = {-1, -1};
    if (c.pipe) {
        ASSERT_EQ(pipe(ends), 0);
        if (c.dataWaiting) {
            ASSERT_EQ(write(ends[1], "abc", 3), 3);
        }
    } else {
        const std::string path = (dir.path() / "archive").string();
        ends[1] = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(ends[1], 0);
        if (c.dataWaiting) {
            ASSERT_EQ(write(ends[1], "abc", 3), 3);
        }
        ends[0] = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(ends[0], 0);
    }
    g_stop = c.stopAsked;
    kxsms::FdInput input(ends[0], stopAsked);
    char buffer[8];
    if (c.interrupted) {
        // The writer's end stays open: a plain read would wait for ever.
        EXPECT_THROW(input.read(buffer, sizeof buffer), kxsms::Interrupted);
    } else {
        EXPECT_EQ(input.read(buffer, sizeof buffer), c.dataWaiting ? 3u : 0u);
    }
    g_stop = false;
    close(ends[0]);
    close(ends[1]);
}

INSTANTIATE_TEST_SUITE_P(Cases, FdInputStop,
                         ::testing::Values(ReadCase{"pipe_with_data", true, true, false, false},
                                           ReadCase{"pipe_stop_before_the_read", true, false, true, true},
                                           ReadCase{"pipe_stop_with_data_waiting", true, true, true, true},
                                           ReadCase{"file_stop_asked", false, true, true, false},
                                           ReadCase{"empty_file_stop_asked", false, false, true, false}),
                         [](const auto &test) { return std::string(test.param.name); });

} // namespace
