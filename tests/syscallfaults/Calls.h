// The system calls the fault seam can make fail, by the names a SYSFAULTS
// rule and a trace line use. Variants of one call share its name and its
// count: open64 and __open_2 count as "open", pwrite64 as "pwrite", and so on.
#ifndef KXSMS_TESTS_SYSCALLFAULTS_CALLS_H
#define KXSMS_TESTS_SYSCALLFAULTS_CALLS_H

#include <cstddef>
#include <optional>
#include <string_view>

namespace sysfaults {

#define SYSFAULTS_CALLS(X)                                                                                             \
    X(read)                                                                                                            \
    X(readv)                                                                                                           \
    X(pread)                                                                                                           \
    X(write)                                                                                                           \
    X(writev)                                                                                                          \
    X(pwrite)                                                                                                          \
    X(open)                                                                                                            \
    X(openat)                                                                                                          \
    X(openat2)                                                                                                         \
    X(close)                                                                                                           \
    X(mkdir)                                                                                                           \
    X(mkdirat)                                                                                                         \
    X(rename)                                                                                                          \
    X(renameat)                                                                                                        \
    X(renameat2)                                                                                                       \
    X(fsync)                                                                                                           \
    X(fdatasync)                                                                                                       \
    X(syncfs)                                                                                                          \
    X(sync_file_range)                                                                                                 \
    X(ftruncate)                                                                                                       \
    X(fallocate)                                                                                                       \
    X(fsetxattr)                                                                                                       \
    X(lsetxattr)                                                                                                       \
    X(fgetxattr)                                                                                                       \
    X(lgetxattr)                                                                                                       \
    X(getxattrat)                                                                                                      \
    X(flistxattr)                                                                                                      \
    X(llistxattr)                                                                                                      \
    X(fremovexattr)                                                                                                    \
    X(fchmod)                                                                                                          \
    X(fchmodat)                                                                                                        \
    X(fchown)                                                                                                          \
    X(fchownat)                                                                                                        \
    X(futimens)                                                                                                        \
    X(utimensat)                                                                                                       \
    X(unlink)                                                                                                          \
    X(unlinkat)                                                                                                        \
    X(linkat)                                                                                                          \
    X(symlinkat)                                                                                                       \
    X(mknodat)                                                                                                         \
    X(readlinkat)                                                                                                      \
    X(statx)                                                                                                           \
    X(fstat)                                                                                                           \
    X(fstatat)                                                                                                         \
    X(getdents64)                                                                                                      \
    X(lseek)                                                                                                           \
    X(flock)

enum class Call : unsigned char {
#define SYSFAULTS_ENUM(name) name,
    SYSFAULTS_CALLS(SYSFAULTS_ENUM)
#undef SYSFAULTS_ENUM
};

#define SYSFAULTS_COUNT(name) +1
inline constexpr std::size_t kCallCount = 0 SYSFAULTS_CALLS(SYSFAULTS_COUNT);
#undef SYSFAULTS_COUNT

// The name of a call as rules and traces write it.
const char *callName(Call call);
// The call of that name, if the seam has one.
std::optional<Call> findCall(std::string_view name);

} // namespace sysfaults

#endif
