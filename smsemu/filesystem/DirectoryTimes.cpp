#include "filesystem/DirectoryTimes.h"

#include "filesystem/FsNames.h"
#include "filesystem/HostLog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace smsemu {

void DirectoryTimes::record(const std::string &name, timespec accessed, timespec modified)
{
    std::lock_guard lock(mutex_);
    Pending &pending = pending_[name];
    pending.times = true;
    pending.accessed = accessed;
    pending.modified = modified;
}

void DirectoryTimes::recordMode(const std::string &name, mode_t mode)
{
    std::lock_guard lock(mutex_);
    Pending &pending = pending_[name];
    pending.mode = true;
    pending.bits = mode;
}

void DirectoryTimes::apply(const std::vector<ResourceConfig> &resources)
{
    std::map<std::string, Pending> pending;
    {
        std::lock_guard lock(mutex_);
        pending.swap(pending_);
    }
    std::vector<std::pair<FsName, Pending>> order;
    for (const auto &[name, what] : pending) {
        FsName resolved;
        if (resolveFsName(resources, name, false, resolved) == 0)
            order.emplace_back(std::move(resolved), what);
    }
    std::stable_sort(order.begin(), order.end(), [](const auto &a, const auto &b) {
        return a.first.components.size() > b.first.components.size();
    });
    for (const auto &[name, what] : order) {
        UniqueFd root, parent;
        int error = 0;
        if (openResourceDirectory(resources[name.resource], root) != 0) {
            tellHost(name.name, std::string("mode and times not set: cannot open its resource: ") +
                                    std::strerror(errno));
            continue;
        }
        if (CCODE rc = openParentDirectory(root.get(), name, false, parent, &error)) {
            // Gone since (a chain removed it): nothing to set.
            if (rc != NWSMTS_NO_DATA_SETS_FOUND)
                tellHost(name.name, std::string("mode and times not set: cannot open its parent: ") +
                                        std::strerror(error != 0 ? error : EACCES));
            continue;
        }
        // A change of mode leaves the times alone.
        if (what.mode && fchmodat(parent.get(), name.leaf(), what.bits, 0) != 0 && errno != ENOENT)
            tellHost(name.name, std::string("mode not set: ") + std::strerror(errno));
        if (what.times) {
            timespec both[2] = {what.accessed, what.modified};
            if (utimensat(parent.get(), name.leaf(), both, AT_SYMLINK_NOFOLLOW) != 0 && errno != ENOENT)
                tellHost(name.name, std::string("times not set: ") + std::strerror(errno));
        }
    }
}

} // namespace smsemu
