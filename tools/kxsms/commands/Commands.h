// The subcommands. Each returns the exit status of the job.
#ifndef KXSMS_TOOLS_COMMANDS_H
#define KXSMS_TOOLS_COMMANDS_H

#include <string>

#include "frame/CommandLine.h"

namespace kxsms {

int runResources(const Options &options);
int runLs(const Options &options);
int runInfo(const Options &options);
int runRm(const Options &options);
int runBackup(const Options &options);
int runRestore(const Options &options);
int runList(const Options &options);
int runVerify(const Options &options);

class ModuleSession;
// Reports a failure on stderr (what failed, the module's message, the TSA's
// text); returns the exit status it calls for.
int failureStatus(ModuleSession &session, const std::string &what, unsigned int code);

} // namespace kxsms

#endif
