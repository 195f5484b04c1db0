// The calls the seam stands in front of. Each asks the seam about the call
// (Seam.h), then fails it or passes it on to the C library's own function.
// Variants share a count: open64, __open_2 and creat count as "open".
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "Seam.h"

#define SEAM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using sysfaults::Call;
using sysfaults::Decision;
using sysfaults::pathAt;
using sysfaults::pathOfFd;

template <class Fn>
Fn next(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// The real function of this name, looked up once per call site.
#define REAL(name, type) static const auto real = next<type>(name)

mode_t modeOf(int flags, va_list arguments)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

int openCounted(const char *path, int flags, mode_t mode, int (*real)(const char *, int, ...))
{
    const Decision decision(Call::open, [&] { return pathAt(AT_FDCWD, path); });
    if (decision.fails())
        return static_cast<int>(decision.fail());
    return static_cast<int>(decision.done(real(path, flags, mode)));
}

int openatCounted(int directory, const char *path, int flags, mode_t mode, int (*real)(int, const char *, int, ...))
{
    const Decision decision(Call::openat, [&] { return pathAt(directory, path); });
    if (decision.fails())
        return static_cast<int>(decision.fail());
    return static_cast<int>(decision.done(real(directory, path, flags, mode)));
}

// A call on a descriptor that answers an int or a size: fails or is made.
template <class Make>
auto onFd(Call call, int fd, Make &&make) -> decltype(make(size_t{0}))
{
    const Decision decision(call, [&] { return pathOfFd(fd); });
    if (decision.fails())
        return static_cast<decltype(make(size_t{0}))>(decision.fail());
    return static_cast<decltype(make(size_t{0}))>(decision.done(static_cast<long>(make(size_t{0}))));
}

// A read or write of size bytes on a descriptor; SHORT halves it.
template <class Make>
ssize_t transfer(Call call, int fd, size_t size, Make &&make)
{
    const Decision decision(call, [&] { return pathOfFd(fd); });
    if (decision.fails())
        return decision.fail();
    return decision.done(make(decision.size(size)));
}

// A call on a name (relative to a directory descriptor).
template <class Make>
int onName(Call call, int directory, const char *name, Make &&make)
{
    const Decision decision(call, [&] { return pathAt(directory, name); });
    if (decision.fails())
        return static_cast<int>(decision.fail());
    return static_cast<int>(decision.done(make()));
}

// A call on two names (renames, links): counted when either is selected.
template <class Make>
int onNames(Call call, int fromDirectory, const char *from, int toDirectory, const char *to, Make &&make)
{
    const Decision decision(call, [&] {
        const std::string first = pathAt(fromDirectory, from);
        const std::string second = pathAt(toDirectory, to);
        return first + " -> " + second;
    });
    if (decision.fails())
        return static_cast<int>(decision.fail());
    return static_cast<int>(decision.done(make()));
}

// The iovecs cut to half their bytes, for SHORT.
int shortened(const struct iovec *vector, int count, size_t keep, struct iovec *out)
{
    int n = 0;
    for (int i = 0; i < count && keep > 0; ++i) {
        out[n] = vector[i];
        if (out[n].iov_len > keep)
            out[n].iov_len = keep;
        keep -= out[n].iov_len;
        ++n;
    }
    return n;
}

size_t totalOf(const struct iovec *vector, int count)
{
    size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += vector[i].iov_len;
    return total;
}

template <class Real>
ssize_t vectored(Call call, int fd, const struct iovec *vector, int count, Real &&real)
{
    return transfer(call, fd, totalOf(vector, count), [&](size_t size) {
        if (size == totalOf(vector, count) || count > 1024)
            return real(vector, count);
        struct iovec cut[1024];
        return real(cut, shortened(vector, count, size, cut));
    });
}

} // namespace

// ---- reads and writes -------------------------------------------------------------

SEAM_EXPORT ssize_t read(int fd, void *buffer, size_t size)
{
    REAL("read", ssize_t(*)(int, void *, size_t));
    return transfer(Call::read, fd, size, [&](size_t n) { return real(fd, buffer, n); });
}

SEAM_EXPORT ssize_t __read_chk(int fd, void *buffer, size_t size, size_t)
{
    REAL("read", ssize_t(*)(int, void *, size_t));
    return transfer(Call::read, fd, size, [&](size_t n) { return real(fd, buffer, n); });
}

