// Scan options (the scan-control record and the scan start time) and the
// conversion between epoch seconds and SMS packed date-times.
#include <climits>
#include <cstring>
#include <ctime>

#include "Internal.h"
#include "KXSMS.h"

namespace kxsms {

const NWSM_SCAN_CONTROL defaultScanControl = {
    64,                       // bufferSize
    61,                       // scanControlSize
    NWSM_SCAN_TYPE_ONE_LEVEL, // scanType: do not traverse
    0,
    0,
    0,
    0, // access and creation ranges
    0,
    0, // modification range: no bounds
    0,
    0, // archive range
    0,
    0,
    0,
    0,
    0,
    0,                  // option flags (byte 44: generate CRC)
    {0, 0, 0, 0, 0, 0}, // reserved
    -1,                 // scanChildNameSpaceType
    -1,                 // returnNameSpaceType
    0,                  // callScanFilter
    {0, 0, 0},          // otherInformation
};

} // namespace kxsms

void CKXSMS::SetScanStartTime(long time)
{
    m_ScanStartTime = time;
}

long CKXSMS::GetScanStartTime()
{
    return m_ScanStartTime;
}

NWSM_SCAN_CONTROL *CKXSMS::GetScanControl()
{
    return &m_ScanControl;
}

void CKXSMS::SetScanControl(NWSM_SCAN_CONTROL *control)
{
    if (control != nullptr)
        memcpy(&m_ScanControl, control, sizeof m_ScanControl);
}

void CKXSMS::SetScanTraverse(bool traverse)
{
    GetScanControl()->scanType = traverse ? 0u : NWSM_SCAN_TYPE_ONE_LEVEL;
}

void CKXSMS::SetScanModifiedDateTimeRange(long from, long to)
{
    NWSM_SCAN_CONTROL *control = GetScanControl();
    control->firstModifiedDateAndTime = (from == 0) ? 0u : PackTime(from);
    control->lastModifiedDateAndTime = (to == 0) ? 0u : PackTime(to);
}

unsigned int CKXSMS::PackTime(long time)
{
    const time_t seconds = static_cast<time_t>(time);
    struct tm calendar;
    if (localtime_r(&seconds, &calendar) == nullptr)
        return 0; // no calendar form: no packed form either
    const long year = static_cast<long>(calendar.tm_year) + 1900;
    if (year < 0 || year > 0xFFFF)
        return 0; // a year that does not fit the 16-bit argument cannot be packed
    return NWSMPackDateTime(static_cast<UINT16>(year), static_cast<UINT16>(calendar.tm_mon + 1),
                            static_cast<UINT16>(calendar.tm_mday), static_cast<UINT16>(calendar.tm_hour),
                            static_cast<UINT16>(calendar.tm_min), static_cast<UINT16>(calendar.tm_sec));
}

unsigned int CKXSMS::UnpackTime(unsigned int packed)
{
    UINT16 year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    NWSMUnPackDateTime(packed, &year, &month, &day, &hour, &minute, &second);

    struct tm calendar;
    memset(&calendar, 0, sizeof calendar);
    calendar.tm_sec = second;
    calendar.tm_min = minute;
    calendar.tm_hour = hour;
    calendar.tm_mday = day;
    calendar.tm_mon = month - 1;
    calendar.tm_year = year - 1900;
    calendar.tm_isdst = -1;
    const time_t seconds = mktime(&calendar);
    // mktime answers -1 for fields it cannot convert; such a time is missing
    // (0), not the largest representable second.
    if (seconds == static_cast<time_t>(-1))
        return 0;
    return static_cast<unsigned int>(seconds);
}

void CKXSMS::GetRelativeFileTimes(NWSM_SCAN_INFORMATION *info, long *created, long *modified, long *accessed)
{
    // The three packed times are often equal; each distinct one is converted once.
    const UINT32 packedCreated = info->createDateAndTime;
    const UINT32 packedModified = info->modifiedDateAndTime;
    const UINT32 packedAccessed = info->accessDateAndTime;
    long c = static_cast<long>(UnpackTime(packedCreated));
    long m = packedModified == packedCreated ? c : static_cast<long>(UnpackTime(packedModified));
    long a = packedAccessed == packedModified  ? m
             : packedAccessed == packedCreated ? c
                                               : static_cast<long>(UnpackTime(packedAccessed));

    if (m == 0)
        m = c;
    if (m == 0)
        m = m_ScanStartTime;
    if (c == 0)
        c = m_ScanStartTime;
    if (a == 0)
        a = m_ScanStartTime;
    if (m < c)
        m = c;
    if (a < m)
        a = m;

    if (modified != nullptr)
        *modified = m;
    if (created != nullptr)
        *created = c;
    if (accessed != nullptr)
        *accessed = a;
}
