// syncfs once per device, early in the background and once at the end.
#include "frame/FileSystemSync.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kxsms {

namespace {

// A descriptor of the nearest existing folder at or above path, or -1.
int openNearestFolder(std::string path)
{
    while (!path.empty()) {
        const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0)
            return fd;
        if (path == "/")
            return -1;
        const size_t slash = path.find_last_of('/');
        path = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        if (path == ".")
            return open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    return -1;
}

} // namespace

FileSystemSync::FileSystemSync(const std::vector<std::string> &targets)
{
    std::set<dev_t> devices;
    for (const std::string &target : targets) {
        const int fd = openNearestFolder(target);
        if (fd < 0)
            continue;
        struct stat st;
        if (fstat(fd, &st) == 0 && devices.insert(st.st_dev).second)
            folders_.push_back({target, fd});
        else
            close(fd);
    }
}

FileSystemSync::~FileSystemSync()
{
    stopEarly();
    for (const Folder &folder : folders_)
        close(folder.fd);
}

bool FileSystemSync::syncAll(std::string &error) const
{
    for (const Folder &folder : folders_) {
        if (syncfs(folder.fd) != 0) {
            error = "cannot make what was restored durable: " + folder.target + ": " + strerror(errno);
            return false;
        }
    }
    return true;
}

void FileSystemSync::startEarly(std::function<uint64_t()> written, uint64_t step)
{
    if (folders_.empty() || early_.joinable())
        return;
    early_ = std::thread([this, written = std::move(written), step] { runEarly(written, step); });
}

void FileSystemSync::runEarly(std::function<uint64_t()> written, uint64_t step)
{
    uint64_t synced = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_ && earlyError_.empty()) {
        wake_.wait_for(lock, std::chrono::milliseconds(50));
        if (stopping_)
            break;
        const uint64_t now = written();
        if (now - synced < step)
            continue;
        synced = now;
        lock.unlock();
        std::string error;
        const bool ok = syncAll(error);
        lock.lock();
        if (!ok)
            earlyError_ = error;
    }
}

void FileSystemSync::stopEarly()
{
    if (!early_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    early_.join();
}

bool FileSystemSync::finish(std::string &error)
{
    stopEarly();
    if (!earlyError_.empty()) {
        error = earlyError_;
        return false;
    }
    return syncAll(error);
}

} // namespace kxsms
