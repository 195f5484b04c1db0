// Scans: the scan begin every data-set operation stands on, the host's
// data-set-by-data-set scan, the scan end, and the one-data-set queries.
#include <cstdlib>
#include <cstring>

#include "Internal.h"
#include "KXSMS.h"
#include "KXSMSErr.h"

unsigned int CKXSMS::BeginScan(char *name, unsigned int *sequence, KXSMS_ACTION action)
{
    if (name == nullptr || sequence == nullptr || m_TSAConnection == KXSMS_NOT_CONNECTED)
        return KXSMS_ERR_BAD_ARGUMENTS;

    // A sequence that still names a scan is ended first, so that beginning a
    // new scan on it never strands the old one in SMS.
    if (*sequence != 0)
        AbortScan(sequence);

    const unsigned int code = BeginNewResource(name);
    if (code != KXSMS_OK)
        return code;

    char work[KXSMS_NAME_BUFFER];
    if (!kxsms::copyIfFits(work, sizeof work, name))
        return KXSMS_ERR_BAD_ARGUMENTS;
    if (m_TSAType == KXSMS_TSA_DIRECTORY)
        RootToTreeName(work);
    else if (m_PriorityNameSpace != static_cast<int>(NWSM_TSA_DEFINED_RESOURCE))
        kxsms::stripEndSeparator(static_cast<UINT32>(m_PriorityNameSpace), work);

    m_Log.debugLvl(2, "Beginning scan of %s.", name);

    bool isResource = false;
    bool isRoot = false;
    if (DataSetType(name, &isResource, &isRoot) != KXSMS_OK)
        return KXSMS_ERR_BAD_ARGUMENTS;

    NWSM_DATA_SET_NAME_LIST *resourceName = nullptr;
    CCODE rc = PutOneName(isResource ? 1 : 0, &resourceName, work);
    if (rc != 0) {
        m_Log.error("Failed to create resource name for Scan, %s.", GetSMSErrorText(rc));
        return KXSMS_ERR_SCAN_FAILED;
    }

    NWSM_SELECTION_LIST *selection = m_ScanFiltersEnabled ? m_SelectionList : nullptr;
    *sequence = 0;
    rc = NWSMTSScanDataSetBegin(m_TSAConnection, resourceName, &m_ScanControl, selection, sequence, &m_ScanInformation,
                                &m_DataSetNames);
    GiveUpControl();
    free(resourceName);
    if (rc == 0)
        return KXSMS_OK;

    m_ScanInformation = nullptr;
    m_DataSetNames = nullptr;
    *sequence = 0;
    m_Log.error("NWSMTSScanDataSetBegin(%s) returned (%x), %s.", name, rc, GetSMSErrorText(rc));
    return CheckSMSError(rc, name, action);
}

