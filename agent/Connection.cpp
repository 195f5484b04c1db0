// Login to a TSA of the local host and logout; the probe of the directory
// TSA's top-of-tree form.
#include <climits>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "Internal.h"
#include "KXSMS.h"
#include "KXSMSErr.h"

namespace {

const char *const c_TSATypeNames[] = {"Directory", "Linux File System", "GroupWise System"};

// Overwrites memory in a way the optimiser may not drop.
void wipe(void *memory, size_t size)
{
    volatile unsigned char *bytes = static_cast<volatile unsigned char *>(memory);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = 0;
}

} // namespace

int CKXSMS::LoadTSA(KXSMS_TSA_TYPE)
{
    // The TSAs of this platform run before any host asks for them.
    return 0;
}

const char *CKXSMS::GetTSATypeName(unsigned int type, bool)
{
    return type < 3 ? c_TSATypeNames[type] : nullptr;
}

unsigned int CKXSMS::Connect(KXSMS_TSA_TYPE type, char *userName, KXPassword *password)
{
    if (userName == nullptr || password == nullptr)
        return KXSMS_ERR_BAD_ARGUMENTS;
    if (KXSMSWaitOnConnectSemaphore() != 0)
        return KXSMS_ERR_NOT_INITIALIZED;

    NWSM_NAME_LIST *tsaList = nullptr;
    NWSM_NAME_LIST *serviceList = nullptr;
    NWSM_NAME_LIST *resourceList = nullptr;
    unsigned int result = KXSMS_OK;
    const char *typeName = nullptr;
    // The whole host name: a shorter buffer would cut legal names and then find no TSA.
    char hostName[HOST_NAME_MAX + 1];
    CCODE rc = 0;

    do {
        if (LoadTSA(type) != 0) {
            m_Log.error("Failed to load TSA");
            result = KXSMS_ERR_CONNECT_FAILED;
            break;
        }

        Disconnect();

        // The whole buffer goes to gethostname, so that a name of HOST_NAME_MAX
        // characters fits with its terminator. Should it fail, what it wrote
        // is used, terminated.
        memset(hostName, 0, sizeof hostName);
        gethostname(hostName, sizeof hostName);
        hostName[sizeof hostName - 1] = '\0';

        typeName = GetTSATypeName(type, false);
        if (typeName == nullptr) {
            result = KXSMS_ERR_BAD_ARGUMENTS;
            break;
        }

        rc = NWSMListTSAs(hostName, &tsaList);
        GiveUpControl();
        if (rc != 0 || tsaList == nullptr) {
            m_Log.error("%s TSA not loaded.", typeName);
            result = KXSMS_ERR_TSA_NOT_LOADED;
            break;
        }

        m_TSAType = type;

        NWSM_NAME_LIST *entry = tsaList;
        while (entry != nullptr && (entry->name == nullptr || strstr(entry->name, typeName) == nullptr))
            entry = entry->next;
        if (entry == nullptr) {
            m_Log.error("%s.%s TSA not loaded.", hostName, typeName);
            result = KXSMS_ERR_TSA_NOT_LOADED;
            break;
        }

        m_Log.debugLvl(1, "Connecting to TSA %s.%s...", hostName, typeName);
        rc = NWSMConnectToTSA(entry->name, &m_TSAConnection);
        GiveUpControl();
        NWSMFreeNameList(&tsaList);
        tsaList = nullptr;
        if (rc != 0) {
            m_Log.error("Failed to connect to TSA %s.%s, (%x) %s.", hostName, typeName, rc, GetSMSErrorText(rc));
            result = KXSMS_ERR_CONNECT_FAILED;
            break;
        }

        static char allServices[] = "*";
        rc = NWSMTSListTargetServices(m_TSAConnection, allServices, &serviceList);
        GiveUpControl();
        if (rc != 0 || serviceList == nullptr) {
            m_Log.error("Failed to list target services, (%x) %s.", rc, GetSMSErrorText(rc));
            result = KXSMS_ERR_CONNECT_FAILED;
            break;
        }
        kxsms::copyTruncated(m_TargetServiceName, sizeof m_TargetServiceName,
                             serviceList->name != nullptr ? serviceList->name : "");

        // The password block: 16-bit length, the plain text, a terminator.
        unsigned long length = 0;
        if (password->decrypt(nullptr, &length) == 0 || length > 0xFFFF) {
            m_Log.error("Failed to decrypt password");
            result = KXSMS_ERR_CONNECT_FAILED;
            break;
        }
        const size_t blockSize = length + 3;
        unsigned char *block = static_cast<unsigned char *>(malloc(blockSize));
        if (block == nullptr) {
            m_Log.error("Failed to allocate memory for password.");
            result = KXSMS_ERR_OUT_OF_MEMORY;
            break;
        }
        memset(block, 0, blockSize);
        if (password->decrypt(reinterpret_cast<char *>(block + 2), &length) == 0 || length > blockSize - 3) {
            m_Log.error("Failed to decrypt password");
            wipe(block, blockSize);
            free(block);
            result = KXSMS_ERR_CONNECT_FAILED;
            break;
        }
        const UINT16 length16 = static_cast<UINT16>(length);
        memcpy(block, &length16, sizeof length16);
        rc = NWSMTSConnectToTargetService(&m_TSAConnection, m_TargetServiceName, userName, block);
        GiveUpControl();
        wipe(block, blockSize);
        free(block);
        NWSMFreeNameList(&serviceList);
        serviceList = nullptr;
        if (rc != 0) {
            if (rc == NWSMTS_LOGIN_DENIED) {
                m_Log.error("Cannot login as user %s.", userName);
                m_Log.error("Please check password.");
            } else {
                m_Log.error("Failed to login to TSA, %s.", GetSMSErrorText(rc));
            }
            result = KXSMS_ERR_LOGIN_FAILED;
            break;
        }

        rc = NWSMTSListTSResources(m_TSAConnection, &resourceList);
        GiveUpControl();
        if (rc != 0 || resourceList == nullptr) {
            m_Log.error("Failed to list target service resources, %s.", GetSMSErrorText(rc));
            result = KXSMS_ERR_CONNECT_FAILED;
            break;
        }
        kxsms::copyTruncated(m_TSARoot, sizeof m_TSARoot, resourceList->name != nullptr ? resourceList->name : "");
        m_TreeNameRoot = CheckRoot();
        NWSMFreeNameList(&resourceList);
        resourceList = nullptr;

        NWSMTSSetRestoreOptions(m_TSAConnection, m_ScanControl.generateCRC, 1, nullptr);
        GiveUpControl();

        m_UnicodePaths = false;
        if (access("SYS:\\NOUTF8.DBG", F_OK) == 0) {
            m_Log.error("Ignoring Unicode support because of SYS:\\NOUTF8.DBG");
        } else {
            UINT32 nameTypes = 0;
            rc = NWSMTSGetSupportedNameTypes(m_TSAConnection, &nameTypes);
            GiveUpControl();
            if (rc != 0)
                m_Log.debugLvl(1, "NWSMTSGetSupportedNameTypes() not supported");
            else
                m_UnicodePaths = (nameTypes & NWSM_NAME_TYPE_UTF8) != 0;
            m_Log.debugLvl(1, "Unicode Paths supported=%d", m_UnicodePaths ? 1 : 0);
        }
        if (m_UnicodePaths)
            m_ScanControl.returnNameSpaceType = static_cast<INT32>(NWSM_RETURN_UTF8_NAMES);

        EnableCachingMode(false);

        m_Log.debugLvl(1, "Logged in to %s TSA as %s.", typeName, userName);
        KXSMSSignalConnectSemaphore();
        m_OpenFilesUnprotected = false;
        return KXSMS_OK;
    } while (false);

    // A failed attempt gives back everything it took.
    if (m_TSAConnection != KXSMS_NOT_CONNECTED) {
        NWSMReleaseTSA(&m_TSAConnection);
        GiveUpControl();
        m_TSAConnection = KXSMS_NOT_CONNECTED;
    }
    if (tsaList != nullptr)
        NWSMFreeNameList(&tsaList);
    if (serviceList != nullptr)
        NWSMFreeNameList(&serviceList);
    if (resourceList != nullptr)
        NWSMFreeNameList(&resourceList);
    KXSMSSignalConnectSemaphore();
    return result;
}

