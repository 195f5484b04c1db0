#include "filesystem/FsMeta.h"

#include "core/PackedTime.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace smsemu {
namespace {

timespec fromStatx(const struct statx_timestamp &t)
{
    return timespec{static_cast<time_t>(t.tv_sec), t.tv_nsec};
}

} // namespace

bool FsMeta::isDirectory() const
{
    return S_ISDIR(mode);
}
bool FsMeta::isSymlink() const
{
    return S_ISLNK(mode);
}
bool FsMeta::isRegular() const
{
    return S_ISREG(mode);
}
bool FsMeta::isSpecial() const
{
    return S_ISFIFO(mode) || S_ISCHR(mode) || S_ISBLK(mode);
}
bool FsMeta::isSocket() const
{
    return S_ISSOCK(mode);
}

int readMeta(int directory, const char *name, FsMeta &meta)
{
    struct statx x {};
    int flags = AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT | (name[0] == '\0' ? AT_EMPTY_PATH : 0);
    if (statx(directory, name, flags, STATX_BASIC_STATS | STATX_BTIME, &x) != 0)
        return errno;
    meta.mode = x.stx_mode;
    meta.uid = x.stx_uid;
    meta.gid = x.stx_gid;
    meta.size = x.stx_size;
    meta.blocks = x.stx_blocks;
    meta.inode = x.stx_ino;
    meta.device = makedev(x.stx_dev_major, x.stx_dev_minor);
    meta.links = x.stx_nlink;
    meta.rdevMajor = x.stx_rdev_major;
    meta.rdevMinor = x.stx_rdev_minor;
    meta.atime = fromStatx(x.stx_atime);
    meta.mtime = fromStatx(x.stx_mtime);
    meta.ctime = fromStatx(x.stx_ctime);
    meta.hasBirthTime = (x.stx_mask & STATX_BTIME) != 0;
    meta.btime = meta.hasBirthTime ? fromStatx(x.stx_btime) : timespec{};
    return 0;
}

bool sameTime(const timespec &a, const timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool earlierTime(const timespec &a, const timespec &b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

std::uint64_t reportedSize(const FsMeta &meta)
{
    return meta.isRegular() ? meta.size : 0;
}

void describeMeta(const FsMeta &meta, bool archive, UINT32 creatorNameSpace, NWSM_SCAN_INFORMATION &info)
{
    UINT32 attributes = 0;
    if (meta.isDirectory())
        attributes |= NWSM_ATTR_DIRECTORY;
    if (meta.isSymlink())
        attributes |= NWSM_ATTR_SYMLINK;
    else if ((meta.mode & S_IWUSR) == 0)
        attributes |= NWSM_ATTR_READ_ONLY;
    if (archive)
        attributes |= NWSM_ATTR_ARCHIVE;
    info.attributes = attributes;
    info.creatorNameSpaceNumber = creatorNameSpace;

    std::uint64_t size = reportedSize(meta);
    info.primaryDataStreamSize = size < (std::uint64_t{1} << 32) ? static_cast<UINT32>(size) : 0;
    std::uint64_t blocks = size / 4096 + (size % 4096 != 0 ? 1 : 0);
    info.totalStreamsDataSize = blocks > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<UINT32>(blocks);
    info.parentFlag = meta.isDirectory() ? 1 : 0;

    // A restored file is born at the restore: its creation is never reported
    // later than its modification.
    timespec created = meta.mtime;
    if (meta.hasBirthTime && earlierTime(meta.btime, created))
        created = meta.btime;
    // The three times are often the same second: each distinct one is packed once.
    info.modifiedDateAndTime = packLocalTime(meta.mtime.tv_sec);
    info.createDateAndTime =
        created.tv_sec == meta.mtime.tv_sec ? info.modifiedDateAndTime : packLocalTime(created.tv_sec);
    // A birth time that has no packed form (file systems report 0, the epoch,
    // where they keep none) would read as a missing creation time, which the
    // host fills with its scan start time and then raises the modification
    // time to: the modification time stands in for it.
    if (info.createDateAndTime == 0)
        info.createDateAndTime = info.modifiedDateAndTime;
    info.accessDateAndTime =
        meta.atime.tv_sec == meta.mtime.tv_sec ? info.modifiedDateAndTime : packLocalTime(meta.atime.tv_sec);
}

} // namespace smsemu
