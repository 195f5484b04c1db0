// Times on the command line (--since).
#ifndef KXSMS_TOOLS_SINCETIME_H
#define KXSMS_TOOLS_SINCETIME_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kxsms {

// Seconds since the epoch for one of:
//   "@1700000000"                      seconds since the epoch
//   "2024-03-01"                       local midnight of that day
//   "2024-03-01 12:30", "2024-03-01T12:30:15"   local time
//   "90s", "30m", "2h", "7d", "2w"      that long before now
// Nothing (and the reason in error) for anything else, including dates that
// do not exist (2024-02-30).
std::optional<int64_t> parseTime(std::string_view text, int64_t now, std::string &error);

} // namespace kxsms

#endif
