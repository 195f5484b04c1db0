// Opening a name below a directory, tried again when a signal interrupts the
// open (network and FUSE file systems can be interrupted there): an
// interrupted open is not a failure of the data set.
#pragma once

#include <cerrno>
#include <fcntl.h>
#include <sys/types.h>

namespace smsemu {

inline int openAtRetrying(int directory, const char *name, int flags, mode_t mode = 0)
{
    int fd;
    do
        fd = ::openat(directory, name, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace smsemu
