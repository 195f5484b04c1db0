// What the file-system TSA has to say about a data set that its SMS code
// cannot carry (the system's words for an error, a link's first name, the
// attributes that could not be set): one line in the host's log, which the
// support library keeps in the file KXLIB_LOG names, so that the host can
// put it into its own report of the failure. Without that file the line goes
// to standard error, as the support library's own lines do.
//
// The line: `<time> <pid> ERROR smsemu: "NAME": WHAT`, the name quoted as in
// the trace (`"` and `\` escaped, control characters as \xNN).
#pragma once

#include "filesystem/ErrnoCodes.h"

#include <string>
#include <string_view>

namespace smsemu {

void tellHost(std::string_view name, std::string_view what);

// errnoCode(step, error), the errno's text told to the host under `name`
// where that code does not say it (codeSaysIt).
CCODE toldErrnoCode(std::string_view name, FsStep step, int error);

// The line tellHost writes, without the time and pid of the log's format.
std::string hostLine(std::string_view name, std::string_view what);

} // namespace smsemu
