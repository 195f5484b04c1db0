// The seam's settings, read once per process, its counters and its trace.
#include "Seam.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace sysfaults {

namespace {

using WriteFn = ssize_t (*)(int, const void *, size_t);
using OpenFn = int (*)(const char *, int, ...);

struct Settings {
    bool selected = false; // this process is one the faults are for
    FaultPlan plan;
    std::vector<std::string> paths;
    int trace = -1;
    std::atomic<unsigned long> counts[kCallCount] = {};
};

// A setting that cannot be read stops the process: a sweep that ran without
// its faults would pass for nothing.
[[noreturn]] void refuse(const std::string &why)
{
    const std::string line = "sysfaults: " + why + "\n";
    reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, "write"))(STDERR_FILENO, line.data(), line.size());
    _exit(99);
}

Settings *readSettings()
{
    auto *settings = new Settings();
    const char *program = getenv("SYSFAULTS_PROGRAM");
    settings->selected = program == nullptr || strcmp(program, program_invocation_short_name) == 0;
    if (!settings->selected)
        return settings;
    std::string problem;
    if (!settings->plan.parse(getenv("SYSFAULTS") != nullptr ? getenv("SYSFAULTS") : "", problem))
        refuse("SYSFAULTS " + problem);
    if (const char *paths = getenv("SYSFAULTS_PATHS")) {
        settings->paths = splitPaths(paths);
        for (const std::string &path : settings->paths)
            if (path.front() != '/')
                refuse("SYSFAULTS_PATHS: \"" + path + "\" is not absolute");
    }
    if (const char *trace = getenv("SYSFAULTS_TRACE"); trace != nullptr && *trace != '\0') {
        settings->trace =
            reinterpret_cast<OpenFn>(dlsym(RTLD_NEXT, "open"))(trace, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (settings->trace < 0)
            refuse(std::string("SYSFAULTS_TRACE: cannot open ") + trace + ": " + strerror(errno));
    }
    settings->selected = !settings->plan.empty() || settings->trace >= 0;
    return settings;
}

Settings &settings()
{
    static Settings *read = readSettings();
    return *read;
}

// Read at load, so that a bad setting stops the process before it starts.
[[gnu::constructor]] void readAtLoad()
{
    settings();
}

std::string linkText(const char *link)
{
    char target[4096];
    const ssize_t n = readlink(link, target, sizeof target);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

} // namespace

std::string pathOfFd(int fd)
{
    return linkText(("/proc/self/fd/" + std::to_string(fd)).c_str());
}

std::string pathAt(int directory, const char *name)
{
    const std::string leaf = name != nullptr ? name : "";
    if (!leaf.empty() && leaf.front() == '/')
        return leaf;
    std::string base;
    if (directory == AT_FDCWD) {
        char cwd[4096];
        base = getcwd(cwd, sizeof cwd) != nullptr ? cwd : "";
    } else {
        base = pathOfFd(directory);
    }
    if (leaf.empty())
        return base;
    return base == "/" ? "/" + leaf : base + "/" + leaf;
}

bool Decision::selectedProcess()
{
    return settings().selected;
}

void Decision::count(Call call)
{
    Settings &s = settings();
    if (!pathSelected(path_, s.paths))
        return;
    counted_ = true;
    call_ = call;
    number_ = ++s.counts[static_cast<size_t>(call)];
    fault_ = s.plan.faultFor(call, number_);
}

void Decision::trace(long result, int error, const char *note) const
{
    const int fd = settings().trace;
    if (!counted_ || fd < 0)
        return;
    std::string line = std::string(callName(call_)) + " " + std::to_string(number_) + " ";
    line += result < 0 ? "-1 " + errnoName(error) : std::to_string(result);
    line += note;
    line += " ";
    for (const char c : path_)
        line += c == '\n' ? std::string("\\n") : c == '\\' ? std::string("\\\\") : std::string(1, c);
    line += "\n";
    static const auto realWrite = reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, "write"));
    realWrite(fd, line.data(), line.size());
}

long Decision::fail() const
{
    trace(-1, fault_->error, " injected");
    errno = fault_->error;
    return -1;
}

size_t Decision::size(size_t asked) const
{
    if (!fault_ || !fault_->shortTransfer || asked < 2)
        return asked;
    return asked / 2;
}

long Decision::done(long result) const
{
    const int error = errno;
    trace(result, error, fault_ && fault_->shortTransfer ? " short" : "");
    errno = error;
    return result;
}

long Decision::closed(long result) const
{
    if (fault_ && !fault_->shortTransfer)
        return fail();
    return done(result);
}

} // namespace sysfaults
