#include "filesystem/ArchiveFlag.h"

#include "filesystem/HostLog.h"
#include "filesystem/StoredArchiveFlags.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <map>
#include <mutex>
#include <string>
#include <vector>

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

// Clears wait per connection, as the store's do, and are written when the
// connection commits (a scan of a directory begins, a look at a data set it
// cleared, logout): the host makes its archive durable before each, so a job
// killed on the way leaves every attribute as it was. A held clear keeps the
// file's path (its descriptor is closed by then) and its device and inode:
// the attribute is written only to that same file, found again by path
// without following a final symbolic link; a file renamed, replaced or
// removed since keeps its flag set.
class XattrArchiveFlags : public ArchiveFlags {
public:
    // The attribute travels with the file: a rename keeps the flag.
    bool isSet(std::size_t, int directory, const char *leaf, const FsMeta &meta, std::string_view) override
    {
        return attributeFlagSet(directory, leaf, meta);
    }
    CCODE clear(UINT32 connection, std::size_t, int fd, const FsMeta &backedUp, std::string_view) override
    {
        if (fd < 0 || backedUp.isSymlink())
            return 0;
        Held held{{}, backedUp};
        char link[64];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        char path[PATH_MAX];
        const ssize_t length = readlink(link, path, sizeof path);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path || path[0] != '/')
            return clearAttribute(fd, backedUp); // no /proc: written at once, as it can only be
        held.path.assign(path, static_cast<std::size_t>(length));
        std::lock_guard lock(mutex_);
        pending_[connection].push_back(std::move(held));
        return 0;
    }
    CCODE set(UINT32 connection, std::size_t, int fd, const FsMeta &backedUp, std::string_view) override
    {
        // A clear still held of the same file must not undo this later.
        {
            std::lock_guard lock(mutex_);
            if (auto found = pending_.find(connection); found != pending_.end())
                std::erase_if(found->second, [&](const Held &held) { return sameFile(held.meta, backedUp); });
        }
        return removeAttribute(fd);
    }
    bool holds(UINT32 connection, std::size_t, const FsMeta &meta, std::string_view) override
    {
        std::lock_guard lock(mutex_);
        const auto found = pending_.find(connection);
        return found != pending_.end() &&
               std::any_of(found->second.begin(), found->second.end(),
                           [&](const Held &held) { return sameFile(held.meta, meta); });
    }
    void commit(UINT32 connection) override
    {
        std::vector<Held> batch;
        {
            std::lock_guard lock(mutex_);
            const auto found = pending_.find(connection);
            if (found == pending_.end())
                return;
            batch = std::move(found->second);
            pending_.erase(found);
        }
        std::size_t failed = 0;
        for (const Held &held : batch) {
            const int error = write(held);
            if (error == 0)
                continue;
            // The first failure goes to the host, who warns that the next
            // incremental backup saves those data sets again.
            if (failed++ == 0)
                tellHost(held.path, std::string("the archive flag could not be cleared: ") + std::strerror(error));
            std::fprintf(stderr, "smsemu: %s: the archive flag could not be cleared: %s\n", held.path.c_str(),
                         std::strerror(error));
        }
    }

private:
    struct Held {
        std::string path;
        FsMeta meta;
    };
    static bool sameFile(const FsMeta &a, const FsMeta &b) { return a.device == b.device && a.inode == b.inode; }

    // 0, or the errno that kept the attribute from being written. A file
    // gone or no longer the one read needs nothing.
    static int write(const Held &held)
    {
        const int fd = open(held.path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return errno == ENOENT || errno == ENOTDIR || errno == ELOOP ? 0 : errno;
        struct stat now;
        int error = 0;
        if (fstat(fd, &now) != 0) {
            error = errno;
        } else if (now.st_dev == held.meta.device && now.st_ino == held.meta.inode) {
            unsigned char record[kRecordSize];
            encode(held.meta, record);
            char link[64];
            std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
            if (setxattr(link, kArchiveAttribute, record, sizeof record, 0) != 0 && !unsupported(errno))
                error = errno;
        }
        close(fd);
        return error;
    }

    std::mutex mutex_;
    std::map<UINT32, std::vector<Held>> pending_; // by connection handle
};

} // namespace

std::unique_ptr<ArchiveFlags> makeArchiveFlags(const TsaConfig &config)
{
    if (config.archiveFlag == ArchiveFlagKind::Xattr)
        return std::make_unique<XattrArchiveFlags>();
    return std::make_unique<StoredArchiveFlags>(config);
}

} // namespace smsemu
