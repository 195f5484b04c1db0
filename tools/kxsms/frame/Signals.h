// Interruption: SIGINT, SIGTERM and SIGHUP do not end kxsms at once. They are
// noted, blocking reads of the archive return, and the job ends at its next
// step: the data set being written is abandoned (the TSA discards it), an
// archive being written gets its end record, the summary so far is printed,
// and the exit status is 128 + the signal's number, as a shell reports it.
#ifndef KXSMS_TOOLS_SIGNALS_H
#define KXSMS_TOOLS_SIGNALS_H

#include <string>

namespace kxsms {

// Installs the handlers (without SA_RESTART, so that a read from a pipe that
// waits returns) and ignores SIGPIPE (a reader that goes away is a write
// error, handled where the write is).
void installInterruptHandlers();

// The signal that asked the job to stop, or 0.
int interruptSignal();

// True once a signal asked the job to stop.
inline bool interrupted()
{
    return interruptSignal() != 0;
}

// 130 for SIGINT, 143 for SIGTERM, 129 for SIGHUP.
int interruptedStatus();

// "interrupted by SIGINT" and so on.
std::string interruptText();

} // namespace kxsms

#endif
