// The target service's resources, the file-system TSA's caching mode and the
// free-space question.
#include "KXSMS.h"
#include "KXSMSErr.h"

unsigned int CKXSMS::GetTSAResources(std::vector<std::string> &names)
{
    m_Log.debug("Getting List of Available Target Service Resources");
    NWSM_NAME_LIST *list = nullptr;
    const CCODE rc = NWSMTSListTSResources(m_TSAConnection, &list);
    GiveUpControl();
    if (rc != 0)
        return KXSMS_ERR_GENERAL;

    m_Log.debug("Available Target Service Resources: ");
    const size_t before = names.size();
    unsigned int result = KXSMS_OK;
    try {
        for (NWSM_NAME_LIST *entry = list; entry != nullptr; entry = entry->next) {
            const char *name = entry->name != nullptr ? entry->name : "";
            names.emplace_back(name);
            m_Log.debug("%s", name);
        }
    } catch (...) {
        // Out of memory while appending: the vector goes back to what it held.
        names.resize(before);
        result = KXSMS_ERR_GENERAL;
    }
    NWSMFreeNameList(&list);
    return result;
}

bool CKXSMS::EnableCachingMode(bool enable)
{
    if (m_TSAType != KXSMS_TSA_FILE_SYSTEM)
        return false;
    UINT32 value = enable ? 1 : 0;
    const CCODE rc = NWSMTSConfigureTargetService(m_TSAConnection, NWSM_OPTION_CACHING_MODE, &value);
    GiveUpControl();
    if (rc != 0) {
        m_Log.debugLvl(1, "Failed to set caching mode to %d, %d", static_cast<int>(value), static_cast<int>(rc));
        return false;
    }
    m_Log.debugLvl(1, enable ? "Enabled TSA caching mode" : "Disabled TSA caching mode");
    return true;
}

bool CKXSMS::IsSpaceAvailable()
{
    m_Log.error("KXSMS::IsSpaceAvailable is not implemented on this OS");
    return true;
}
