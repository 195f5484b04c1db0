#include "filesystem/FsScan.h"
#include "filesystem/HostLog.h"
#include "filesystem/OpenAt.h"

#include "filesystem/ArchiveFlag.h"
#include "filesystem/ErrnoCodes.h"
#include "filesystem/FsNames.h"
#include "core/NameList.h"
#include "core/PackedTime.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace smsemu {
namespace {

constexpr std::size_t kDirentBufferSize = 32 * 1024;

UINT32 creatorNameSpace(const std::vector<UINT32> &types)
{
    if (std::find(types.begin(), types.end(), NWSM_NAME_SPACE_NFS) != types.end())
        return NWSM_NAME_SPACE_NFS;
    return types.empty() ? NWSM_TSA_DEFINED_RESOURCE : types.front();
}

} // namespace

CCODE FsScan::begin(const std::vector<ResourceConfig> &resources, const ScanRequest &request, ArchiveContext archive,
                    std::unique_ptr<Scan> &scan)
{
    const NWSM_NAME_ENTRY *entry = firstEntry(request.resourceName);
    if (entry == nullptr)
        return NWSMTS_INVALID_PARAMETER;
    FsName start;
    if (CCODE rc = resolveFsName(resources, std::string_view(entry->name, entry->nameLength),
                                 entry->nameSpaceType == NWSM_TSA_DEFINED_RESOURCE, start))
        return rc;
    const ResourceConfig &resource = resources[start.resource];

    std::unique_ptr<FsScan> fresh(new FsScan);
    fresh->filter_.load(request.selectionList);
    if (fresh->filter_.excludesResource(resourceBaseName(resource)) || fresh->filter_.excludesWithParents(start.name))
        return NWSMTS_DATA_SET_EXCLUDED;

    UniqueFd root;
    if (CCODE rc = openResourceDirectory(resource, root))
        return rc;
    if (CCODE rc = openParentDirectory(root.get(), start, false, fresh->startParent_))
        return rc;
    fresh->startLeaf_ = start.leaf();
    if (int error = readMeta(fresh->startParent_.get(), fresh->startLeaf_.c_str(), fresh->meta_))
        return toldErrnoCode(start.name, FsStep::Open, error);

    const NWSM_SCAN_CONTROL &control = request.control;
    fresh->oneLevel_ = (control.scanType & NWSM_SCAN_TYPE_ONE_LEVEL) != 0;
    fresh->oneFileSystem_ = (control.scanType & NWSM_SCAN_TYPE_ONE_FILE_SYSTEM) != 0;
    fresh->startDevice_ = fresh->meta_.device;
    fresh->firstModified_ = control.firstModifiedDateAndTime;
    fresh->lastModified_ = control.lastModifiedDateAndTime;
    for (UINT32 type : resource.nameSpaces)
        fresh->nameTypes_.push_back(returnedNameSpace(control, type));
    if (fresh->nameTypes_.empty())
        fresh->nameTypes_.push_back(NWSM_TSA_DEFINED_RESOURCE);
    fresh->creatorNameSpace_ = creatorNameSpace(resource.nameSpaces);
    fresh->startIsResourceRoot_ = start.isResourceRoot();
    fresh->name_ = start.name;
    fresh->currentParent_ = fresh->startParent_.get();
    fresh->currentLeaf_ = fresh->startLeaf_.c_str();
    archive.resource = start.resource;
    fresh->archive_ = archive;
    // A scan of a directory, or a look at a data set the connection
    // cleared, sees the clears made on its connection before it: the host
    // begins either only once what it saved is durable. A file opened by
    // name (a scan that begins at it) writes none: a host may read it ahead
    // of what its archive holds.
    if (fresh->meta_.isDirectory() || fresh->startIsResourceRoot_ ||
        archive.flags->holds(archive.connection, archive.resource, fresh->meta_, fresh->name_))
        archive.flags->commit(archive.connection);
    if (CCODE rc = fresh->describe())
        return rc;
    // A scan that meets everything in the resource lets the flags forget
    // the files that are gone.
    if (fresh->startIsResourceRoot_ && !fresh->oneLevel_ && fresh->firstModified_ == 0 && fresh->lastModified_ == 0 &&
        request.selectionList == nullptr) {
        fresh->sweep_ = archive.flags->sweep(archive.resource);
        if (fresh->sweep_)
            fresh->sweep_->met(fresh->meta_, fresh->name_);
    }
    // The children of the start come next, at one level or all the way down.
    fresh->descendNext_ = fresh->meta_.isDirectory();
    scan = std::move(fresh);
    return 0;
}

