// kxsms: the command-line host of the KXSMS module.
#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iostream>

#include <unistd.h>

#include <fmt/format.h>

#include "frame/BuildStamp.h"
#include "commands/Commands.h"
#include "frame/Module.h"
#include "frame/ModuleLog.h"
#include "frame/PathRules.h"
#include "frame/CommandLine.h"
#include "frame/Selection.h"
#include "frame/Signals.h"
#include "io/Text.h"

#ifndef KXSMS_HOST_VERSION
#define KXSMS_HOST_VERSION "0.0.0"
#endif

namespace {

using namespace kxsms;

// Without TZ, the C library looks at /etc/localtime again on every time
// conversion, and the module and the TSA convert several times per data
// set. Naming the same zone file once keeps local time as it is and saves
// that look-up.
void fixTimeZone()
{
    if (getenv("TZ") == nullptr && access("/etc/localtime", R_OK) == 0)
        setenv("TZ", ":/etc/localtime", 0);
}

int showVersions()
{
    fmt::print("kxsms {}\n", KXSMS_HOST_VERSION);
    std::string error;
    const std::unique_ptr<Module> module = Module::load(error);
    if (!module) {
        fmt::print(stderr, "kxsms: {}\n", error);
        return c_ExitStopped;
    }
    const std::string file = module->file();
    const auto stamp = readElfSectionLine(file, "KxVersion", error);
    if (!stamp) {
        fmt::print("module {}: no build stamp ({})\n", file, error);
        return c_ExitSomeFailed;
    }
    fmt::print("module {} {}\n", file, *stamp);
    return c_ExitOk;
}

int run(const Options &options)
{
    switch (options.command) {
    case Command::Resources: return runResources(options);
    case Command::Ls: return runLs(options);
    case Command::Info: return runInfo(options);
    case Command::Backup: return runBackup(options);
    case Command::Restore: return runRestore(options);
    case Command::List: return runList(options);
    case Command::Verify: return runVerify(options);
    case Command::Rm: return runRm(options);
    case Command::None: break;
    }
    return c_ExitStopped;
}

// File-system paths given relative to the working directory, or with "." and
// ".." components, become the absolute names the file-system TSA takes.
void takeLocalPaths(Options &options)
{
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return;
    auto local = [&](std::string &path) {
        if (!path.empty())
            path = absoluteFileSystemPath(path, cwd);
    };
    // Restore and list select members by their names in the archive, taken
    // as given; an exclude without a '/' is a pattern of one component (tar's
    // rule), and a pattern is matched as written.
    const bool localNames = options.command != Command::Restore && options.command != Command::List;
    if (options.tsa == KXSMS_TSA_FILE_SYSTEM && localNames) {
        local(options.path);
        for (std::string &path : options.paths)
            local(path);
        for (std::string &path : options.excludes)
            if (path.find('/') != std::string::npos && !isPattern(path))
                local(path);
    }
    // Restore goes to the archive's TSA: a target that is neither absolute nor
    // in another TSA's form (with a ':', a "DOM1:\dir") is a local folder.
    if (!options.to.empty() && (options.tsa == KXSMS_TSA_FILE_SYSTEM || !options.tsaGiven) &&
        options.to[0] != '/' && options.to.find(':') == std::string::npos)
        local(options.to);
}

// A backup path given through symlinked directories ("/lib/terminfo" where
// /lib -> usr/lib) is refused by the TSA, which follows no symlinked parent;
// as tar follows it, kxsms names the path by its parent's real place and
// says so. The path itself stays as given (a symlink is backed up as one).
// Only a parent that exists here is looked at: with a resource that is not
// this machine's root, names that do not exist here are left alone.
void resolveSymlinkedParents(Options &options)
{
    if (options.tsa != KXSMS_TSA_FILE_SYSTEM || options.command != Command::Backup)
        return;
    for (std::string &path : options.paths) {
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos || slash == 0)
            continue;
        const std::string parent = path.substr(0, slash);
        char real[PATH_MAX];
        if (realpath(parent.c_str(), real) == nullptr || parent == real)
            continue;
        const std::string resolved = std::string(real) + path.substr(slash);
        fmt::print(stderr, "kxsms: {} is reached through a symbolic link: backing up {}\n", printable(path, NameStyle::FileSystem),
                   printable(resolved, NameStyle::FileSystem));
        path = resolved;
    }
}

} // namespace

int main(int argc, char **argv)
{
    // A reader that goes away is a write error to handle, not a silent
    // death; SIGINT, SIGTERM and SIGHUP end the job cleanly.
    installInterruptHandlers();

    Options options;
    bool version = false;
    const int status = parseCommandLine(argc, argv, options, version, std::cout, std::cerr, time(nullptr));
    if (status >= 0)
        return status;
    takeLocalPaths(options);
    resolveSymlinkedParents(options);
    // The module's lines are kept in memory for the causes of failures, and
    // shown only where asked for (--log, -v, KXLIB_LOG).
    startModuleLog(options.logFile, options.verbosity);
    fixTimeZone();
    if (version)
        return showVersions();
    int result = c_ExitStopped;
    try {
        result = run(options);
    } catch (const std::exception &e) {
        fmt::print(stderr, "kxsms: {}\n", e.what());
    }
    finishModuleLog();
    return result;
}
