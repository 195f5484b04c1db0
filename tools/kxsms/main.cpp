// kxsms: the command-line host of the KXSMS module.
#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iostream>

#include <unistd.h>

#include <fmt/format.h>

#include "commands/Commands.h"
#include "frame/BuildStamp.h"
#include "frame/CommandLine.h"
#include "frame/Module.h"
#include "frame/ModuleLog.h"
#include "frame/Signals.h"

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

} // namespace

int main(int argc, char **argv)
{
    // A reader that goes away is a write error to handle, not a silent
    // death; SIGINT, SIGTERM and SIGHUP end the job cleanly.
    installInterruptHandlers();

    const std::vector<std::unique_ptr<Command>> commands = allCommands();
    ParsedCommandLine parsed;
    const int status = parseCommandLine(argc, argv, commands, parsed, std::cout, std::cerr, time(nullptr));
    if (status >= 0)
        return status;
    if (parsed.command != nullptr) {
        // Paths given relative to the working directory become the TSA's names.
        char cwd[PATH_MAX];
        parsed.command->takeLocalNames(parsed.globals, getcwd(cwd, sizeof cwd) != nullptr ? cwd : "");
    }
    // The module's lines are kept in memory for the causes of failures, and
    // shown only where asked for (--log, -v, KXLIB_LOG).
    startModuleLog(parsed.globals.logFile, parsed.globals.verbosity);
    fixTimeZone();
    if (parsed.showVersion)
        return showVersions();
    int result = c_ExitStopped;
    try {
        result = parsed.command->run(parsed.globals);
    } catch (const std::exception &e) {
        fmt::print(stderr, "kxsms: {}\n", e.what());
    }
    finishModuleLog();
    return result;
}
