// Formatting for people: names with control characters escaped, times,
// byte counts and rates.
#ifndef KXSMS_TOOLS_TEXT_H
#define KXSMS_TOOLS_TEXT_H

#include <cstdint>
#include <string>
#include <string_view>

namespace kxsms {

// Whose names a text shows: the file system's, where a backslash is one
// character of a name, or GroupWise and directory names, where backslashes
// belong to the name's form.
enum class NameStyle : uint8_t { FileSystem, Backslashed };

// The name with its control characters written as \xNN, so that a name
// cannot move the cursor or break a line of output; so are bytes that are
// not UTF-8. With the file system's names a backslash is written \\, so
// that every escape reads back one way
// ("a\nb" is "a\x0ab", the four characters "\x0a" are "\\x0a"). GroupWise
// and directory names keep their backslashes.
std::string printable(std::string_view name, NameStyle style);

// "1 data set", "2 data sets": the count with the word in its number
// (plural formed with an "s").
std::string counted(uint64_t count, std::string_view singular);

// Local time "YYYY-MM-DD HH:MM:SS".
std::string formatTime(int64_t seconds);

// "512 B", "1.5 KiB", "12.3 MiB", "4.0 GiB".
std::string formatBytes(uint64_t bytes);

// bytes per second as "12.3 MiB/s"; "-" when no time has passed.
std::string formatRate(uint64_t bytes, double seconds);

// A span of time as "42 s", "3:05" (minutes and seconds) or "2:03:05".
std::string formatDuration(double seconds);

} // namespace kxsms

#endif
