// The requester library's call log. Using it first also loads the utilities'
// log, which reports problems with SMSEMU_TRACE / SMSEMU_FAULTS.
#pragma once

#include "core/CallLog.h"

namespace smsemu {
CallLog &requesterLog();
}