SEAM_EXPORT ssize_t readv(int fd, const struct iovec *vector, int count)
{
    REAL("readv", ssize_t(*)(int, const struct iovec *, int));
    return vectored(Call::readv, fd, vector, count, [&](const struct iovec *v, int c) { return real(fd, v, c); });
}

#define SEAM_PREAD(symbol, target)                                                                                     \
    SEAM_EXPORT ssize_t symbol(int fd, void *buffer, size_t size, off_t offset)                                        \
    {                                                                                                                  \
        REAL(target, ssize_t (*)(int, void *, size_t, off_t));                                                         \
        return transfer(Call::pread, fd, size, [&](size_t n) { return real(fd, buffer, n, offset); });                 \
    }
SEAM_PREAD(pread, "pread")
SEAM_PREAD(pread64, "pread64")
#undef SEAM_PREAD

SEAM_EXPORT ssize_t __pread_chk(int fd, void *buffer, size_t size, off_t offset, size_t)
{
    REAL("pread", ssize_t(*)(int, void *, size_t, off_t));
    return transfer(Call::pread, fd, size, [&](size_t n) { return real(fd, buffer, n, offset); });
}

SEAM_EXPORT ssize_t __pread64_chk(int fd, void *buffer, size_t size, off_t offset, size_t)
{
    REAL("pread64", ssize_t(*)(int, void *, size_t, off_t));
    return transfer(Call::pread, fd, size, [&](size_t n) { return real(fd, buffer, n, offset); });
}

SEAM_EXPORT ssize_t write(int fd, const void *buffer, size_t size)
{
    REAL("write", ssize_t(*)(int, const void *, size_t));
    return transfer(Call::write, fd, size, [&](size_t n) { return real(fd, buffer, n); });
}

SEAM_EXPORT ssize_t writev(int fd, const struct iovec *vector, int count)
{
    REAL("writev", ssize_t(*)(int, const struct iovec *, int));
    return vectored(Call::writev, fd, vector, count, [&](const struct iovec *v, int c) { return real(fd, v, c); });
}

#define SEAM_PWRITE(symbol, target)                                                                                    \
    SEAM_EXPORT ssize_t symbol(int fd, const void *buffer, size_t size, off_t offset)                                  \
    {                                                                                                                  \
        REAL(target, ssize_t (*)(int, const void *, size_t, off_t));                                                   \
        return transfer(Call::pwrite, fd, size, [&](size_t n) { return real(fd, buffer, n, offset); });                \
    }
SEAM_PWRITE(pwrite, "pwrite")
SEAM_PWRITE(pwrite64, "pwrite64")
#undef SEAM_PWRITE

// ---- opening and closing -------------------------------------------------------------

