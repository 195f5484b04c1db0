#include "filesystem/RestoreFolders.h"

namespace smsemu {

void RestoreFolders::keyOf(const FsName &name, std::string &key)
{
    key.assign(std::to_string(name.resource));
    const std::size_t parents = name.components.empty() ? 0 : name.components.size() - 1;
    for (std::size_t i = 0; i < parents; ++i) {
        key += '/';
        key += name.components[i];
    }
}

CCODE RestoreFolders::rootOf(const std::vector<ResourceConfig> &resources, std::size_t resource, int &fd)
{
    if (!root_ || rootResource_ != resource) {
        root_.reset();
        forgetFolder();
        if (CCODE rc = openResourceDirectory(resources[resource], root_))
            return rc;
        rootResource_ = resource;
    }
    fd = root_.get();
    return 0;
}

CCODE RestoreFolders::parentOf(int root, const FsName &name, bool create, Folder &folder, int *error)
{
    const unsigned long removals = removals_.load(std::memory_order_acquire);
    keyOf(name, scratch_);
    if (folder_ && removals == removalsSeen_ && scratch_ == key_) {
        folder = folder_;
        return 0;
    }
    forgetFolder();
    UniqueFd opened;
    if (CCODE rc = openParentDirectory(root, name, create, opened, error))
        return rc;
    folder_ = std::make_shared<Held>();
    folder_->fd = std::move(opened);
    key_.swap(scratch_);
    removalsSeen_ = removals;
    folder = folder_;
    return 0;
}

void RestoreFolders::forgetFolder()
{
    folder_.reset();
    key_.clear();
}

} // namespace smsemu
