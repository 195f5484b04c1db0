#include "frame/ModuleLog.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string_view>

#include <fcntl.h>
#include <linux/falloc.h>
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
// The capture's file, for the look without the lock (-1: none any more).
std::atomic<int> g_memory{-1};

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
    g_memory = memory;

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

namespace {

std::mutex g_takeLock;
// Lines read but not yet taken, by the thread that wrote them (0: the
// process's first thread).
std::map<long, std::string> g_pending;
// What the capture has read so far. Written under the lock; a take that
// finds nothing past it (and nothing pending) needs no lock.
std::atomic<off_t> g_readTo{0};
std::atomic<bool> g_anyPending{false};


// The thread a line names after its time and process id ("<pid>/<tid>");
// 0 for the process's first thread, and for what is not a log line.
long writerOf(std::string_view line)
{
    const size_t first = line.find(' ');
    if (first == std::string_view::npos)
        return 0;
    const size_t second = line.find(' ', first + 1);
    const std::string_view id = line.substr(first + 1, second == std::string_view::npos ? 0 : second - first - 1);
    const size_t slash = id.find('/');
    if (slash == std::string_view::npos)
        return 0;
    long tid = 0;
    const std::string_view digits = id.substr(slash + 1);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), tid);
    return error == std::errc() && end == digits.data() + digits.size() ? tid : 0;
}

// Frees what has been read. The file is never cut shorter while the module
// may append to it from another thread (a line written between the read and
// the cut would be lost): the pages read are given back instead, the
// offsets going on. Where that is not supported the file starts over.
void release(int fd)
{
    if (fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, g_readTo.load(std::memory_order_relaxed)) == 0)
        return;
    if (ftruncate(fd, 0) == 0) {
        g_readTo = 0;
        return;
    }
    // Cannot start over: stop capturing rather than read lines twice.
    g_memory = -1;
    close(g_capture.memory);
    g_capture.memory = -1;
    setenv("KXLIB_LOG", "/dev/null", 1);
}

} // namespace

std::string takeModuleLog()
{
    // Most calls write nothing: one read past what was read, without the
    // lock that several objects' threads would otherwise queue on. The
    // offset is read first: a take that moved it past this thread's lines
    // set the pending flag before it did.
    if (const int memory = g_memory.load(std::memory_order_acquire); memory < 0) {
        return {};
    } else if (const off_t at = g_readTo.load(std::memory_order_acquire);
               !g_anyPending.load(std::memory_order_acquire)) {
        char probe;
        if (pread(memory, &probe, 1, at) == 0)
            return {};
    }
    std::lock_guard<std::mutex> lock(g_takeLock);
    std::string text;
    if (g_capture.memory < 0)
        return text;
    char buffer[4096];
    off_t readTo = g_readTo.load(std::memory_order_relaxed);
    for (;;) {
        const ssize_t n = pread(g_capture.memory, buffer, sizeof buffer, readTo);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
        readTo += n;
    }
    // A line another thread is still writing is read whole at a later take
    // (a read beside a write may see part of it).
    if (const size_t end = text.rfind('\n') + 1; end < text.size()) {
        readTo -= static_cast<off_t>(text.size() - end);
        text.resize(end);
    }
    // Asked once per thread: two system calls per take add up over a job of
    // many small files.
    thread_local const long self = gettid() == getpid() ? 0 : static_cast<long>(gettid());
    if (text.empty() && g_pending.empty())
        return text;
    if (!text.empty() && g_capture.forward >= 0)
        writeAll(g_capture.forward, text);
    // Each line goes to the thread that wrote it (the module writes whole lines).
    std::string mine;
    for (std::string_view rest = text; !rest.empty();) {
        const size_t newline = rest.find('\n');
        const std::string_view line = rest.substr(0, newline == std::string_view::npos ? rest.size() : newline + 1);
        rest.remove_prefix(line.size());
        const long writer = writerOf(line);
        if (writer == self)
            mine.append(line);
        else
            g_pending[writer].append(line);
    }
    if (const auto own = g_pending.find(self); own != g_pending.end()) {
        mine.insert(0, own->second);
        g_pending.erase(own);
    }
    // What other threads' lines wait for them is known before the offset
    // moves past those lines (see the look without the lock above).
    g_anyPending.store(!g_pending.empty(), std::memory_order_release);
    if (!text.empty()) {
        g_readTo.store(readTo, std::memory_order_release);
        release(g_capture.memory);
    }
    return mine;
}

void leaveModuleLog()
{
    takeModuleLog();
    std::lock_guard<std::mutex> lock(g_takeLock);
    g_pending.erase(gettid() == getpid() ? 0 : static_cast<long>(gettid()));
    g_anyPending = !g_pending.empty();
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