void CKXSMS::Disconnect()
{
    if (m_TSAConnection == KXSMS_NOT_CONNECTED)
        return;
    NWSMTSReleaseTargetService(&m_TSAConnection);
    GiveUpControl();
    NWSMReleaseTSA(&m_TSAConnection);
    GiveUpControl();
    m_TSAConnection = KXSMS_NOT_CONNECTED;
    m_Log.debugLvl(1, "Logged out of TSA.");
}

short CKXSMS::CheckRoot()
{
    if (m_TSAType != KXSMS_TSA_DIRECTORY)
        return 0;

    NWSM_DATA_SET_NAME_LIST *list = nullptr;
    UINT32 sequence = 0;
    CCODE rc = NWSMPutOneName(&list, NWSM_TSA_DEFINED_RESOURCE, 0, 0, nullptr, nullptr, m_TSARoot);
    if (rc == 0) {
        rc = NWSMTSScanDataSetBegin(m_TSAConnection, list, &m_ScanControl, nullptr, &sequence, &m_ScanInformation,
                                    &m_DataSetNames);
        GiveUpControl();
    }
    free(list);
    if (rc != 0) {
        m_ScanInformation = nullptr;
        m_DataSetNames = nullptr;
        m_Log.error("NWSMTSScanDataSetBegin(%s) returned (%x), %s.", m_TSARoot, rc, GetSMSErrorText(rc));
        return 0;
    }

    for (;;) {
        NWSM_DATA_SET_NAME name;
        memset(&name, 0, sizeof name);
        if (NWSMGetOneName(m_DataSetNames, &name) != 0 || name.name == nullptr) {
            AbortScan(&sequence);
            return 0;
        }
        if (strstr(name.name, ".[Root]") != nullptr) {
            AbortScan(&sequence);
            return 0;
        }
        if (strstr(name.name, ".T=") != nullptr) {
            AbortScan(&sequence);
            return 1;
        }
        rc = NWSMTSScanNextDataSet(m_TSAConnection, &sequence, &m_ScanInformation, &m_DataSetNames);
        GiveUpControl();
        if (rc != 0) {
            m_ScanInformation = nullptr;
            m_DataSetNames = nullptr;
            return 0;
        }
    }
}
