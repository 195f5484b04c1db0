// Text formatting helpers.
#include "io/Text.h"

#include <ctime>

#include <fmt/format.h>

namespace kxsms {

namespace {

// The length of the well-formed UTF-8 sequence at the start of text (no
// overlong forms, no surrogates, nothing above U+10FFFF), or 0.
size_t utf8Length(std::string_view text)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(0);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (first >= 0xC2 && first <= 0xDF)
        length = 2;
    else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        low = first == 0xE0 ? 0xA0 : 0x80;
        high = first == 0xED ? 0x9F : 0xBF;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        low = first == 0xF0 ? 0x90 : 0x80;
        high = first == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

} // namespace

std::string printable(std::string_view name, NameStyle style)
{
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        const char c = name[i];
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            // Bytes that are not UTF-8 are escaped too, so that two such names
            // do not look alike.
            const size_t length = utf8Length(name.substr(i));
            if (length == 0) {
                out += fmt::format("\\x{:02x}", byte);
                ++i;
            } else {
                out.append(name.substr(i, length));
                i += length;
            }
            continue;
        }
        if (byte < 0x20 || byte == 0x7F)
            out += fmt::format("\\x{:02x}", byte);
        else if (c == '\\' && style == NameStyle::FileSystem)
            out += "\\\\";
        else
            out += c;
        ++i;
    }
    return out;
}

std::string counted(uint64_t count, std::string_view singular)
{
    return fmt::format("{} {}{}", count, singular, count == 1 ? "" : "s");
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

std::string formatDuration(double seconds)
{
    const auto total = static_cast<uint64_t>(seconds < 0.0 ? 0.0 : seconds + 0.5);
    if (total < 60)
        return fmt::format("{} s", total);
    if (total < 3600)
        return fmt::format("{}:{:02}", total / 60, total % 60);
    return fmt::format("{}:{:02}:{:02}", total / 3600, total / 60 % 60, total % 60);
}

std::string formatRate(uint64_t bytes, double seconds)
{
    if (seconds <= 0.0)
        return "-";
    return formatBytes(static_cast<uint64_t>(static_cast<double>(bytes) / seconds)) + "/s";
}

} // namespace kxsms
