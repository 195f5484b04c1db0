// Construction and destruction of CKXSMS, the factory pair and the small
// accessors that belong to no other concern.
#include <unistd.h>

#include <cstring>

#include "Internal.h"
#include "KXSMS.h"

CKXSMS::CKXSMS() : m_Log()
{
    m_TSAType = KXSMS_TSA_FILE_SYSTEM;
    m_TSAConnection = KXSMS_NOT_CONNECTED;

    memset(m_TargetServiceName, 0, sizeof m_TargetServiceName);
    memset(m_TSARoot, 0, sizeof m_TSARoot);
    memcpy(&m_ScanControl, &kxsms::defaultScanControl, sizeof m_ScanControl);

    m_TreeNameRoot = 0;
    m_ScanInformation = nullptr;
    m_DataSetNames = nullptr;
    m_ScanStartTime = 0;
    m_ClearArchiveBit = false;
    m_ScanFiltersEnabled = false;
    m_SelectionList = nullptr;
    m_ScanFilterCount = 0;
    m_SelectionListClosed = false;
    m_SelectionListHandle = nullptr;

    memset(m_CurrentResource, 0, sizeof m_CurrentResource);
    memset(m_CurrentVolume, 0, sizeof m_CurrentVolume);
    m_PriorityNameSpace = 0;
    m_NameSpaceCount = 0;
    memset(m_NameSpaceTypes, 0, sizeof m_NameSpaceTypes);
    memset(m_Separator1, 0, sizeof m_Separator1);
    memset(m_Separator2, 0, sizeof m_Separator2);
    m_ReverseOrder = 0;
    m_DataSetHandle = 0;
    memset(m_DataSetName, 0, sizeof m_DataSetName);
    m_BackupNoScan = false;
    m_UnicodePaths = false;
    m_NetWarePaths = false;
    // Connect sets this again; it starts defined so that no path reads garbage.
    m_OpenFilesUnprotected = false;

    // The debug switch is the existence of the file; its contents are never read.
    if (access("/KXSMS.debug", F_OK) == 0) {
        m_Log.setDebugLevel(2);
        m_Log.debug("KXSMS Debug messages enabled");
    }
}

CKXSMS::~CKXSMS()
{
    ClearScanFilters();
    Disconnect();
}

KXSMS_TSA_TYPE CKXSMS::GetTSAType()
{
    return m_TSAType;
}

unsigned int CKXSMS::GetTSAConnection()
{
    return m_TSAConnection;
}

char *CKXSMS::GetTSARoot()
{
    return m_TSARoot;
}

bool CKXSMS::IsUnicodePathsSupported()
{
    return true;
}

bool CKXSMS::IsVolumeCDROM(char *)
{
    return false;
}

void CKXSMS::GiveUpControl()
{
    // The platform schedules preemptively; there is nothing to yield to.
}

extern "C" CKXSMS *CreateKXSMS()
{
    return new CKXSMS();
}

extern "C" void DestroyKXSMS(CKXSMS *object)
{
    if (object != nullptr)
        delete object;
}
