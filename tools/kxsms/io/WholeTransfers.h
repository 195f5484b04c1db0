// Reads and writes of a whole range at an offset, through the short
// transfers and interruptions the system may give.
#ifndef KXSMS_IO_WHOLETRANSFERS_H
#define KXSMS_IO_WHOLETRANSFERS_H

#include <sys/types.h>

#include <cstddef>

namespace kxsms {

// False with errno set when a call fails, or with errno 0 when a call moved
// nothing (the file ended, or the device took nothing).
bool readWhole(int fd, void *data, size_t size, off_t offset);
bool writeWhole(int fd, const void *data, size_t size, off_t offset);

} // namespace kxsms

#endif
