// The test API of SmsEmuTest.h.
#include "requester/SmsEmuTest.h"

#include "core/Export.h"
#include "requester/Registry.h"
#include "requester/RequesterLog.h"
#include "requester/Tsa.h"
#include "utilities/UtilitiesLog.h"

#include <cstdlib>
#include <mutex>
#include <string>

using namespace smsemu;

namespace {

std::mutex lastErrorMutex;
std::string lastError;

template <class F>
int countOrZero(F &&f)
{
    try {
        return f();
    } catch (...) {
        return 0;
    }
}

} // namespace

SMSEMU_EXPORT void smsemuReset(void)
{
    try {
        requesterLog().reload();
        smsemuUtilitiesLoad(1);
        Registry::instance().reset();
    } catch (...) {
    }
}

SMSEMU_EXPORT void smsemuSetFaults(const char *faults)
{
    try {
        if (faults != nullptr && faults[0] != '\0')
            setenv("SMSEMU_FAULTS", faults, 1);
        else
            unsetenv("SMSEMU_FAULTS");
        requesterLog().reload();
        smsemuUtilitiesLoad(1);
    } catch (...) {
    }
}

SMSEMU_EXPORT int smsemuOpenConnections(void)
{
    return countOrZero([] { return Registry::instance().openConnections(); });
}

SMSEMU_EXPORT int smsemuLoggedInConnections(void)
{
    return countOrZero([] { return Registry::instance().loggedInConnections(); });
}

SMSEMU_EXPORT int smsemuOpenScans(void)
{
    return countOrZero([] { return Registry::instance().openScans(); });
}

SMSEMU_EXPORT int smsemuOpenDataSets(void)
{
    return countOrZero([] { return Registry::instance().openDataSets(); });
}

SMSEMU_EXPORT const char *smsemuLastConfigError(void)
{
    std::lock_guard lock(lastErrorMutex);
    try {
        lastError = Registry::instance().lastConfigError();
    } catch (...) {
        lastError.clear();
    }
    return lastError.c_str();
}

SMSEMU_EXPORT unsigned smsemuCallCount(const char *function)
{
    if (function == nullptr)
        return 0;
    std::optional<Fn> fn = findFunction(function);
    if (!fn)
        return 0;
    if (functionInfo(*fn).library == Library::Utilities)
        return smsemuUtilitiesCallCount(function);
    try {
        return requesterLog().count(*fn);
    } catch (...) {
        return 0;
    }
}

SMSEMU_EXPORT const char *smsemuDefaultArchiveStatePath(const char *tsaName)
{
    static thread_local std::string path;
    try {
        path = smsemu::defaultArchiveStateFile(tsaName != nullptr ? tsaName : "").string();
    } catch (...) {
        path.clear();
    }
    return path.c_str();
}
