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
    std::lock_guard lock(mutex_);
    if (!loaded_)
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
    loaded_ = true;
    counts_ = {};
    connectionCounts_.clear();
    std::string problem;
    if (!trace_.open(environment("SMSEMU_TRACE"), problem) && reportsProblems_)
        std::fprintf(stderr, "smsemu: SMSEMU_TRACE: %s; calls are not traced\n", problem.c_str());
    if (!faults_.parse(environment("SMSEMU_FAULTS"), problem) && reportsProblems_)
        std::fprintf(stderr, "smsemu: SMSEMU_FAULTS: %s; the setting is ignored\n", problem.c_str());
    aimed_.store(faults_.aimsAtConnections(), std::memory_order_relaxed);
}

CallLog::Start CallLog::start(Fn fn)
{
    std::lock_guard lock(mutex_);
    if (!loaded_)
        firstLoadLocked();
    unsigned &count = counts_[static_cast<std::size_t>(fn)];
    if (count != ~0u)
        ++count;
    CCODE fault = functionInfo(fn).returnsCode ? faults_.faultFor(fn, count) : 0;
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
    std::lock_guard lock(mutex_);
    return counts_[static_cast<std::size_t>(fn)];
}

} // namespace smsemu
