// Delivers finished log lines to the log file or to standard error.
#include "LogSink.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace kxlib {

namespace {

// Serialises the writers of this process. Between processes, O_APPEND and a
// single write per line keep the lines whole; the lock also covers the rare
// short write to a pipe or terminal, which is finished before the next line.
std::mutex g_writeLock;

void writeAll(int fd, const char *data, std::size_t length)
{
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
}

} // namespace

void writeLogLine(const char *line, std::size_t length)
{
    std::lock_guard<std::mutex> lock(g_writeLock);
    int fd = -1;
    const char *path = std::getenv("KXLIB_LOG");
    if (path != nullptr && *path != '\0') {
        do {
            fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        } while (fd < 0 && errno == EINTR);
    }
    writeAll(fd >= 0 ? fd : STDERR_FILENO, line, length);
    if (fd >= 0) {
        ::close(fd);
    }
}

} // namespace kxlib
