// Archive files and standard streams.
#include "archive/ArchiveFiles.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/random.h>
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

NewArchive::~NewArchive()
{
    discard();
}

bool NewArchive::create(const std::string &path, std::string &error)
{
    given_ = target_ = writing_ = path;
    temporary_ = false;
    if (path == "-") {
        if (isatty(STDOUT_FILENO)) {
            error = "refusing to write the archive to a terminal";
            return false;
        }
        fd_ = STDOUT_FILENO;
        return true;
    }
    mode_t mode = 0600;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error = "cannot create " + path + ": " + strerror(EISDIR);
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            // A FIFO or a device takes the archive as it comes.
            fd_ = openRetrying(path.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd_ < 0) {
                error = "cannot create " + path + ": " + strerror(errno);
                return false;
            }
            return true;
        }
        // The archive replaces the file only where the user could have
        // written it over.
        if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
            error = "cannot create " + path + ": " + strerror(errno);
            return false;
        }
        char real[PATH_MAX];
        if (realpath(path.c_str(), real) != nullptr)
            target_ = real;
        replaces_ = target_;
        mode = st.st_mode & 07777;
    }
    const size_t slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    std::string leaf = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    constexpr size_t c_LeafRoom = NAME_MAX - c_TemporaryPrefix;
    if (leaf.size() > c_LeafRoom)
        leaf.erase(0, leaf.size() - c_LeafRoom);
    for (int attempt = 0; attempt < 16; ++attempt) {
        uint32_t random = 0;
        if (getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
            random = static_cast<uint32_t>(getpid()) * 2654435761u + static_cast<uint32_t>(attempt);
        char prefix[32];
        snprintf(prefix, sizeof prefix, ".kxsms-partial-%08x-", random);
        writing_ = folder + prefix + leaf;
        fd_ = openRetrying(writing_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ >= 0 || errno != EEXIST)
            break;
    }
    if (fd_ < 0) {
        error = "cannot create " + path + ": " + strerror(errno);
        return false;
    }
    temporary_ = true;
    // The permissions of the archive it replaces (0600 for a new one, since
    // an archive may hold every user's data).
    if (mode != 0600 && fchmod(fd_, mode) != 0) {
        error = "cannot create " + path + ": " + strerror(errno);
        discard();
        return false;
    }
    return true;
}

namespace {

std::string folderOf(const std::string &file)
{
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
}

bool syncFolder(const std::string &file, std::string &error)
{
    const std::string folder = folderOf(file);
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

} // namespace

bool NewArchive::sync(std::string &error)
{
    struct stat st;
    if (fd_ < 0 || given_ == "-" || fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))
        return true;
    if (fsync(fd_) != 0) {
        error = "cannot make the archive durable: " + given_ + ": " + strerror(errno);
        return false;
    }
    return syncFolder(writing_, error);
}

bool NewArchive::closeFile(std::string &error)
{
    const int fd = fd_;
    fd_ = -1;
    if (fd == STDOUT_FILENO || fd < 0)
        return true;
    if (close(fd) != 0) {
        error = "cannot finish the archive: " + given_ + ": " + strerror(errno);
        return false;
    }
    return true;
}

bool NewArchive::keep(bool sync, std::string &error)
{
    if (!temporary_) {
        const bool synced = !sync || this->sync(error);
        return closeFile(error) && synced;
    }
    if (sync && fsync(fd_) != 0) {
        error = "cannot make the archive durable: " + given_ + ": " + strerror(errno);
        return false;
    }
    if (!closeFile(error))
        return false;
    if (rename(writing_.c_str(), target_.c_str()) != 0) {
        error = "cannot give the archive its name: " + given_ + ": " + strerror(errno);
        return false;
    }
    writing_ = target_;
    temporary_ = false; // kept: nothing left to remove
    return !sync || syncFolder(target_, error);
}

std::string NewArchive::unwritten() const
{
    if (!temporary_)
        return "";
    return replaces_.empty() ? "no archive written to " + given_ : given_ + " is left as it was";
}

void NewArchive::discard()
{
    std::string ignored;
    closeFile(ignored);
    if (temporary_)
        unlink(writing_.c_str());
    temporary_ = false;
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
