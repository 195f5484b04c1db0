#include "filesystem/HostLog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace smsemu {
namespace {

void writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

} // namespace

std::string hostLine(std::string_view name, std::string_view what)
{
    std::string line = "smsemu: \"";
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            line += '\\';
            line += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            line += escaped;
        } else {
            line += c;
        }
    }
    line += "\": ";
    line += what;
    return line;
}

void tellHost(std::string_view name, std::string_view what)
{
    const char *path = std::getenv("KXLIB_LOG");
    int fd = -1;
    if (path != nullptr && *path != '\0') {
        do
            fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        while (fd < 0 && errno == EINTR);
    }
    if (fd < 0) {
        writeAll(STDERR_FILENO, "smsemu: " + std::string(name) + ": " + std::string(what) + "\n");
        return;
    }
    char prefix[80];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[40] = "0000-00-00T00:00:00+0000";
    if (localtime_r(&now, &local) != nullptr)
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &local);
    // As the support library writes its lines: a thread other than the
    // process's first adds its id ("<pid>/<tid>"), so that a host driving
    // several connections from several threads can tell whose line it is.
    const long pid = static_cast<long>(getpid());
    const long tid = static_cast<long>(gettid());
    if (tid == pid)
        std::snprintf(prefix, sizeof prefix, "%s %ld ERROR ", stamp, pid);
    else
        std::snprintf(prefix, sizeof prefix, "%s %ld/%ld ERROR ", stamp, pid, tid);
    writeAll(fd, prefix + hostLine(name, what) + "\n");
    ::close(fd);
}

CCODE toldErrnoCode(std::string_view name, FsStep step, int error)
{
    if (!codeSaysIt(error))
        tellHost(name, std::strerror(error));
    return errnoCode(step, error);
}

} // namespace smsemu
