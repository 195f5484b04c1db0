// Deleting one data set: SMS deletes at a scan position, so the module scans
// to the data set, deletes it there and ends the scan.
#include "KXSMS.h"
#include "KXSMSErr.h"

unsigned int CKXSMS::DeleteDataSet(char *path)
{
    if (path == nullptr || m_TSAConnection == KXSMS_NOT_CONNECTED)
        return KXSMS_ERR_BAD_ARGUMENTS;

    char name[KXSMS_NAME_BUFFER];
    if (NetWareToSMS(path, name, sizeof name) != KXSMS_OK) {
        m_Log.error("Invalid path in KXSMSDeleteDataSet(), %s.", path);
        return KXSMS_ERR_BAD_ARGUMENTS;
    }

    unsigned int sequence = 0;
    const unsigned int code = BeginScan(name, &sequence, KXSMS_ACTION_DELETE);
    if (code != KXSMS_OK)
        return code;

    const CCODE rc = NWSMTSDeleteDataSet(m_TSAConnection, sequence);
    GiveUpControl();
    AbortScan(&sequence);
    if (rc != 0) {
        m_Log.error("Delete data set failed for %s, (%x) %s.", path, rc, GetSMSErrorText(rc));
        return CheckSMSError(rc, path, KXSMS_ACTION_DELETE);
    }
    return KXSMS_OK;
}
