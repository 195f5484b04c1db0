// What the command line asks for.
#ifndef KXSMS_TOOLS_COMMANDLINE_H
#define KXSMS_TOOLS_COMMANDLINE_H

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "KXSMS.h"

namespace kxsms {

// Exit statuses.
constexpr int c_ExitOk = 0;         // everything done
constexpr int c_ExitSomeFailed = 1; // some data sets failed; the rest was done
constexpr int c_ExitStopped = 2;    // the job stopped, or could not start

enum class Command { None, Resources, Ls, Info, Backup, Restore, List, Verify, Rm };

// What restore does with a data set that exists already.
enum class Overwrite {
    Always, // replace it
    Newer,  // replace it only when the archive's copy is newer (the TSA decides)
    Never,  // leave it alone
};

struct Options {
    Command command = Command::None;

    // Global options.
    KXSMS_TSA_TYPE tsa = KXSMS_TSA_FILE_SYSTEM;
    bool tsaGiven = false;
    std::string user; // empty: the user the process runs as
    std::string passwordFile;
    std::string logFile;
    int verbosity = 0;

    // ls, info
    std::string path;
    bool recursive = false;
    bool longFormat = false;
    bool json = false;

    // backup, restore, list, verify, rm
    std::string archive;               // the archive (restore: the first of archives)
    std::vector<std::string> archives; // restore: a chain, oldest first
    std::vector<std::string> paths;    // backup: what to save; restore, list: the members to take; rm: what to delete
    std::vector<std::string> excludes; // exact names and shell patterns
    bool dryRun = false;
    bool passwordPrompt = false;
    std::optional<int64_t> since;
    bool incremental = false;
    bool clearArchive = false;
    bool zstd = false;
    std::string to;
    bool inPlace = false;
    // --to: Always; --in-place: Newer (an existing data set that is not older is kept).
    Overwrite overwrite = Overwrite::Always;
    bool xattrs = true; // restore extended attributes and ACLs (the access rights)
};

// Parses the command line into options. Returns -1 when the command is to
// run (or, with showVersion set, the version to be shown); otherwise the exit
// status: 0 after --help (written to out), 2 for a command line that is
// wrong (the reason written to err). now is the reference of relative times
// such as "--since 2h".
int parseCommandLine(int argc, const char *const *argv, Options &options, bool &showVersion, std::ostream &out,
                     std::ostream &err, int64_t now);

const char *tsaOptionName(KXSMS_TSA_TYPE type);

} // namespace kxsms

#endif
