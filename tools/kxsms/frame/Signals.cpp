// Noting the signals that ask a job to stop.
#include "frame/Signals.h"

#include <atomic>
#include <csignal>
#include <cstring>

namespace kxsms {

namespace {

// Read by every thread of a job; lock-free, so the handler may set it.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void noteSignal(int number)
{
    // The first one counts; later ones (a second Ctrl-C) change nothing, so
    // that the clean end is not cut short.
    int none = 0;
    g_signal.compare_exchange_strong(none, number);
}

} // namespace

void installInterruptHandlers()
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

int interruptSignal()
{
    return g_signal;
}

int interruptedStatus()
{
    return 128 + g_signal;
}

std::string interruptText()
{
    switch (g_signal.load()) {
    case SIGINT:
        return "interrupted by SIGINT";
    case SIGTERM:
        return "interrupted by SIGTERM";
    case SIGHUP:
        return "interrupted by SIGHUP";
    default:
        return "interrupted by signal " + std::to_string(g_signal.load());
    }
}

} // namespace kxsms
