#include "frame/ModuleLog.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kxsms {

namespace {

struct Capture {
    int memory = -1;  // the file the module writes to
    int forward = -1; // where its lines go on to; -1: nowhere
    bool ownsForward = false;
};

Capture g_capture;

void writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<size_t>(n));
    }
}

// Where the log goes without capture.
void pointLogStraight(const std::string &logFile, int verbosity)
{
    if (!logFile.empty())
        setenv("KXLIB_LOG", logFile.c_str(), 1);
    else if (getenv("KXLIB_LOG") == nullptr && verbosity == 0)
        setenv("KXLIB_LOG", "/dev/null", 1);
}

} // namespace

void startModuleLog(const std::string &logFile, int verbosity)
{
    if (verbosity >= 2)
        setenv("KXLIB_DEBUG_LEVEL", "2", 1);
    const int memory = memfd_create("kxsms-module-log", MFD_CLOEXEC);
    const std::string path = "/proc/self/fd/" + std::to_string(memory);
    if (memory < 0 || access(path.c_str(), W_OK) != 0) {
        if (memory >= 0)
            close(memory);
        pointLogStraight(logFile, verbosity);
        return;
    }
    g_capture.memory = memory;

    // The support library's rules: a file named (else stderr when it cannot
    // be opened); an empty name is stderr.
    const char *named = !logFile.empty() ? logFile.c_str() : getenv("KXLIB_LOG");
    if (named != nullptr && *named != '\0') {
        int fd;
        do
            fd = open(named, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        while (fd < 0 && errno == EINTR);
        g_capture.forward = fd >= 0 ? fd : STDERR_FILENO;
        g_capture.ownsForward = fd >= 0;
    } else if (named != nullptr || verbosity > 0) {
        g_capture.forward = STDERR_FILENO;
    }
    setenv("KXLIB_LOG", path.c_str(), 1);
}

std::string takeModuleLog()
{
    // Workers of a job take the log from their own threads.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::string text;
    if (g_capture.memory < 0)
        return text;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = pread(g_capture.memory, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
        at += n;
    }
    if (text.empty())
        return text;
    // The module appends, so the next line starts the file again.
    if (ftruncate(g_capture.memory, 0) != 0) {
        // Cannot start over: stop capturing rather than read lines twice.
        close(g_capture.memory);
        g_capture.memory = -1;
        setenv("KXLIB_LOG", "/dev/null", 1);
    }
    if (g_capture.forward >= 0)
        writeAll(g_capture.forward, text);
    return text;
}

void finishModuleLog()
{
    takeModuleLog();
    if (g_capture.ownsForward)
        close(g_capture.forward);
    g_capture.forward = -1;
    g_capture.ownsForward = false;
}

} // namespace kxsms
