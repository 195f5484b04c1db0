#include "core/PackedTime.h"

namespace smsemu {

UINT32 packDateTime(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second)
{
    if (year < 1980 || year > 2107 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 59)
        return 0;
    UINT32 date = static_cast<UINT32>(year - 1980) << 9 | static_cast<UINT32>(month) << 5 | day;
    UINT32 time = static_cast<UINT32>(hour) << 11 | static_cast<UINT32>(minute) << 5 | second / 2u;
    return date << 16 | time;
}

UINT32 packLocalTime(std::time_t time)
{
    std::tm tm{};
    if (localtime_r(&time, &tm) == nullptr || tm.tm_year < 80 || tm.tm_year > 207)
        return 0;
    return packDateTime(static_cast<unsigned>(tm.tm_year + 1900), static_cast<unsigned>(tm.tm_mon + 1),
                        static_cast<unsigned>(tm.tm_mday), static_cast<unsigned>(tm.tm_hour),
                        static_cast<unsigned>(tm.tm_min), static_cast<unsigned>(tm.tm_sec));
}

} // namespace smsemu
