// syncfs once per device.
#include "frame/FileSystemSync.h"

#include <cerrno>
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

bool syncFileSystems(const std::vector<std::string> &targets, std::string &error)
{
    std::set<dev_t> synced;
    for (const std::string &target : targets) {
        const int fd = openNearestFolder(target);
        if (fd < 0)
            continue;
        struct stat st;
        if (fstat(fd, &st) == 0 && synced.insert(st.st_dev).second && syncfs(fd) != 0) {
            error = "cannot make what was restored durable: " + target + ": " + strerror(errno);
            close(fd);
            return false;
        }
        close(fd);
    }
    return true;
}

} // namespace kxsms
