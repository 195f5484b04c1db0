// A short watch for work before a thread sleeps on a condition variable.
//
// Waking a sleeping thread costs its waker more here than the work a
// pipeline's stage does on one block or one small file (a sleeping virtual
// processor is woken by another). A stage whose next work usually comes
// within a fraction of a millisecond watches for it a while first; whoever
// feeds it then finds nobody to wake.
#ifndef KXSMS_IO_CHANGEWATCH_H
#define KXSMS_IO_CHANGEWATCH_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

namespace kxsms {

// Counts the changes a waiting thread looks for. Bumped under the lock that
// guards what changed, read without it.
class ChangeCount {
public:
    void bump() { count_.fetch_add(1, std::memory_order_release); }
    uint64_t seen() const { return count_.load(std::memory_order_acquire); }
    // Watches for a change from `seen` until `until`, pausing the processor
    // and giving it to any other thread every few moments; whether one came.
    bool watch(uint64_t seen, std::chrono::steady_clock::time_point until) const;

private:
    std::atomic<uint64_t> count_{0};
};

// How long a stage watches before it sleeps: about the time between two
// blocks of a large file, or two small files, from a busy producer.
constexpr std::chrono::microseconds c_WatchBeforeSleep{200};

// Watches (with the lock released) while changes come and ready() is not
// yet true, for at most c_WatchBeforeSleep; the caller then waits on its
// condition variable as usual if ready() is still false. `gone()` ends the
// watch early (a stop).
template <typename Ready, typename Gone>
void watchBeforeSleep(std::unique_lock<std::mutex> &lock, const ChangeCount &changes, Ready ready, Gone gone)
{
    const auto until = std::chrono::steady_clock::now() + c_WatchBeforeSleep;
    while (!ready() && !gone()) {
        const uint64_t seen = changes.seen();
        lock.unlock();
        const bool came = changes.watch(seen, until);
        lock.lock();
        if (!came)
            return;
    }
}

} // namespace kxsms

#endif
