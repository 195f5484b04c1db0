// Writing a backed-up SMS stream back to a data set opened for restore.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Internal.h"
#include "KXSMS.h"
#include "KXSMSErr.h"

namespace {

// The open mode from the host's options.
UINT32 restoreOpenMode(bool overwrite, KXSMS_TRUSTEE_OPTION trustees, bool dataOnly)
{
    UINT32 mode = overwrite ? NWSM_OVERWRITE_DATA_SET : NWSM_KEEP_NEWER_DATA_SET;
    if (trustees == KXSMS_TRUSTEE_ACCESS)
        mode |= 0x0C00u;
    else if (trustees == KXSMS_TRUSTEE_OWNER)
        mode |= 0x0101u;
    if (!dataOnly)
        mode |= 0x3000u;
    return mode;
}

unsigned int missingNameSpaceCode(unsigned int nameSpace)
{
    switch (nameSpace) {
    case NWSM_NAME_SPACE_MAC:
        return KXSMS_ERR_MAC_NAME_SPACE;
    case NWSM_NAME_SPACE_NFS:
        return KXSMS_ERR_NFS_NAME_SPACE;
    case NWSM_NAME_SPACE_OS2:
        return KXSMS_ERR_OS2_NAME_SPACE;
    default:
        return KXSMS_ERR_UNKNOWN_NAME_SPACE;
    }
}

} // namespace

unsigned int CKXSMS::BeginRestore(char *pcDataSetName, unsigned int nameSpace, bool overwrite,
                                  KXSMS_TRUSTEE_OPTION trusteeOption, bool skipNameSpaceCheck, bool dataOnly,
                                  bool useNewName)
{
    if (pcDataSetName == nullptr || pcDataSetName[0] == '\0')
        return KXSMS_ERR_BAD_ARGUMENTS;
    if (m_TSAConnection == KXSMS_NOT_CONNECTED)
        return KXSMS_ERR_NO_CONNECTION;

    if (BeginNewResource(pcDataSetName) != KXSMS_OK) {
        // The address goes to %x as its low 32 bits: the line keeps its text
        // and the format gets the type it expects.
        m_Log.error("Bad args passed to KXSMSBeginRestore(pcDataSetName=%x).",
                    static_cast<unsigned int>(reinterpret_cast<uintptr_t>(pcDataSetName)));
        return KXSMS_ERR_BAD_ARGUMENTS;
    }

    char smsName[KXSMS_NAME_BUFFER];
    if (NetWareToSMS(pcDataSetName, smsName, sizeof smsName) != KXSMS_OK) {
        m_Log.error("Invalid path in KXSMSBeginRestore(), %s.", pcDataSetName);
        return KXSMS_ERR_BAD_ARGUMENTS;
    }

    bool isResource = false;
    bool isRoot = false;
    if (DataSetType(pcDataSetName, &isResource, &isRoot) != KXSMS_OK)
        return KXSMS_ERR_BAD_ARGUMENTS;

    // The directory TSA and resources that are not roots take fixed options.
    if (m_TSAType == KXSMS_TSA_DIRECTORY || (isResource && !isRoot)) {
        overwrite = true;
        trusteeOption = KXSMS_TRUSTEE_DEFAULT;
        skipNameSpaceCheck = true;
        dataOnly = true;
        useNewName = false;
    }

    if (!skipNameSpaceCheck && !IsNameSpaceInstalled(nameSpace, pcDataSetName)) {
        const unsigned int code = missingNameSpaceCode(nameSpace);
        m_Log.error("Required name space %s must be installed to restore %s", GetOwningNameSpaceName(nameSpace),
                    pcDataSetName);
        return code;
    }

    RootToTreeName(smsName);

    NWSM_DATA_SET_NAME_LIST *nameList = nullptr;
    if (useNewName) {
        const CCODE rc = PutOneName(0, &nameList, smsName);
        if (rc != 0) {
            m_Log.error("Put data set name failed for %s, (%x) %s.", pcDataSetName, rc, GetSMSErrorText(rc));
            return KXSMS_ERR_BAD_ARGUMENTS;
        }
    }

    m_DataSetHandle = 0;
    const UINT32 mode = restoreOpenMode(overwrite, trusteeOption, dataOnly);
    const CCODE rc = NWSMTSOpenDataSetForRestore(m_TSAConnection, 0, nameList, mode, &m_DataSetHandle);
    GiveUpControl();
    free(nameList);
    if (rc != 0) {
        m_DataSetHandle = 0;
        m_Log.error("Open data set failed for %s, (%x) %s.", pcDataSetName, rc, GetSMSErrorText(rc));
        return CheckSMSError(rc, pcDataSetName, KXSMS_ACTION_RESTORE);
    }
    kxsms::copyTruncated(m_DataSetName, sizeof m_DataSetName, pcDataSetName);
    return KXSMS_OK;
}

unsigned int CKXSMS::Restore(unsigned char *data, unsigned long size)
{
    if (data == nullptr || size > KXSMS_MAX_BLOCK)
        return KXSMS_ERR_BAD_ARGUMENTS;
    if (m_TSAConnection == KXSMS_NOT_CONNECTED || m_DataSetHandle == 0)
        return KXSMS_ERR_BAD_ARGUMENTS;

    const CCODE rc = NWSMTSWriteDataSet(m_TSAConnection, m_DataSetHandle, static_cast<UINT32>(size), data);
    GiveUpControl();
    if (rc != 0) {
        m_Log.error("Write data set failed for %s,  (%x) %s.", m_DataSetName, rc, GetSMSErrorText(rc));
        return CheckSMSError(rc, m_DataSetName, KXSMS_ACTION_RESTORE);
    }
    return KXSMS_OK;
}

unsigned int CKXSMS::EndRestore()
{
    if (m_TSAConnection == KXSMS_NOT_CONNECTED || m_DataSetHandle == 0)
        return KXSMS_OK;

    const CCODE rc = NWSMTSCloseDataSet(m_TSAConnection, &m_DataSetHandle);
    m_DataSetHandle = 0;
    GiveUpControl();
    unsigned int result = KXSMS_OK;
    if (rc != 0) {
        m_Log.error("Close data set failed for %s, (%x) %s.", m_DataSetName, rc, GetSMSErrorText(rc));
        result = CheckSMSError(rc, m_DataSetName, KXSMS_ACTION_RESTORE);
    }
    m_DataSetName[0] = '\0';
    return result;
}