#define SEAM_OPEN(symbol)                                                                                              \
    SEAM_EXPORT int symbol(const char *path, int flags, ...)                                                           \
    {                                                                                                                  \
        REAL(#symbol, int (*)(const char *, int, ...));                                                                \
        va_list arguments;                                                                                             \
        va_start(arguments, flags);                                                                                    \
        const mode_t mode = modeOf(flags, arguments);                                                                  \
        va_end(arguments);                                                                                             \
        return openCounted(path, flags, mode, real);                                                                   \
    }
SEAM_OPEN(open)
SEAM_OPEN(open64)
#undef SEAM_OPEN

SEAM_EXPORT int __open_2(const char *path, int flags)
{
    REAL("open", int (*)(const char *, int, ...));
    return openCounted(path, flags, 0, real);
}

SEAM_EXPORT int __open64_2(const char *path, int flags)
{
    REAL("open64", int (*)(const char *, int, ...));
    return openCounted(path, flags, 0, real);
}

SEAM_EXPORT int creat(const char *path, mode_t mode)
{
    REAL("open", int (*)(const char *, int, ...));
    return openCounted(path, O_CREAT | O_WRONLY | O_TRUNC, mode, real);
}

#define SEAM_OPENAT(symbol)                                                                                            \
    SEAM_EXPORT int symbol(int directory, const char *path, int flags, ...)                                            \
    {                                                                                                                  \
        REAL(#symbol, int (*)(int, const char *, int, ...));                                                           \
        va_list arguments;                                                                                             \
        va_start(arguments, flags);                                                                                    \
        const mode_t mode = modeOf(flags, arguments);                                                                  \
        va_end(arguments);                                                                                             \
        return openatCounted(directory, path, flags, mode, real);                                                      \
    }
SEAM_OPENAT(openat)
SEAM_OPENAT(openat64)
#undef SEAM_OPENAT

SEAM_EXPORT int __openat_2(int directory, const char *path, int flags)
{
    REAL("openat", int (*)(int, const char *, int, ...));
    return openatCounted(directory, path, flags, 0, real);
}

SEAM_EXPORT int __openat64_2(int directory, const char *path, int flags)
{
    REAL("openat64", int (*)(int, const char *, int, ...));
    return openatCounted(directory, path, flags, 0, real);
}

// close releases the descriptor whatever it answers, as Linux does, also
// when the seam makes it fail.
SEAM_EXPORT int close(int fd)
{
    REAL("close", int (*)(int));
    const Decision decision(Call::close, [&] { return pathOfFd(fd); });
    return static_cast<int>(decision.closed(real(fd)));
}

// ---- the calls made through syscall(2): openat2 and getxattrat ---------------------------

#ifndef SYS_openat2
#define SYS_openat2 437
#endif
#ifndef SYS_getxattrat
#define SYS_getxattrat 464
#endif

SEAM_EXPORT long syscall(long number, ...)
{
    REAL("syscall", long (*)(long, ...));
    va_list arguments;
    va_start(arguments, number);
    long a[6];
    for (long &argument : a)
        argument = va_arg(arguments, long);
    va_end(arguments);
    const auto make = [&] { return real(number, a[0], a[1], a[2], a[3], a[4], a[5]); };
    if (number != SYS_openat2 && number != SYS_getxattrat)
        return make();
    const Call call = number == SYS_openat2 ? Call::openat2 : Call::getxattrat;
    const Decision decision(call, [&] { return pathAt(static_cast<int>(a[0]), reinterpret_cast<const char *>(a[1])); });
    if (decision.fails())
        return decision.fail();
    return decision.done(make());
}

// ---- names: directories, renames, links, removal -------------------------------------------

SEAM_EXPORT int mkdir(const char *path, mode_t mode) noexcept
{
    REAL("mkdir", int (*)(const char *, mode_t));
    return onName(Call::mkdir, AT_FDCWD, path, [&] { return real(path, mode); });
}

SEAM_EXPORT int mkdirat(int directory, const char *path, mode_t mode) noexcept
{
    REAL("mkdirat", int (*)(int, const char *, mode_t));
    return onName(Call::mkdirat, directory, path, [&] { return real(directory, path, mode); });
}

SEAM_EXPORT int rename(const char *from, const char *to) noexcept
{
    REAL("rename", int (*)(const char *, const char *));
    return onNames(Call::rename, AT_FDCWD, from, AT_FDCWD, to, [&] { return real(from, to); });
}

SEAM_EXPORT int renameat(int fromDirectory, const char *from, int toDirectory, const char *to) noexcept
{
    REAL("renameat", int (*)(int, const char *, int, const char *));
    return onNames(Call::renameat, fromDirectory, from, toDirectory, to,
                   [&] { return real(fromDirectory, from, toDirectory, to); });
}

SEAM_EXPORT int renameat2(int fromDirectory, const char *from, int toDirectory, const char *to,
                          unsigned int flags) noexcept
{
    REAL("renameat2", int (*)(int, const char *, int, const char *, unsigned int));
    return onNames(Call::renameat2, fromDirectory, from, toDirectory, to,
                   [&] { return real(fromDirectory, from, toDirectory, to, flags); });
}

SEAM_EXPORT int unlink(const char *path) noexcept
{
    REAL("unlink", int (*)(const char *));
    return onName(Call::unlink, AT_FDCWD, path, [&] { return real(path); });
}

SEAM_EXPORT int unlinkat(int directory, const char *path, int flags) noexcept
{
    REAL("unlinkat", int (*)(int, const char *, int));
    return onName(Call::unlinkat, directory, path, [&] { return real(directory, path, flags); });
}

SEAM_EXPORT int linkat(int fromDirectory, const char *from, int toDirectory, const char *to, int flags) noexcept
{
    REAL("linkat", int (*)(int, const char *, int, const char *, int));
    return onNames(Call::linkat, fromDirectory, from, toDirectory, to,
                   [&] { return real(fromDirectory, from, toDirectory, to, flags); });
}

SEAM_EXPORT int symlinkat(const char *target, int directory, const char *path) noexcept
{
    REAL("symlinkat", int (*)(const char *, int, const char *));
    return onName(Call::symlinkat, directory, path, [&] { return real(target, directory, path); });
}

SEAM_EXPORT int mknodat(int directory, const char *path, mode_t mode, dev_t device) noexcept
{
    REAL("mknodat", int (*)(int, const char *, mode_t, dev_t));
    return onName(Call::mknodat, directory, path, [&] { return real(directory, path, mode, device); });
}

SEAM_EXPORT ssize_t readlinkat(int directory, const char *path, char *buffer, size_t size) noexcept
{
    REAL("readlinkat", ssize_t(*)(int, const char *, char *, size_t));
    return onName(Call::readlinkat, directory, path,
                  [&] { return static_cast<int>(real(directory, path, buffer, size)); });
}

// ---- durability ------------------------------------------------------------------------

SEAM_EXPORT int fsync(int fd)
{
    REAL("fsync", int (*)(int));
    return onFd(Call::fsync, fd, [&](size_t) { return real(fd); });
}

SEAM_EXPORT int fdatasync(int fd)
{
    REAL("fdatasync", int (*)(int));
    return onFd(Call::fdatasync, fd, [&](size_t) { return real(fd); });
}

SEAM_EXPORT int syncfs(int fd) noexcept
{
    REAL("syncfs", int (*)(int));
    return onFd(Call::syncfs, fd, [&](size_t) { return real(fd); });
}

SEAM_EXPORT int sync_file_range(int fd, off64_t offset, off64_t size, unsigned int flags)
{
    REAL("sync_file_range", int (*)(int, off64_t, off64_t, unsigned int));
    return onFd(Call::sync_file_range, fd, [&](size_t) { return real(fd, offset, size, flags); });
}

SEAM_EXPORT int ftruncate(int fd, off_t length) noexcept
{
    REAL("ftruncate", int (*)(int, off_t));
    return onFd(Call::ftruncate, fd, [&](size_t) { return real(fd, length); });
}

SEAM_EXPORT int ftruncate64(int fd, off_t length) noexcept
{
    REAL("ftruncate64", int (*)(int, off_t));
    return onFd(Call::ftruncate, fd, [&](size_t) { return real(fd, length); });
}

SEAM_EXPORT int fallocate(int fd, int mode, off_t offset, off_t length)
{
    REAL("fallocate", int (*)(int, int, off_t, off_t));
    return onFd(Call::fallocate, fd, [&](size_t) { return real(fd, mode, offset, length); });
}

SEAM_EXPORT int fallocate64(int fd, int mode, off_t offset, off_t length)
{
    REAL("fallocate64", int (*)(int, int, off_t, off_t));
    return onFd(Call::fallocate, fd, [&](size_t) { return real(fd, mode, offset, length); });
}

// ---- extended attributes ------------------------------------------------------------------

SEAM_EXPORT int fsetxattr(int fd, const char *name, const void *value, size_t size, int flags) noexcept
{
    REAL("fsetxattr", int (*)(int, const char *, const void *, size_t, int));
    return onFd(Call::fsetxattr, fd, [&](size_t) { return real(fd, name, value, size, flags); });
}

SEAM_EXPORT int lsetxattr(const char *path, const char *name, const void *value, size_t size, int flags) noexcept
{
    REAL("lsetxattr", int (*)(const char *, const char *, const void *, size_t, int));
    return onName(Call::lsetxattr, AT_FDCWD, path, [&] { return real(path, name, value, size, flags); });
}

SEAM_EXPORT ssize_t fgetxattr(int fd, const char *name, void *value, size_t size) noexcept
{
    REAL("fgetxattr", ssize_t(*)(int, const char *, void *, size_t));
    return onFd(Call::fgetxattr, fd, [&](size_t) { return real(fd, name, value, size); });
}

SEAM_EXPORT ssize_t lgetxattr(const char *path, const char *name, void *value, size_t size) noexcept
{
    REAL("lgetxattr", ssize_t(*)(const char *, const char *, void *, size_t));
    const Decision decision(Call::lgetxattr, [&] { return pathAt(AT_FDCWD, path); });
    if (decision.fails())
        return decision.fail();
    return decision.done(real(path, name, value, size));
}

SEAM_EXPORT ssize_t flistxattr(int fd, char *list, size_t size) noexcept
{
    REAL("flistxattr", ssize_t(*)(int, char *, size_t));
    return onFd(Call::flistxattr, fd, [&](size_t) { return real(fd, list, size); });
}

SEAM_EXPORT ssize_t llistxattr(const char *path, char *list, size_t size) noexcept
{
    REAL("llistxattr", ssize_t(*)(const char *, char *, size_t));
    const Decision decision(Call::llistxattr, [&] { return pathAt(AT_FDCWD, path); });
    if (decision.fails())
        return decision.fail();
    return decision.done(real(path, list, size));
}

SEAM_EXPORT int fremovexattr(int fd, const char *name) noexcept
{
    REAL("fremovexattr", int (*)(int, const char *));
    return onFd(Call::fremovexattr, fd, [&](size_t) { return real(fd, name); });
}

// ---- owner, mode and times ------------------------------------------------------------------

SEAM_EXPORT int fchmod(int fd, mode_t mode) noexcept
{
    REAL("fchmod", int (*)(int, mode_t));
    return onFd(Call::fchmod, fd, [&](size_t) { return real(fd, mode); });
}

SEAM_EXPORT int fchmodat(int directory, const char *path, mode_t mode, int flags) noexcept
{
    REAL("fchmodat", int (*)(int, const char *, mode_t, int));
    return onName(Call::fchmodat, directory, path, [&] { return real(directory, path, mode, flags); });
}

SEAM_EXPORT int fchown(int fd, uid_t owner, gid_t group) noexcept
{
    REAL("fchown", int (*)(int, uid_t, gid_t));
    return onFd(Call::fchown, fd, [&](size_t) { return real(fd, owner, group); });
}

SEAM_EXPORT int fchownat(int directory, const char *path, uid_t owner, gid_t group, int flags) noexcept
{
    REAL("fchownat", int (*)(int, const char *, uid_t, gid_t, int));
    return onName(Call::fchownat, directory, path, [&] { return real(directory, path, owner, group, flags); });
}

SEAM_EXPORT int futimens(int fd, const struct timespec times[2]) noexcept
{
    REAL("futimens", int (*)(int, const struct timespec *));
    return onFd(Call::futimens, fd, [&](size_t) { return real(fd, times); });
}

SEAM_EXPORT int utimensat(int directory, const char *path, const struct timespec times[2], int flags) noexcept
{
    REAL("utimensat", int (*)(int, const char *, const struct timespec *, int));
    return onName(Call::utimensat, directory, path, [&] { return real(directory, path, times, flags); });
}

// ---- metadata and listings ------------------------------------------------------------------

SEAM_EXPORT int statx(int directory, const char *path, int flags, unsigned int mask, struct statx *out) noexcept
{
    REAL("statx", int (*)(int, const char *, int, unsigned int, struct statx *));
    return onName(Call::statx, directory, path, [&] { return real(directory, path, flags, mask, out); });
}

#define SEAM_FSTAT(symbol, record)                                                                                     \
    SEAM_EXPORT int symbol(int fd, struct record *out) noexcept                                                        \
    {                                                                                                                  \
        REAL(#symbol, int (*)(int, struct record *));                                                                  \
        return onFd(Call::fstat, fd, [&](size_t) { return real(fd, out); });                                           \
    }
SEAM_FSTAT(fstat, stat)
SEAM_FSTAT(fstat64, stat64)
#undef SEAM_FSTAT

#define SEAM_FSTATAT(symbol, record)                                                                                   \
    SEAM_EXPORT int symbol(int directory, const char *path, struct record *out, int flags) noexcept                    \
    {                                                                                                                  \
        REAL(#symbol, int (*)(int, const char *, struct record *, int));                                               \
        return onName(Call::fstatat, directory, path, [&] { return real(directory, path, out, flags); });              \
    }
SEAM_FSTATAT(fstatat, stat)
SEAM_FSTATAT(fstatat64, stat64)
#undef SEAM_FSTATAT

SEAM_EXPORT ssize_t getdents64(int fd, void *buffer, size_t size) noexcept
{
    REAL("getdents64", ssize_t(*)(int, void *, size_t));
    return transfer(Call::getdents64, fd, size, [&](size_t n) { return real(fd, buffer, n); });
}

#define SEAM_LSEEK(symbol)                                                                                             \
    SEAM_EXPORT off_t symbol(int fd, off_t offset, int whence) noexcept                                                \
    {                                                                                                                  \
        REAL(#symbol, off_t (*)(int, off_t, int));                                                                     \
        return onFd(Call::lseek, fd, [&](size_t) { return real(fd, offset, whence); });                                \
    }
SEAM_LSEEK(lseek)
SEAM_LSEEK(lseek64)
#undef SEAM_LSEEK

SEAM_EXPORT int flock(int fd, int operation) noexcept
{
    REAL("flock", int (*)(int, int));
    return onFd(Call::flock, fd, [&](size_t) { return real(fd, operation); });
}
