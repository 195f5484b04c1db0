#include "RequesterLog.h"

#include "UtilitiesLog.h"

namespace smsemu {

CallLog &requesterLog()
{
    static CallLog log = [] {
        smsemuUtilitiesLoad(0);
        return CallLog(false);
    }();
    return log;
}

} // namespace smsemu
