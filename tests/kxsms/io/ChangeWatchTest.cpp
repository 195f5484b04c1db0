// The short watch a pipeline's stage keeps before it sleeps: a change seen
// ends the watch at once, none ends it at its deadline, and the caller gets
// its lock back whatever ended it (it goes on to wait on its condition
// variable under that lock).
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "io/ChangeWatch.h"

namespace {

using namespace kxsms;
using Clock = std::chrono::steady_clock;

TEST(ChangeWatch, AChangeEndsTheWatchAndNoneEndsItAtItsDeadline)
{
    ChangeCount changes;
    const uint64_t before = changes.seen();
    EXPECT_FALSE(changes.watch(before, Clock::now())) << "no change, deadline passed";
    changes.bump();
    EXPECT_TRUE(changes.watch(before, Clock::now())) << "a change made before the watch";
    EXPECT_FALSE(changes.watch(changes.seen(), Clock::now()));

    // A change from another thread ends a watch whose deadline is far off.
    const uint64_t seen = changes.seen();
    std::thread other([&changes] { changes.bump(); });
    EXPECT_TRUE(changes.watch(seen, Clock::now() + std::chrono::hours(1)));
    other.join();
}

struct WatchCase {
    const char *name;
    bool readyAtOnce;
    bool gone;
    bool fed; // another thread makes it ready
};

class WatchBeforeSleep : public ::testing::TestWithParam<WatchCase> {};

TEST_P(WatchBeforeSleep, EndsWithTheLockHeld)
{
    const WatchCase &c = GetParam();
    std::mutex mutex;
    ChangeCount changes;
    bool ready = c.readyAtOnce;
    std::unique_lock lock(mutex);
    std::thread feeder;
    if (c.fed)
        feeder = std::thread([&] {
            std::lock_guard held(mutex);
            ready = true;
            changes.bump();
        });
    watchBeforeSleep(lock, changes, [&] { return ready; }, [&] { return c.gone; });
    EXPECT_TRUE(lock.owns_lock());
    // The caller's usual wait, as a stage would take it next.
    if (c.fed) {
        lock.unlock();
        feeder.join();
        lock.lock();
    }
    EXPECT_EQ(ready, c.readyAtOnce || c.fed);
}

INSTANTIATE_TEST_SUITE_P(Cases, WatchBeforeSleep,
                         ::testing::Values(WatchCase{"ReadyAtOnce", true, false, false},
                                           WatchCase{"Gone", false, true, false},
                                           WatchCase{"NothingComes", false, false, false},
                                           WatchCase{"FedByAnotherThread", false, false, true}),
                         [](const auto &tested) { return std::string(tested.param.name); });

} // namespace
