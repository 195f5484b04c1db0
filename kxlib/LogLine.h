// Composition of one log line: "<time> <pid> <LEVEL> <message>\n"; from a
// thread other than the process's first "<time> <pid>/<tid> <LEVEL> <message>\n".
#ifndef KXLIB_LOGLINE_H
#define KXLIB_LOGLINE_H

#include <cstdarg>
#include <cstddef>

namespace kxlib {

// Upper bound of a line, newline included. It is PIPE_BUF on Linux, so that a
// line written to a pipe arrives in one piece as well.
constexpr std::size_t kLogLineMax = 4096;

// Writes the line for `level` and the printf-formatted message into `line`
// (room for `capacity` bytes) and returns its length, the final newline
// included. The message is cut to fit; trailing newlines of the message are
// dropped and inner ones become blanks, so a call always yields one line.
// The result is not terminated.
std::size_t composeLogLine(char *line, std::size_t capacity, const char *level, const char *format, va_list args)
    __attribute__((format(printf, 4, 0)));

} // namespace kxlib

#endif
