// The utilities library's call log, and the two internal functions through
// which the requester library resets it and reads its counters (libsmdr links
// libsmsut). These are exported from libsmsut.so.0 but are no SMS calls.
#pragma once

#include "core/CallLog.h"

extern "C" {
// Reads SMSEMU_TRACE and SMSEMU_FAULTS again (reload non-zero) or only if not
// read yet, and clears the counters when it reads.
void smsemuUtilitiesLoad(int reload);
unsigned smsemuUtilitiesCallCount(const char *function);
}

namespace smsemu {
CallLog &utilitiesLog();
}
