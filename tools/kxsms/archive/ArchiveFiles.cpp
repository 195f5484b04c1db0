// Archive files and standard streams.
#include "archive/ArchiveFiles.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kxsms {

namespace {

// An open interrupted by a signal is made again, except where it waits for
// the other end (a FIFO, a device): there the signal (kxsms's handlers do
// not restart calls) asks to stop waiting, and the open fails.
int openRetrying(const char *path, int flags, mode_t mode = 0)
{
    for (;;) {
        const int fd = open(path, flags, mode);
        if (fd >= 0 || errno != EINTR)
            return fd;
        struct stat st;
        if (stat(path, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
            errno = EINTR;
            return -1;
        }
    }
}

} // namespace

int openArchiveForWriting(const std::string &path, std::string &error)
{
    if (path == "-") {
        if (isatty(STDOUT_FILENO)) {
            error = "refusing to write the archive to a terminal";
            return -1;
        }
        return STDOUT_FILENO;
    }
    const int fd = openRetrying(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        error = "cannot create " + path + ": " + strerror(errno);
    return fd;
}

int openArchiveForReading(const std::string &path, std::string &error)
{
    if (path == "-") {
        if (isatty(STDIN_FILENO)) {
            error = "refusing to read the archive from a terminal";
            return -1;
        }
        return STDIN_FILENO;
    }
    const int fd = openRetrying(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + strerror(errno);
        return fd;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        error = path + ": is a directory, not an archive";
        return -1;
    }
    return fd;
}

bool syncArchive(int fd, const std::string &path, std::string &error)
{
    struct stat st;
    if (path == "-" || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return true;
    if (fsync(fd) != 0) {
        error = "cannot make the archive durable: " + path + ": " + strerror(errno);
        return false;
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int dir = openRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        error = "cannot make the archive's folder durable: " + folder + ": " + strerror(errno);
        return false;
    }
    const bool synced = fsync(dir) == 0;
    if (!synced)
        error = "cannot make the archive's folder durable: " + folder + ": " + strerror(errno);
    close(dir);
    return synced;
}

bool closeArchive(int fd, std::string &error)
{
    if (fd == STDIN_FILENO || fd == STDOUT_FILENO)
        return true;
    if (close(fd) != 0) {
        error = std::string("cannot finish the archive: ") + strerror(errno);
        return false;
    }
    return true;
}

std::string archiveLabel(const std::string &path)
{
    return path == "-" ? "(standard stream)" : path;
}

} // namespace kxsms
