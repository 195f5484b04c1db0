// Text formatting helpers.
#include "Text.h"

#include <ctime>

#include <fmt/format.h>

namespace kxsms {

std::string printable(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            out += fmt::format("\\x{:02x}", byte);
        else
            out += c;
    }
    return out;
}

std::string formatTime(int64_t seconds)
{
    const time_t value = static_cast<time_t>(seconds);
    struct tm fields;
    if (localtime_r(&value, &fields) == nullptr)
        return std::to_string(seconds);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields);
    return text;
}

std::string formatBytes(uint64_t bytes)
{
    static const char *const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    if (bytes < 1024)
        return fmt::format("{} B", bytes);
    double value = static_cast<double>(bytes) / 1024.0;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < sizeof units / sizeof units[0]) {
        value /= 1024.0;
        ++unit;
    }
    return fmt::format("{:.1f} {}", value, units[unit]);
}

std::string formatRate(uint64_t bytes, double seconds)
{
    if (seconds <= 0.0)
        return "-";
    return formatBytes(static_cast<uint64_t>(static_cast<double>(bytes) / seconds)) + "/s";
}

} // namespace kxsms