unsigned int CKXSMS::Scan(char *path, unsigned int *sequence, char *outPath, unsigned long outPathSize, char *childName,
                          unsigned long childNameSize, bool *isParent, bool *archiveBit, long *created, long *modified,
                          long *accessed, unsigned long long *size, bool *endOfScan)
{
    if (endOfScan == nullptr || sequence == nullptr)
        return KXSMS_ERR_BAD_ARGUMENTS;
    if (m_TSAConnection == KXSMS_NOT_CONNECTED)
        return KXSMS_ERR_NO_CONNECTION;

    const bool rootScan = path == nullptr || path[0] == '\0';
    char start[KXSMS_NAME_BUFFER];
    if (rootScan) {
        kxsms::copyTruncated(start, sizeof start, m_TSARoot);
    } else if (NetWareToSMS(path, start, sizeof start) != KXSMS_OK) {
        m_Log.debugLvl(1, "Invalid path in KXSMSScan(), %s.", path);
        return KXSMS_ERR_BAD_ARGUMENTS;
    }

    bool firstCall = false;
    if (*sequence == 0) {
        const unsigned int code = BeginScan(start, sequence, KXSMS_ACTION_SCAN);
        if (code != KXSMS_OK)
            return code;
        firstCall = true;
    }

    // Names of the directory and GroupWise TSAs are not plain file-system paths:
    // their root scans return the starting resource and then only resources.
    const bool resourceListing = rootScan && (m_NetWarePaths || m_TSAType != KXSMS_TSA_FILE_SYSTEM);
    const bool oneLevel = m_ScanControl.scanType == NWSM_SCAN_TYPE_ONE_LEVEL;
    bool step = !firstCall || (oneLevel && !resourceListing);
    const unsigned int childSize =
        childNameSize > 0xFFFFFFFFul ? 0xFFFFFFFFu : static_cast<unsigned int>(childNameSize);

    for (;;) {
        if (step) {
            const CCODE rc = NWSMTSScanNextDataSet(m_TSAConnection, sequence, &m_ScanInformation, &m_DataSetNames);
            GiveUpControl();
            if (rc != 0) {
                *endOfScan = true;
                m_ScanInformation = nullptr;
                m_DataSetNames = nullptr;
                *sequence = 0;
                if (rc == NWSMTS_NO_MORE_DATA_SETS)
                    return KXSMS_OK;
                m_Log.error("Failed scan next data set, %s.", GetSMSErrorText(rc));
                return KXSMS_ERR_SCAN_FAILED;
            }
        }
        step = true;

        char work[KXSMS_NAME_BUFFER];
        bool isResource = false;
        if (GetDataSetInfo(work, sizeof work, childName, childSize, isParent, &isResource, archiveBit, created,
                           modified, accessed, size, nullptr) != KXSMS_OK) {
            AbortScan(sequence);
            return KXSMS_ERR_SCAN_FAILED;
        }
        if (resourceListing && oneLevel && !isResource)
            continue;

        // A name that does not fit the host's buffer is a failure, never a
        // success with a stale name. The failure is fatal to a job, so the
        // scan is ended as after any other failure once it has begun: a host
        // that stops here strands nothing in SMS.
        if (outPath != nullptr && SMSToNetWare(work, outPath, outPathSize) != KXSMS_OK) {
            m_Log.error("Buffer too small for the name of %s.", work);
            AbortScan(sequence);
            return KXSMS_ERR_BAD_ARGUMENTS;
        }
        *endOfScan = false;
        return KXSMS_OK;
    }
}

void CKXSMS::AbortScan(unsigned int *sequence)
{
    if (sequence == nullptr || m_TSAConnection == KXSMS_NOT_CONNECTED || *sequence == 0)
        return;
    NWSMTSScanDataSetEnd(m_TSAConnection, sequence, &m_ScanInformation, &m_DataSetNames);
    GiveUpControl();
    m_ScanInformation = nullptr;
    m_DataSetNames = nullptr;
    *sequence = 0;
}

unsigned int CKXSMS::IsDataSetParent(char *path, bool *isParent)
{
    if (path == nullptr || path[0] == '\0') {
        if (isParent == nullptr)
            return KXSMS_ERR_BAD_ARGUMENTS;
        *isParent = true; // the top of the tree
        return KXSMS_OK;
    }
    // Without an output the call still tells whether the data set exists.
    return ScanDataSetInfo(path, nullptr, 0, nullptr, 0, isParent, nullptr, nullptr, nullptr, nullptr);
}

unsigned int CKXSMS::ScanDataSetInfo(char *path, char *outPath, unsigned int outPathSize, char *childName,
                                     unsigned int childNameSize, bool *isParent, bool *archiveBit, long *modified,
                                     long *accessed, unsigned long long *size)
{
    if (m_TSAConnection == KXSMS_NOT_CONNECTED)
        return KXSMS_ERR_NO_CONNECTION;
    if (path == nullptr)
        return KXSMS_ERR_BAD_ARGUMENTS;

    char name[KXSMS_NAME_BUFFER];
    if (NetWareToSMS(path, name, sizeof name) != KXSMS_OK)
        return KXSMS_ERR_BAD_ARGUMENTS;

    unsigned int sequence = 0;
    unsigned int code = BeginScan(name, &sequence, KXSMS_ACTION_BACKUP);
    if (code != KXSMS_OK)
        return code;

    char work[KXSMS_NAME_BUFFER];
    bool isResource = false;
    code = GetDataSetInfo(work, sizeof work, childName, childNameSize, isParent, &isResource, archiveBit, nullptr,
                          modified, accessed, size, nullptr);
    AbortScan(&sequence);
    if (code != KXSMS_OK)
        return code;

    if (outPath != nullptr && SMSToNetWare(work, outPath, outPathSize) != KXSMS_OK) {
        m_Log.error("Buffer too small for the name of %s.", work);
        return KXSMS_ERR_BAD_ARGUMENTS;
    }
    return KXSMS_OK;
}
