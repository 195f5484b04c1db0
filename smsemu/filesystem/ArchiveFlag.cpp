#include "filesystem/ArchiveFlag.h"

#include "filesystem/StoredArchiveFlags.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>

namespace smsemu {
namespace {

// Version 1: version byte, 3 zero bytes, mtime seconds (int64), mtime
// nanoseconds (uint32), size (uint64), inode (uint64); little-endian.
constexpr std::size_t kRecordSize = 4 + 8 + 4 + 8 + 8;

template <class T>
void put(unsigned char *&at, T value)
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

bool unsupported(int error)
{
    return error == ENOTSUP || error == EPERM;
}

// getxattrat(2) (Linux 6.13): reads an attribute relative to a directory
// descriptor in one lookup. Older kernels answer ENOSYS once, and the reads
// then go through /proc/self/fd, which costs a second path walk.
#ifndef SYS_getxattrat
#define SYS_getxattrat 464
#endif
struct XattrArgs {
    std::uint64_t value;
    std::uint32_t size;
    std::uint32_t flags;
};
// SMSEMU_PORTABLE=1 takes the older way from the start (tests of it run so).
std::atomic<bool> g_noGetxattrat{std::getenv("SMSEMU_PORTABLE") != nullptr};

ssize_t readAttribute(int directory, const char *leaf, unsigned char *value, std::size_t size)
{
    if (!g_noGetxattrat.load(std::memory_order_relaxed)) {
        XattrArgs args{reinterpret_cast<std::uintptr_t>(value), static_cast<std::uint32_t>(size), 0};
        const long got =
            syscall(SYS_getxattrat, directory, leaf, AT_SYMLINK_NOFOLLOW, kArchiveAttribute, &args, sizeof args);
        if (got >= 0 || errno != ENOSYS)
            return got;
        g_noGetxattrat.store(true, std::memory_order_relaxed);
    }
    char path[64 + 256];
    const int length = std::snprintf(path, sizeof path, "/proc/self/fd/%d/%s", directory, leaf);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path)
        return -1;
    return lgetxattr(path, kArchiveAttribute, value, size);
}

bool attributeFlagSet(int directory, const char *leaf, const FsMeta &meta)
{
    if (meta.isSymlink())
        return true;
    // The attribute is read through the directory's descriptor, so the name
    // is looked up where the scan stands and a final symbolic link is not
    // followed.
    unsigned char stored[kRecordSize + 1];
    const ssize_t got = readAttribute(directory, leaf, stored, sizeof stored);
    if (got != static_cast<ssize_t>(kRecordSize))
        return true;
    unsigned char now[kRecordSize];
    encode(meta, now);
    return std::memcmp(stored, now, kRecordSize) != 0;
}

CCODE clearAttribute(int fd, const FsMeta &backedUp)
{
    if (fd < 0 || backedUp.isSymlink())
        return 0;
    unsigned char record[kRecordSize];
    encode(backedUp, record);
    if (fsetxattr(fd, kArchiveAttribute, record, sizeof record, 0) == 0 || unsupported(errno))
        return 0;
    return NWSMTS_SET_FILE_INFO_ERR;
}

CCODE removeAttribute(int fd)
{
    if (fd < 0)
        return 0;
    if (fremovexattr(fd, kArchiveAttribute) == 0 || errno == ENODATA || unsupported(errno))
        return 0;
    return NWSMTS_SET_FILE_INFO_ERR;
}

class XattrArchiveFlags : public ArchiveFlags {
public:
    // The attribute travels with the file: a rename keeps the flag.
    bool isSet(std::size_t, int directory, const char *leaf, const FsMeta &meta, std::string_view) override
    {
        return attributeFlagSet(directory, leaf, meta);
    }
    CCODE clear(UINT32, std::size_t, int fd, const FsMeta &backedUp, std::string_view) override
    {
        return clearAttribute(fd, backedUp);
    }
    CCODE set(UINT32, std::size_t, int fd, const FsMeta &, std::string_view) override { return removeAttribute(fd); }
};

} // namespace

std::unique_ptr<ArchiveFlags> makeArchiveFlags(const TsaConfig &config)
{
    if (config.archiveFlag == ArchiveFlagKind::Xattr)
        return std::make_unique<XattrArchiveFlags>();
    return std::make_unique<StoredArchiveFlags>(config);
}

} // namespace smsemu
