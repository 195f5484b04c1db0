#include "filesystem/DirectoryTimes.h"

#include "filesystem/FsNames.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

namespace smsemu {

void DirectoryTimes::record(const std::string &name, timespec accessed, timespec modified)
{
    std::lock_guard lock(mutex_);
    times_[name] = {accessed, modified};
}

void DirectoryTimes::apply(const std::vector<ResourceConfig> &resources)
{
    std::map<std::string, std::pair<timespec, timespec>> pending;
    {
        std::lock_guard lock(mutex_);
        pending.swap(times_);
    }
    std::vector<std::pair<FsName, std::pair<timespec, timespec>>> order;
    for (const auto &[name, times] : pending) {
        FsName resolved;
        if (resolveFsName(resources, name, false, resolved) == 0)
            order.emplace_back(std::move(resolved), times);
    }
    std::stable_sort(order.begin(), order.end(), [](const auto &a, const auto &b) {
        return a.first.components.size() > b.first.components.size();
    });
    for (const auto &[name, times] : order) {
        UniqueFd root, parent;
        if (openResourceDirectory(resources[name.resource], root) != 0 ||
            openParentDirectory(root.get(), name, false, parent) != 0)
            continue;
        timespec both[2] = {times.first, times.second};
        utimensat(parent.get(), name.leaf(), both, AT_SYMLINK_NOFOLLOW);
    }
}

} // namespace smsemu
