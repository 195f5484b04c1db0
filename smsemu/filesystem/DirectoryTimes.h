// Times of restored directories, applied when the connection logs out of
// its target service: restoring a directory's children changes its times,
// so they are set last, deepest directories first.
#pragma once

#include "requester/Config.h"

#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace smsemu {

class DirectoryTimes {
public:
    // Keeps the times of a directory (the last record of a name wins).
    void record(const std::string &name, timespec accessed, timespec modified);
    // Sets every recorded time (through the same confinement as any name)
    // and forgets them. Directories that are gone are passed over.
    void apply(const std::vector<ResourceConfig> &resources);

private:
    std::mutex mutex_;
    std::map<std::string, std::pair<timespec, timespec>> times_;
};

} // namespace smsemu
