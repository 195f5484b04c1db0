// Packed date-times in the DOS layout, for the stand-in's own use (the
// exported NWSMPackDateTime of libsmsut is built on the same function).
#pragma once

#include "SMSAPI.h"

#include <ctime>

namespace smsemu {

// High 16 bits (year - 1980) << 9 | month << 5 | day, low 16 bits
// hour << 11 | minute << 5 | second / 2; 0 for a field out of range (a year
// outside 1980-2107).
UINT32 packDateTime(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second);

// A time in seconds since the epoch, packed in local time; 0 when it cannot
// be broken down or packed.
UINT32 packLocalTime(std::time_t time);

} // namespace smsemu
