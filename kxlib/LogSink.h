// Where log lines go: the file named by KXLIB_LOG, else standard error.
#ifndef KXLIB_LOGSINK_H
#define KXLIB_LOGSINK_H

#include <cstddef>

namespace kxlib {

// Writes one complete line. KXLIB_LOG is looked up at every call, and the
// file is opened in append mode for this one write, so that several processes
// can share it, a rotated file is picked up at once and a change of the
// variable takes effect at the next line. When the variable is unset or empty,
// or the file cannot be opened, the line goes to standard error.
void writeLogLine(const char *line, std::size_t length);

} // namespace kxlib

#endif
