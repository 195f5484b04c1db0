// The selection list: data sets the host leaves out of its scans.
#include <cstdlib>

#include "KXSMS.h"
#include "KXSMSErr.h"

unsigned int CKXSMS::AddScanFilter(char *path)
{
    if (m_SelectionListClosed && m_ScanFilterCount > 0) {
        m_Log.error("Attempt to add a scan filter when the selection list is ended");
        return KXSMS_ERR_GENERAL;
    }

    char name[KXSMS_NAME_BUFFER];
    if (NetWareToSMS(path, name, sizeof name) != KXSMS_OK) {
        m_Log.debugLvl(1, "Invalid path in AddScanFilter(), %s.", path != nullptr ? path : "");
        return KXSMS_ERR_BAD_ARGUMENTS;
    }

    if (BeginNewResource(name) != KXSMS_OK) {
        m_Log.error("Error from Begin New Resource with adding a scan filter");
        return KXSMS_ERR_BAD_ARGUMENTS;
    }

    bool isResource = false;
    bool isRoot = false;
    if (DataSetType(name, &isResource, &isRoot) != KXSMS_OK) {
        m_Log.error("Failed to determine if filter %s is a resource", path);
        return KXSMS_ERR_GENERAL;
    }

    UINT32 nameSpace;
    UINT32 selectionType;
    if (isResource) {
        nameSpace = NWSM_TSA_DEFINED_RESOURCE;
        selectionType = NWSM_TSA_DEFINED_RESOURCE_EXC;
    } else {
        nameSpace = static_cast<UINT32>(m_PriorityNameSpace);
        bool isParent = false;
        if (IsDataSetParent(name, &isParent) != KXSMS_OK) {
            m_Log.error("Failed to determine if filter %s is a parent", path);
            return KXSMS_ERR_GENERAL;
        }
        selectionType = isParent ? NWSM_PARENT_TO_BE_EXCLUDED : NWSM_CHILD_TO_BE_EXCLUDED;
    }

    m_Log.error("Putting %s  (%d %d %s %s)", name, static_cast<int>(nameSpace), static_cast<int>(selectionType),
                m_Separator1, m_Separator2);

    CCODE rc;
    if (m_ScanFilterCount == 0) {
        // A list left behind by a refused first name is not built upon.
        free(m_SelectionList);
        m_SelectionList = nullptr;
        rc = NWSMPutFirstName(&m_SelectionList, nameSpace, selectionType, false, m_Separator1, m_Separator2, name,
                              &m_SelectionListHandle);
    } else {
        rc = NWSMPutNextName(&m_SelectionList, &m_SelectionListHandle, nameSpace, selectionType, false, m_Separator1,
                             m_Separator2, name);
    }
    if (rc != 0) {
        m_Log.error("Put First/Next (%d) Name failed, %x\n", static_cast<int>(m_ScanFilterCount), rc);
        return KXSMS_OK;
    }
    ++m_ScanFilterCount;
    m_SelectionListClosed = false;
    return KXSMS_OK;
}

unsigned int CKXSMS::EnableScanFilters()
{
    if (m_ScanFilterCount == 0)
        return KXSMS_OK;
    if (!m_SelectionListClosed) {
        m_Log.debug("Closing Scan Filters");
        const CCODE rc = NWSMCloseName(&m_SelectionListHandle);
        if (rc != 0) {
            m_Log.error("Failed to close scan filters, %d(%x) %s.", static_cast<int>(rc), rc, GetSMSErrorText(rc));
            return KXSMS_ERR_GENERAL;
        }
        m_SelectionListClosed = true;
    }
    m_ScanFiltersEnabled = true;
    return KXSMS_OK;
}

void CKXSMS::ClearScanFilters()
{
    if (m_SelectionList != nullptr) {
        free(m_SelectionList);
        m_SelectionList = nullptr;
    }
    m_ScanFilterCount = 0;
    m_SelectionListClosed = false;
    m_ScanFiltersEnabled = false;
}
