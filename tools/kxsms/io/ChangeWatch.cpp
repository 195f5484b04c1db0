#include "io/ChangeWatch.h"

#include <thread>

namespace kxsms {

namespace {

// One moment of a watch: the processor is told this is a wait loop.
void spinPause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// Moments between two looks at the clock (and two yields).
constexpr unsigned c_MomentsPerLook = 32;

} // namespace

bool ChangeCount::watch(uint64_t seen, std::chrono::steady_clock::time_point until) const
{
    for (unsigned moment = 1;; ++moment) {
        if (count_.load(std::memory_order_acquire) != seen)
            return true;
        spinPause();
        if (moment % c_MomentsPerLook == 0) {
            if (std::chrono::steady_clock::now() >= until)
                return false;
            std::this_thread::yield();
        }
    }
}

} // namespace kxsms
