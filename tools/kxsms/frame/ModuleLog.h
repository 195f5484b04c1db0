// The module's log, kept by kxsms. The module writes its lines (through the
// support library) to the file KXLIB_LOG names; kxsms points that at a file
// in memory, reads what each call wrote, and so learns the SMS code and the
// TSA's text behind a failure that the module returns only as its own,
// coarser code. Every line is passed on to where the log was asked for
// (--log FILE, a KXLIB_LOG of the environment, -v: stderr) and otherwise
// dropped, as before.
#ifndef KXSMS_TOOLS_MODULELOG_H
#define KXSMS_TOOLS_MODULELOG_H

#include <string>

namespace kxsms {

// Sets the capture up; before the module is loaded. logFile: --log or "".
// Without a memory file (or /proc), the log goes straight where it was asked
// for, and failure lines carry the module's message alone.
void startModuleLog(const std::string &logFile, int verbosity);

// The lines the module wrote, from this thread's calls, since this thread's
// last call; every line read is passed on on the way. Safe from several
// threads at once (the module marks the lines of each thread: "<pid>/<tid>").
// Cheap when there are none (one read).
std::string takeModuleLog();

// A thread's last take, once it has made its last module call: passes on
// what is left and forgets this thread's lines, which no one would claim (a
// long-lived host runs many jobs, each with threads of its own).
void leaveModuleLog();

// Passes on what is left; at the end of the program.
void finishModuleLog();

} // namespace kxsms

#endif
