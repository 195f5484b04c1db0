#include "ArchiveFlag.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/xattr.h>

namespace smsemu {
namespace {

// Version 1: version byte, 3 zero bytes, mtime seconds (int64), mtime
// nanoseconds (uint32), size (uint64), inode (uint64); little-endian.
constexpr std::size_t kRecordSize = 4 + 8 + 4 + 8 + 8;

template <class T> void put(unsigned char *&at, T value)
{
    for (std::size_t i = 0; i < sizeof(T); ++i)
        *at++ = static_cast<unsigned char>(static_cast<std::uint64_t>(value) >> (8 * i));
}

void encode(const FsMeta &meta, unsigned char (&record)[kRecordSize])
{
    unsigned char *at = record;
    put<std::uint32_t>(at, 1);
    put<std::int64_t>(at, meta.mtime.tv_sec);
    put<std::uint32_t>(at, static_cast<std::uint32_t>(meta.mtime.tv_nsec));
    put<std::uint64_t>(at, meta.size);
    put<std::uint64_t>(at, meta.inode);
}

bool unsupported(int error) { return error == ENOTSUP || error == EPERM; }

} // namespace

bool archiveFlagSet(int directory, const char *leaf, const FsMeta &meta)
{
    if (meta.isSymlink())
        return true;
    // The attribute is read through the directory's descriptor, so the name
    // is looked up where the scan stands and a final symbolic link is not
    // followed.
    char path[64 + 256];
    int length = std::snprintf(path, sizeof path, "/proc/self/fd/%d/%s", directory, leaf);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path)
        return true;
    unsigned char stored[kRecordSize + 1];
    ssize_t got = lgetxattr(path, kArchiveAttribute, stored, sizeof stored);
    if (got != static_cast<ssize_t>(kRecordSize))
        return true;
    unsigned char now[kRecordSize];
    encode(meta, now);
    return std::memcmp(stored, now, kRecordSize) != 0;
}

CCODE clearArchiveFlag(int fd, const FsMeta &backedUp)
{
    if (fd < 0 || backedUp.isSymlink())
        return 0;
    unsigned char record[kRecordSize];
    encode(backedUp, record);
    if (fsetxattr(fd, kArchiveAttribute, record, sizeof record, 0) == 0 || unsupported(errno))
        return 0;
    return NWSMTS_SET_FILE_INFO_ERR;
}

CCODE setArchiveFlag(int fd)
{
    if (fd < 0)
        return 0;
    if (fremovexattr(fd, kArchiveAttribute) == 0 || errno == ENODATA || unsupported(errno))
        return 0;
    return NWSMTS_SET_FILE_INFO_ERR;
}

} // namespace smsemu
