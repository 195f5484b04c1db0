// Per-library bookkeeping of the exported SMS calls: call counters, injected
// faults and the trace. Each library (libsmsut, libsmdr) has one CallLog of its
// own; the requester's test API reaches the utilities' one through the
// internal functions of UtilitiesLog.h.
#pragma once

#include "core/Faults.h"
#include "core/Functions.h"
#include "SMSAPI.h"
#include "core/Trace.h"

#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <string>

namespace smsemu {

class CallLog {
public:
    // `reportsProblems`: whether this log writes a malformed SMSEMU_FAULTS or
    // an unusable SMSEMU_TRACE to stderr (only one library does, so that a
    // problem is reported once per process and reset).
    // `firstLoad`, if given, runs when the log loads for the first time (not
    // on reload).
    explicit CallLog(bool reportsProblems, void (*firstLoad)() = nullptr)
        : reportsProblems_(reportsProblems), firstLoad_(firstLoad)
    {
    }

    // Reads SMSEMU_TRACE and SMSEMU_FAULTS again and clears the counters.
    void reload();
    // Reads them if that has not happened yet.
    void ensureLoaded();

    struct Start {
        CCODE fault; // injected code, or 0
        bool trace;  // a trace line is wanted
    };
    // Counts one call of `fn` and tells whether it is to fail.
    Start start(Fn fn);
    // Counts one call of `fn` that reached connection `handle` where a
    // fault aims at that connection; the code it is to fail with, or 0.
    CCODE reached(Fn fn, UINT32 handle);
    void write(const std::string &line);
    unsigned count(Fn fn);

private:
    void loadLocked();
    void firstLoadLocked();

    std::mutex mutex_;
    // Set under the lock, read without it: a call that finds the log loaded
    // takes no lock (the fault plan and the trace file change only on a
    // reload, which a test makes while no call runs).
    std::atomic<bool> loaded_{false};
    bool reportsProblems_;
    void (*firstLoad_)();
    TraceFile trace_;
    FaultPlan faults_;
    // Counted without the lock: connections driven from several threads
    // would otherwise wait for each other at every call.
    std::array<std::atomic<unsigned>, kFunctionCount> counts_{};
    std::map<std::pair<UINT32, Fn>, unsigned> connectionCounts_;
    // Whether any fault aims at one connection: the calls that reach a
    // connection ask without the lock.
    std::atomic<bool> aimed_{false};
};

// Starts a call of a function without a completion code; never throws (a
// start that fails is neither counted nor traced).
inline CallLog::Start startCall(CallLog &log, Fn fn) noexcept
{
    try {
        return log.start(fn);
    } catch (...) {
        return {0, false};
    }
}

// Writes a finished trace line; never throws.
template <class Build>
void traceCall(CallLog &log, Fn fn, Build &&build) noexcept
{
    try {
        TraceLine line(functionInfo(fn).name);
        log.write(build(line));
    } catch (...) {
        // A trace line that cannot be built is dropped.
    }
}

// Runs one exported call that returns a completion code: counts it, applies an
// injected fault instead of the body, and traces it. `body()` returns the
// code; `args(line, rc)` adds the arguments to the trace line. Exceptions never
// leave: running out of memory answers `outOfMemory`, anything else
// NWSMTS_INTERNAL_ERROR.
template <class Body, class Args>
CCODE runCall(CallLog &log, Fn fn, CCODE outOfMemory, Body &&body, Args &&args) noexcept
{
    CCODE rc = 0;
    CallLog::Start start{0, false};
    try {
        start = log.start(fn);
        rc = start.fault != 0 ? start.fault : body();
    } catch (const std::bad_alloc &) {
        rc = outOfMemory;
    } catch (...) {
        rc = NWSMTS_INTERNAL_ERROR;
    }
    if (start.trace)
        traceCall(log, fn, [&](TraceLine &line) {
            args(line, rc);
            return line.endCode(rc);
        });
    return rc;
}

} // namespace smsemu
