// Times of restored directories, applied when the connection logs out of
// its target service: restoring a directory's children changes its times,
// so they are set last, deepest directories first. A mode that would keep
// the restoring user from writing the children (no owner write or search
// permission, for a user without the power to pass over it) is applied
// then too; until then the directory is open to its owner.
#pragma once

#include "requester/Config.h"

#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace smsemu {

class DirectoryTimes {
public:
    // Keeps the times of a directory (the last record of a name wins).
    void record(const std::string &name, timespec accessed, timespec modified);
    // Keeps the mode a directory gets at the end.
    void recordMode(const std::string &name, mode_t mode);
    // Sets every recorded mode and time (through the same confinement as
    // any name) and forgets them. Directories that are gone are passed over;
    // one whose mode or times cannot be set is named with the cause in the
    // host's log (HostLog.h), where the host finds it after the logout.
    void apply(const std::vector<ResourceConfig> &resources);

private:
    struct Pending {
        bool times = false;
        timespec accessed{};
        timespec modified{};
        bool mode = false;
        mode_t bits = 0;
    };
    std::mutex mutex_;
    std::map<std::string, Pending> pending_;
};

} // namespace smsemu
