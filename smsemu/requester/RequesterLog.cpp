#include "requester/RequesterLog.h"

#include "utilities/UtilitiesLog.h"

namespace smsemu {

// The requester's log stays silent about the environment: the utilities' log,
// loaded along with it, reports each problem once. It lives until the process
// ends, so that calls made while the process exits still find it.
CallLog &requesterLog()
{
    static CallLog *log = new CallLog(false, [] { smsemuUtilitiesLoad(0); });
    return *log;
}

} // namespace smsemu
