#include "utilities/UtilitiesLog.h"

#include "core/Export.h"

namespace smsemu {

// The utilities' log reports problems with the environment: the requester
// library always loads it too, so each problem is reported once. It lives
// until the process ends, so that calls made while the process exits still
// find it.
CallLog &utilitiesLog()
{
    static CallLog *log = new CallLog(true);
    return *log;
}

} // namespace smsemu

SMSEMU_EXPORT void smsemuUtilitiesLoad(int reload)
{
    try {
        if (reload != 0)
            smsemu::utilitiesLog().reload();
        else
            smsemu::utilitiesLog().ensureLoaded();
    } catch (...) {
    }
}

SMSEMU_EXPORT unsigned smsemuUtilitiesCallCount(const char *function)
{
    if (function == nullptr)
        return 0;
    std::optional<smsemu::Fn> fn = smsemu::findFunction(function);
    if (!fn || smsemu::functionInfo(*fn).library != smsemu::Library::Utilities)
        return 0;
    try {
        return smsemu::utilitiesLog().count(*fn);
    } catch (...) {
        return 0;
    }
}
