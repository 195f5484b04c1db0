// What the fault seam is asked to do, read from the environment:
//
//   SYSFAULTS="write@3=ENOSPC,fsync@*=EIO,pwrite@2+=EDQUOT,read@1=SHORT"
//     call@N   the N-th call (from 1) of that name fails
//     call@N+  the N-th and every later call fails (a disk that stays full)
//     call@*   every call fails (the same as @1+)
//     =ERRNO   with that error: a name such as ENOSPC, or a number; EINTR
//              fails every other call of an @N+ or @* rule, the first of
//              them included, so that code which retries gets through
//     =SHORT   a read or write moves half the bytes asked for (at least 1)
//   SYSFAULTS_PROGRAM="kxsms"   only in processes of that name (default: all)
//   SYSFAULTS_PATHS="/a:/b"     only calls on files at or below these paths
//                               (absolute; default: every file)
//   SYSFAULTS_TRACE="file"      appends a line per call counted: name, its
//                               number, the path, the result
//
// Only the calls the filters let through are counted, so a trace run and a
// later run that makes one of its calls fail count alike.
#ifndef KXSMS_TESTS_SYSCALLFAULTS_FAULTPLAN_H
#define KXSMS_TESTS_SYSCALLFAULTS_FAULTPLAN_H

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Calls.h"

namespace sysfaults {

struct Fault {
    int error = 0;              // the errno, or 0 for a short transfer
    bool shortTransfer = false; // SHORT: half the bytes, no error
};

class FaultPlan {
public:
    // Reads a SYSFAULTS setting. A malformed one yields false with the
    // reason in problem and leaves the plan empty.
    bool parse(std::string_view setting, std::string &problem);
    bool empty() const;

    // The fault of the count-th call (from 1) of call, if it has one.
    std::optional<Fault> faultFor(Call call, unsigned long count) const;

private:
    struct Rule {
        unsigned long first = 0; // the first call that fails
        bool onwards = false;    // and every one after it
        Fault fault;
    };
    std::array<std::vector<Rule>, kCallCount> rules_{};
};

// An errno by its name ("ENOSPC") or number; nothing for an unknown name.
std::optional<int> errnoByName(std::string_view name);
// The name of an errno ("ENOSPC"), or its number as text.
std::string errnoName(int error);

// Whether path is one of the prefixes or lies below one (whole components).
bool pathSelected(std::string_view path, const std::vector<std::string> &prefixes);
// The prefixes of a SYSFAULTS_PATHS setting (colon-separated).
std::vector<std::string> splitPaths(std::string_view setting);

} // namespace sysfaults

#endif
