// The seam's state in a process and the decision for one call: whether the
// filters count it, its number, and the fault it meets; then its trace line.
#ifndef KXSMS_TESTS_SYSCALLFAULTS_SEAM_H
#define KXSMS_TESTS_SYSCALLFAULTS_SEAM_H

#include <sys/types.h>

#include <optional>
#include <string>

#include "Calls.h"
#include "FaultPlan.h"

namespace sysfaults {

// Where a call acts: a descriptor, or a name relative to a directory
// descriptor (AT_FDCWD for the working directory).
std::string pathOfFd(int fd);
std::string pathAt(int directory, const char *name);

class Decision {
public:
    // Counts the call when the process and its path are selected; path is
    // only computed then.
    template <class PathOf>
    Decision(Call call, PathOf &&pathOf)
    {
        if (!selectedProcess())
            return;
        path_ = pathOf();
        count(call);
    }

    // The call is to fail without being made: traces it, sets errno, -1.
    bool fails() const { return fault_ && !fault_->shortTransfer; }
    long fail() const;
    // A read or write moves fewer bytes: the size to pass on.
    size_t size(size_t asked) const;
    // The call was made and answered result (errno as it left it): traces
    // it and gives result back with errno untouched.
    long done(long result) const;
    // close: made whatever the fault; answers the fault's error when there is one.
    long closed(long result) const;

private:
    static bool selectedProcess();
    void count(Call call);
    void trace(long result, int error, const char *note) const;

    bool counted_ = false;
    Call call_ = Call::read;
    unsigned long number_ = 0;
    std::optional<Fault> fault_;
    std::string path_;
};

} // namespace sysfaults

#endif
