#include "filesystem/DirectoryTimes.h"

#include "filesystem/FsNames.h"

#include <algorithm>
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
        if (openResourceDirectory(resources[name.resource], root) != 0 ||
            openParentDirectory(root.get(), name, false, parent) != 0)
            continue;
        // A change of mode leaves the times alone.
        if (what.mode)
            fchmodat(parent.get(), name.leaf(), what.bits, 0);
        if (what.times) {
            timespec both[2] = {what.accessed, what.modified};
            utimensat(parent.get(), name.leaf(), both, AT_SYMLINK_NOFOLLOW);
        }
    }
}

} // namespace smsemu
