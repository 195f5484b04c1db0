// Reading a data set's SMS stream block by block into the host's buffer.
#include <cstdint>
#include <cstring>

#include "Internal.h"
#include "KXSMS.h"
#include "KXSMSErr.h"

void CKXSMS::SetClearArchiveBitFlag(bool clear)
{
    m_ClearArchiveBit = clear;
}

unsigned int CKXSMS::BeginBackup(char *path, unsigned int *sequence, bool *isParent, long *created, long *modified,
                                 unsigned long long *size, unsigned int *nameSpace, bool openFlag)
{
    m_BackupNoScan = false;
    if (path == nullptr || sequence == nullptr)
        return KXSMS_ERR_BAD_ARGUMENTS;
    if (m_TSAConnection == KXSMS_NOT_CONNECTED)
        return KXSMS_ERR_NO_CONNECTION;

    char name[KXSMS_NAME_BUFFER];
    if (NetWareToSMS(path, name, sizeof name) != KXSMS_OK) {
        m_Log.error("Invalid path in KXSMSBeginBackup(), %s.", path);
        return KXSMS_ERR_BAD_ARGUMENTS;
    }

    unsigned int code = BeginScan(name, sequence, KXSMS_ACTION_BACKUP);
    if (code != KXSMS_OK)
        return code;

    code =
        GetDataSetInfo(nullptr, 0, nullptr, 0, isParent, nullptr, nullptr, created, modified, nullptr, size, nameSpace);
    if (code != KXSMS_OK) {
        AbortScan(sequence);
        return code;
    }

    UINT32 mode = openFlag ? (NWSM_OPEN_FOR_BACKUP | NWSM_OPEN_KEEP_ACCESS_TIME) : NWSM_OPEN_FOR_BACKUP;
    if (m_OpenFilesUnprotected)
        mode |= NWSM_OPEN_UNPROTECTED;
    m_DataSetHandle = 0;
    const CCODE rc = NWSMTSOpenDataSetForBackup(m_TSAConnection, *sequence, mode, &m_DataSetHandle);
    GiveUpControl();
    if (rc != 0) {
        m_DataSetHandle = 0;
        m_Log.error("Open data set failed for %s, (%x) %s.", path, rc, GetSMSErrorText(rc));
        AbortScan(sequence);
        return CheckSMSError(rc, path, KXSMS_ACTION_BACKUP);
    }
    kxsms::copyTruncated(m_DataSetName, sizeof m_DataSetName, path);
    return KXSMS_OK;
}

unsigned int CKXSMS::BeginBackupNoScan(char *path, unsigned int *sequence, bool openFlag)
{
    if (path == nullptr || sequence == nullptr)
        return KXSMS_ERR_BAD_ARGUMENTS;
    if (m_TSAConnection == KXSMS_NOT_CONNECTED)
        return KXSMS_ERR_NO_CONNECTION;

    const UINT32 mode = openFlag ? (NWSM_OPEN_FOR_BACKUP | NWSM_OPEN_KEEP_ACCESS_TIME) : NWSM_OPEN_FOR_BACKUP;
    m_DataSetHandle = 0;
    const CCODE rc = NWSMTSOpenDataSetForBackup(m_TSAConnection, *sequence, mode, &m_DataSetHandle);
    GiveUpControl();
    if (rc != 0) {
        m_DataSetHandle = 0;
        m_Log.error("Open data set failed for %s, (%x) %s.", path, rc, GetSMSErrorText(rc));
        return CheckSMSError(rc, path, KXSMS_ACTION_BACKUP);
    }
    kxsms::copyTruncated(m_DataSetName, sizeof m_DataSetName, path);
    m_BackupNoScan = true;
    return KXSMS_OK;
}

unsigned int CKXSMS::Backup(unsigned int *sequence, unsigned char *buffer, unsigned int bufferSize,
                            unsigned int *bytesRead, bool *endOfData)
{
    // A read of nothing cannot mark the end of a data set (and with archive
    // clearing on it would clear the flag of data never saved): size 0 is refused.
    if (sequence == nullptr || buffer == nullptr || bufferSize == 0 || bufferSize > KXSMS_MAX_BLOCK ||
        bytesRead == nullptr || endOfData == nullptr)
        return KXSMS_ERR_BAD_ARGUMENTS;
    if (m_TSAConnection == KXSMS_NOT_CONNECTED || m_DataSetHandle == 0)
        return KXSMS_ERR_BAD_ARGUMENTS;

    *bytesRead = 0;
    const CCODE rc = NWSMTSReadDataSet(m_TSAConnection, m_DataSetHandle, bufferSize, bytesRead, buffer);
    GiveUpControl();
    if (rc != 0) {
        m_Log.error("Read data set failed for %s, (%x) %s.", m_DataSetName, rc, GetSMSErrorText(rc));
        char name[sizeof m_DataSetName];
        memcpy(name, m_DataSetName, sizeof name);
        AbortBackup(sequence);
        *endOfData = true;
        return CheckSMSError(rc, name, KXSMS_ACTION_BACKUP);
    }

    if (*bytesRead != 0 && *bytesRead >= bufferSize) {
        *endOfData = false;
        return KXSMS_OK;
    }

    // A short or empty block is the last one; its bytes are valid data.
    *endOfData = true;
    if (m_ClearArchiveBit) {
        NWSMTSSetArchiveStatus(m_TSAConnection, m_DataSetHandle, 1, 0);
        GiveUpControl();
    }
    AbortBackup(sequence);
    return KXSMS_OK;
}

void CKXSMS::AbortBackup(unsigned int *sequence)
{
    if (m_TSAConnection == KXSMS_NOT_CONNECTED || m_DataSetHandle == 0)
        return;
    NWSMTSCloseDataSet(m_TSAConnection, &m_DataSetHandle);
    GiveUpControl();
    m_DataSetHandle = 0;
    m_DataSetName[0] = '\0';
    if (!m_BackupNoScan)
        AbortScan(sequence);
}
