// Formatting for people: names with control characters escaped, times,
// byte counts and rates.
#ifndef KXSMS_TOOLS_TEXT_H
#define KXSMS_TOOLS_TEXT_H

#include <cstdint>
#include <string>
#include <string_view>

namespace kxsms {

// The name with its control characters written as \xNN, so that a name
// cannot move the cursor or break a line of output.
std::string printable(std::string_view name);

// Local time "YYYY-MM-DD HH:MM:SS".
std::string formatTime(int64_t seconds);

// "512 B", "1.5 KiB", "12.3 MiB", "4.0 GiB".
std::string formatBytes(uint64_t bytes);

// bytes per second as "12.3 MiB/s"; "-" when no time has passed.
std::string formatRate(uint64_t bytes, double seconds);

} // namespace kxsms

#endif
