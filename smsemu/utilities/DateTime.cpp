// Packed date-times of SMS (libsmsut), in the DOS layout: the high 16 bits
// (year - 1980) << 9 | month << 5 | day, the low 16 bits
// hour << 11 | minute << 5 | second / 2.
#include "core/Export.h"
#include "core/PackedTime.h"
#include "SMSAPI.h"
#include "utilities/UtilitiesLog.h"

#include <ctime>

using namespace smsemu;

namespace {

void set(UINT16 *to, unsigned value)
{
    if (to != nullptr)
        *to = static_cast<UINT16>(value);
}

} // namespace

SMSEMU_EXPORT UINT32 NWSMPackDateTime(UINT16 year, UINT16 month, UINT16 day, UINT16 hour, UINT16 minute, UINT16 second)
{
    CallLog &log = utilitiesLog();
    CallLog::Start start = startCall(log, Fn::NWSMPackDateTime);
    UINT32 packed = packDateTime(year, month, day, hour, minute, second);
    if (start.trace)
        traceCall(log, Fn::NWSMPackDateTime, [&](TraceLine &t) {
            t.hex(year).hex(month).hex(day).hex(hour).hex(minute).hex(second);
            return t.endValue(packed);
        });
    return packed;
}

SMSEMU_EXPORT void NWSMUnPackDateTime(UINT32 packed, UINT16 *year, UINT16 *month, UINT16 *day, UINT16 *hour,
                                      UINT16 *minute, UINT16 *second)
{
    CallLog &log = utilitiesLog();
    CallLog::Start start = startCall(log, Fn::NWSMUnPackDateTime);
    if (packed == 0) {
        // No time: the local calendar fields of the epoch, so that a caller
        // converting them back with mktime gets 0.
        tzset();
        std::time_t epoch = 0;
        std::tm tm{};
        localtime_r(&epoch, &tm);
        set(year, static_cast<unsigned>(tm.tm_year + 1900));
        set(month, static_cast<unsigned>(tm.tm_mon + 1));
        set(day, static_cast<unsigned>(tm.tm_mday));
        set(hour, static_cast<unsigned>(tm.tm_hour));
        set(minute, static_cast<unsigned>(tm.tm_min));
        set(second, static_cast<unsigned>(tm.tm_sec));
    } else {
        UINT32 date = packed >> 16;
        UINT32 time = packed & 0xFFFFu;
        set(year, (date >> 9) + 1980);
        set(month, (date >> 5) & 0xFu);
        set(day, date & 0x1Fu);
        set(hour, time >> 11);
        set(minute, (time >> 5) & 0x3Fu);
        set(second, (time & 0x1Fu) * 2);
    }
    if (start.trace)
        traceCall(log, Fn::NWSMUnPackDateTime, [&](TraceLine &t) {
            t.hex(packed).valueAt(year).valueAt(month).valueAt(day).valueAt(hour).valueAt(minute).valueAt(second);
            return t.endVoid();
        });
}