CCODE FsScan::next()
{
    failure_ = 0;
    leftOut_ = 0;
    for (;;) {
        if (descendNext_) {
            descendNext_ = false;
            // Not listed: the directory, given already, is reported again.
            if (CCODE rc = descend())
                return report(rc, 0);
        }
        while (depth_ > 0 && levels_[depth_ - 1]->index >= levels_[depth_ - 1]->order.size()) {
            Level &done = *levels_[depth_ - 1];
            if (done.tooLong > 0) {
                std::uint64_t count = done.tooLong;
                done.tooLong = 0;
                name_.resize(done.nameLength);
                meta_ = done.meta;
                currentParent_ = done.fd.get();
                currentLeaf_ = ".";
                return report(NWSMTS_OVERFLOW, count);
            }
            if (!done.changeChecked) {
                // Entries made, removed or renamed while the walk went
                // through the directory move its modification time.
                done.changeChecked = true;
                FsMeta now;
                if (readMeta(done.fd.get(), "", now) == 0 && !sameTime(now.mtime, done.meta.mtime)) {
                    name_.resize(done.nameLength);
                    meta_ = done.meta;
                    currentParent_ = done.fd.get();
                    currentLeaf_ = ".";
                    return report(NWSMTS_DATA_SET_IN_USE, 0);
                }
            }
            done.fd.reset();
            --depth_;
        }
        if (depth_ == 0) {
            if (sweep_) {
                sweep_->end(true);
                sweep_.reset();
            }
            return NWSMTS_NO_MORE_DATA_SETS;
        }

        Level &level = *levels_[depth_ - 1];
        const char *leaf = level.pool.data() + level.order[level.index++];
        name_.resize(level.nameLength);
        appendChild(name_, leaf);
        if (name_.size() > NWSM_MAX_NAME) {
            // Cannot be named; counted unless the time range leaves it out anyway.
            int error = readMeta(level.fd.get(), leaf, meta_);
            if (error == ENOENT || (error == 0 && !meta_.isDirectory() && !inModifiedRange(meta_)))
                continue;
            level.tooLong += error == 0 && meta_.isDirectory() ? countLeftOut(level.fd.get(), leaf) : 1;
            continue;
        }
        if (filter_.excludes(name_))
            continue; // with its subtree: it is not descended into
        currentParent_ = level.fd.get();
        currentLeaf_ = leaf;
        if (int error = readMeta(level.fd.get(), leaf, meta_)) {
            // Gone since the directory was read: removed before it was read.
            meta_ = FsMeta{};
            return report(error == ENOENT ? NWSMTS_NO_DATA_SETS_FOUND : listErrorCode(error), 0);
        }
        if (!meta_.isDirectory() && !inModifiedRange(meta_))
            continue;
        if (CCODE rc = describe())
            return rc;
        if (sweep_)
            sweep_->met(meta_, name_);
        descendNext_ = meta_.isDirectory() && !oneLevel_;
        return 0;
    }
}

CCODE FsScan::report(CCODE failure, std::uint64_t leftOut)
{
    failure_ = failure;
    leftOut_ = leftOut;
    return describe();
}

CCODE FsScan::descend()
{
    int fd = openAtRetrying(currentParent_, currentLeaf_, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // A directory removed or replaced since it was described: what it
        // held cannot be given, and the scan says so.
        if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)
            return NWSMTS_DATA_SET_IN_USE;
        return listErrorCode(errno);
    }
    // The start is entered wherever it lies; below it, no other mount.
    if (oneFileSystem_ && depth_ > 0 && crossesMount(fd)) {
        close(fd);
        return NWSMTS_DATA_SET_EXCLUDED;
    }
    if (depth_ == levels_.size())
        levels_.push_back(std::make_unique<Level>());
    Level &level = *levels_[depth_++];
    level.fd.reset(fd);
    level.nameLength = name_.size();
    level.meta = meta_;
    level.tooLong = 0;
    level.changeChecked = false;
    if (CCODE rc = list(level)) {
        // What was read of a listing that failed is not given.
        level.fd.reset();
        level.order.clear();
        --depth_;
        return rc;
    }
    return 0;
}

