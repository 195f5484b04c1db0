#include "core/CallLog.h"

#include <cstdio>
#include <cstdlib>

namespace smsemu {
namespace {

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

} // namespace

void CallLog::reload()
{
    std::lock_guard lock(mutex_);
    loadLocked();
}

void CallLog::ensureLoaded()
{
    if (loaded_.load(std::memory_order_acquire))
        return;
    std::lock_guard lock(mutex_);
    if (!loaded_.load(std::memory_order_relaxed))
        firstLoadLocked();
}

void CallLog::firstLoadLocked()
{
    if (firstLoad_ != nullptr)
        firstLoad_();
    loadLocked();
}

void CallLog::loadLocked()
{
    for (std::atomic<unsigned> &count : counts_)
        count.store(0, std::memory_order_relaxed);
    connectionCounts_.clear();
    std::string problem;
    if (!trace_.open(environment("SMSEMU_TRACE"), problem) && reportsProblems_)
        std::fprintf(stderr, "smsemu: SMSEMU_TRACE: %s; calls are not traced\n", problem.c_str());
    if (!faults_.parse(environment("SMSEMU_FAULTS"), problem) && reportsProblems_)
        std::fprintf(stderr, "smsemu: SMSEMU_FAULTS: %s; the setting is ignored\n", problem.c_str());
    aimed_.store(faults_.aimsAtConnections(), std::memory_order_relaxed);
    loaded_.store(true, std::memory_order_release);
}

CallLog::Start CallLog::start(Fn fn)
{
    ensureLoaded();
    // This call's number among the calls of fn (which stays at its largest
    // value rather than wrap).
    std::atomic<unsigned> &count = counts_[static_cast<std::size_t>(fn)];
    unsigned call = count.load(std::memory_order_relaxed);
    while (call != ~0u && !count.compare_exchange_weak(call, call + 1, std::memory_order_relaxed))
        ;
    if (call != ~0u)
        ++call;
    CCODE fault = functionInfo(fn).returnsCode ? faults_.faultFor(fn, call) : 0;
    return {fault, trace_.enabled()};
}

CCODE CallLog::reached(Fn fn, UINT32 handle)
{
    if (!aimed_.load(std::memory_order_relaxed))
        return 0;
    std::lock_guard lock(mutex_);
    if (!faults_.aimsAtConnections(fn))
        return 0;
    unsigned &count = connectionCounts_[{handle, fn}];
    if (count != ~0u)
        ++count;
    return faults_.faultFor(fn, handle, count);
}

void CallLog::write(const std::string &line)
{
    std::lock_guard lock(mutex_);
    trace_.write(line);
}

unsigned CallLog::count(Fn fn)
{
    return counts_[static_cast<std::size_t>(fn)].load(std::memory_order_relaxed);
}

} // namespace smsemu
