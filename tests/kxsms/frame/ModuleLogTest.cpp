// The module log's capture: each thread takes its own lines, whole, even
// when a take comes while another line is half written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "frame/ModuleLog.h"

namespace {

class ModuleLogCapture : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        kxsms::startModuleLog("", 0);
        const char *path = getenv("KXLIB_LOG");
        ASSERT_NE(path, nullptr);
        // Where the module writes: lines appended, as the support library does.
        s_module = open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
        ASSERT_GE(s_module, 0) << path;
    }

    // Writes as the module would, in pieces as a slow writer might.
    static void write(const std::string &text)
    {
        ASSERT_EQ(::write(s_module, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    static inline int s_module = -1;
};

TEST_F(ModuleLogCapture, EachTakeGetsWholeLinesOfItsOwnThread)
{
    kxsms::takeModuleLog();
    const std::string pid = std::to_string(getpid());
    struct Step {
        std::string written;
        std::string taken;
    };
    // Lines of the first thread name the process alone; another thread's
    // carry "<pid>/<tid>" and are kept for that thread.
    for (const Step &step : {Step{"t " + pid + " one\n", "t " + pid + " one\n"},
                             Step{"t " + pid + " half", ""},
                             Step{" done\n", "t " + pid + " half done\n"},
                             Step{"t " + pid + "/4242 another thread's\n", ""},
                             Step{"t " + pid + " two\nt " + pid + " thr", "t " + pid + " two\n"},
                             Step{"ee\n", "t " + pid + " three\n"},
                             Step{"", ""}}) {
        SCOPED_TRACE(step.written);
        write(step.written);
        EXPECT_EQ(kxsms::takeModuleLog(), step.taken);
    }
}

// A line a thread wrote reaches that thread's take, whichever thread read
// it from the file first.
TEST_F(ModuleLogCapture, ALineReadByAnotherThreadIsKeptForItsWriter)
{
    kxsms::takeModuleLog();
    std::string taken;
    std::thread worker([&] {
        const std::string line = "t " + std::to_string(getpid()) + "/" + std::to_string(gettid()) + " mine\n";
        write(line);
        std::thread([] { kxsms::takeModuleLog(); }).join(); // another thread reads it first
        taken = kxsms::takeModuleLog();
        EXPECT_EQ(taken, line);
        kxsms::leaveModuleLog();
    });
    worker.join();
    EXPECT_EQ(kxsms::takeModuleLog(), "");
}

} // namespace
