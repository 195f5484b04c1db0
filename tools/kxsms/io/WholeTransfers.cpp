#include "io/WholeTransfers.h"

#include <cerrno>

#include <unistd.h>

namespace kxsms {

namespace {

template <typename Bytes, typename Transfer>
bool whole(Bytes *bytes, size_t size, off_t offset, Transfer transfer)
{
    while (size > 0) {
        const ssize_t n = transfer(bytes, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = 0;
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

} // namespace

bool readWhole(int fd, void *data, size_t size, off_t offset)
{
    return whole(static_cast<char *>(data), size, offset,
                 [fd](char *at, size_t left, off_t where) { return pread(fd, at, left, where); });
}

bool writeWhole(int fd, const void *data, size_t size, off_t offset)
{
    return whole(static_cast<const char *>(data), size, offset,
                 [fd](const char *at, size_t left, off_t where) { return pwrite(fd, at, left, where); });
}

} // namespace kxsms
