// Parsing of absolute and relative times.
#include "frame/SinceTime.h"

#include <cctype>
#include <ctime>

namespace kxsms {

namespace {

// Reads exactly digits decimal digits at text[pos].
bool number(std::string_view text, size_t pos, size_t digits, int &value)
{
    if (pos + digits > text.size())
        return false;
    value = 0;
    for (size_t i = pos; i < pos + digits; ++i) {
        if (!isdigit(static_cast<unsigned char>(text[i])))
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool allDigits(std::string_view text)
{
    if (text.empty() || text.size() > 18)
        return false;
    for (char c : text)
        if (!isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

int64_t digitsValue(std::string_view text)
{
    int64_t value = 0;
    for (char c : text)
        value = value * 10 + (c - '0');
    return value;
}

std::optional<int64_t> calendarTime(std::string_view text)
{
    // YYYY-MM-DD, then optionally ' ' or 'T', HH:MM, then optionally :SS.
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!number(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || !number(text, 5, 2, month) ||
        text[7] != '-' || !number(text, 8, 2, day))
        return std::nullopt;
    if (text.size() > 10) {
        if ((text[10] != ' ' && text[10] != 'T') || !number(text, 11, 2, hour) || text.size() < 16 || text[13] != ':' ||
            !number(text, 14, 2, minute))
            return std::nullopt;
        if (text.size() > 16 && (text.size() != 19 || text[16] != ':' || !number(text, 17, 2, second)))
            return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;

    struct tm fields = {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    const time_t value = mktime(&fields);
    // mktime moves a day that does not exist (February 30) into the next month.
    if (value == static_cast<time_t>(-1) || fields.tm_mday != day || fields.tm_mon != month - 1)
        return std::nullopt;
    return static_cast<int64_t>(value);
}

} // namespace

std::optional<int64_t> parseTime(std::string_view text, int64_t now, std::string &error)
{
    error.clear();
    if (!text.empty() && text[0] == '@' && allDigits(text.substr(1)))
        return digitsValue(text.substr(1));

    if (text.size() >= 2 && allDigits(text.substr(0, text.size() - 1))) {
        const int64_t count = digitsValue(text.substr(0, text.size() - 1));
        int64_t unit = 0;
        switch (text.back()) {
        case 's':
            unit = 1;
            break;
        case 'm':
            unit = 60;
            break;
        case 'h':
            unit = 3600;
            break;
        case 'd':
            unit = 86400;
            break;
        case 'w':
            unit = 7 * 86400;
            break;
        default:
            break;
        }
        if (unit != 0 && count <= (int64_t{1} << 40))
            return now - count * unit;
    }

    if (const auto value = calendarTime(text))
        return value;

    error = "\"" + std::string(text) +
            "\" is not a time: use 2024-03-01, \"2024-03-01 12:30[:15]\", @SECONDS or an age such as 90m, 2h, 7d";
    return std::nullopt;
}

} // namespace kxsms