// A mount of the same file system (a bind mount) has the same device: the
// kernel's mount-root attribute tells it, where the kernel gives it.
bool FsScan::crossesMount(int directory) const
{
    struct statx x {};
    if (statx(directory, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &x) != 0)
        return false;
    if ((x.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 && (x.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0)
        return true;
    return makedev(x.stx_dev_major, x.stx_dev_minor) != startDevice_;
}

CCODE FsScan::list(Level &level)
{
    level.pool.clear();
    level.order.clear();
    level.index = 0;
    if (direntBuffer_.empty())
        direntBuffer_.resize(kDirentBufferSize);
    for (;;) {
        ssize_t got = getdents64(level.fd.get(), direntBuffer_.data(), direntBuffer_.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return listErrorCode(errno);
        if (got == 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto *entry = reinterpret_cast<const struct dirent64 *>(direntBuffer_.data() + at);
            at += entry->d_reclen;
            const char *name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                continue;
            std::size_t length = std::strlen(name);
            if (level.pool.size() + length + 1 > 0xFFFFFFFFu)
                return NWSMTS_SCAN_ERROR;
            level.order.push_back(static_cast<std::uint32_t>(level.pool.size()));
            level.pool.insert(level.pool.end(), name, name + length + 1);
        }
    }
    const char *pool = level.pool.data();
    std::sort(level.order.begin(), level.order.end(),
              [pool](std::uint32_t a, std::uint32_t b) { return std::strcmp(pool + a, pool + b) < 0; });
    return 0;
}

std::uint64_t FsScan::countLeftOut(int directory, const char *leaf)
{
    // A walk by descriptors (names below are no shorter); one open
    // directory per level, as deep as the descriptors allow.
    std::uint64_t count = 1;
    std::vector<UniqueFd> open;
    int first = openAtRetrying(directory, leaf, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (first < 0)
        return count;
    open.emplace_back(first);
    std::vector<char> buffer(kDirentBufferSize);
    while (!open.empty()) {
        ssize_t got = getdents64(open.back().get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            open.pop_back();
            continue;
        }
        const int at = open.back().get();
        for (ssize_t offset = 0; offset < got;) {
            const auto *entry = reinterpret_cast<const struct dirent64 *>(buffer.data() + offset);
            offset += entry->d_reclen;
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            FsMeta below;
            if (readMeta(at, entry->d_name, below) != 0)
                continue;
            if (!below.isDirectory()) {
                count += inModifiedRange(below) ? 1 : 0;
                continue;
            }
            ++count;
            int fd = openAtRetrying(at, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0)
                open.emplace_back(fd);
        }
    }
    return count;
}

bool FsScan::inModifiedRange(const FsMeta &meta) const
{
    if (firstModified_ == 0 && lastModified_ == 0)
        return true;
    // Packed date-times compare in time order (year in the high bits).
    UINT32 modified = packLocalTime(meta.mtime.tv_sec);
    return (firstModified_ == 0 || modified >= firstModified_) && (lastModified_ == 0 || modified <= lastModified_);
}

CCODE FsScan::describe()
{
    record_.clear();
    NWSM_SCAN_INFORMATION &information = *record_.information();
    if (failure_ != 0) {
        // A report: archive flag set (it is not saved), the size the count left out.
        describeMeta(meta_, true, creatorNameSpace_, information);
        information.primaryDataStreamSize = leftOut_ > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<UINT32>(leftOut_);
        information.totalStreamsDataSize = 0;
    } else {
        describeMeta(meta_, archive_.flags->isSet(archive_.resource, currentParent_, currentLeaf_, meta_, name_),
                     creatorNameSpace_, information);
    }
    for (UINT32 type : nameTypes_)
        if (CCODE rc = record_.addName(NameFields{type, 0, 0, "/", "/", name_}))
            return rc;
    return 0;
}

} // namespace smsemu
