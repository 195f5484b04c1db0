// Name spaces of a resource: the priority name space in which every name of
// the resource is built and parsed, its separators, and name-space names.
#include <cstdlib>
#include <cstring>

#include "Internal.h"
#include "KXSMS.h"
#include "KXSMSErr.h"

const char *const CKXSMS::c_NameSpaceNames[5] = {"DOS", "MAC", "NFS", "FTAM", "OS2/LONG"};

namespace {

// A TSA that never stops reporting name spaces must not hold the caller forever.
const unsigned int c_MaxReportedNameSpaces = 4096;

// Applies the priority rule to one reported type: among DOS, NFS and FTAM the
// highest wins, MAC and the UTF-8 forms never win, any other type takes the
// priority outright.
UINT32 applyPriorityRule(UINT32 priority, UINT32 type)
{
    if (type == NWSM_NAME_SPACE_DOS || type == NWSM_NAME_SPACE_NFS || type == NWSM_NAME_SPACE_FTAM)
        return type > priority ? type : priority;
    if (type == NWSM_NAME_SPACE_MAC)
        return priority;
    if (type >= NWSM_NAME_SPACE_UTF8_BASE && type <= NWSM_NAME_SPACE_UTF8_BASE + 4)
        return priority;
    return type;
}

// Copies a separator the TSA returned; separators longer than 3 characters are shortened.
void copySeparator(char (&field)[4], const STRING_BUFFER *separator)
{
    field[0] = '\0';
    if (separator == nullptr)
        return;
    const size_t length = strnlen(separator->string, separator->size < 3 ? separator->size : 3);
    memcpy(field, separator->string, length);
    field[length] = '\0';
}

} // namespace

unsigned int CKXSMS::CalculatePriorityNameSpace(char *resourceName)
{
    static char empty[] = "";
    if (resourceName == nullptr)
        resourceName = empty;

    UINT32 sequence = 0;
    bool reported = false;
    CCODE ending = 0;
    for (unsigned int count = 0;; ++count) {
        if (count == c_MaxReportedNameSpaces) {
            ending = NWSMTS_NO_MORE_NAMES;
            break;
        }
        UINT32 type = 0;
        char name[64];
        memset(name, 0, sizeof name);
        ending = NWSMTSScanSupportedNameSpaces(m_TSAConnection, &sequence, resourceName, &type, name);
        if (ending != 0)
            break;
        GiveUpControl();
        name[sizeof name - 1] = '\0';

        if (!reported) {
            reported = true;
            m_PriorityNameSpace = 0;
            m_NameSpaceCount = 0;
            m_Separator1[0] = '\0';
            m_Separator2[0] = '\0';
        }
        if (m_NameSpaceCount < sizeof m_NameSpaceTypes / sizeof m_NameSpaceTypes[0])
            m_NameSpaceTypes[m_NameSpaceCount++] = static_cast<int>(type);
        m_Log.debugLvl(1, "Name space=%s, type=%d", name, static_cast<int>(type));
        m_PriorityNameSpace = static_cast<int>(applyPriorityRule(static_cast<UINT32>(m_PriorityNameSpace), type));
    }

    if (!reported) {
        if (ending == NWSMUT_NO_MORE_NAMES || ending == NWSMTS_NO_MORE_NAMES) {
            m_PriorityNameSpace = static_cast<int>(NWSM_TSA_DEFINED_RESOURCE);
            m_NameSpaceCount = 0;
            m_Separator1[0] = '\0';
            m_Separator2[0] = '\0';
        } else if (strstr(resourceName, "[Root]") != nullptr) {
            m_PriorityNameSpace = static_cast<int>(NWSM_DIRECTORY_ROOT);
            m_NameSpaceCount = 0;
            strcpy(m_Separator1, ".");
            m_Separator2[0] = '\0';
        } else {
            m_Log.error("Scan name spaces for %s failed, %s.", resourceName, GetSMSErrorText(ending));
            return ConvertSMSError(ending);
        }
    } else {
        // Name-space types are unsigned 32-bit numbers: the UTF-8 form is
        // formed in that arithmetic, so a reported type near INT_MAX wraps
        // instead of overflowing an int.
        if (m_UnicodePaths)
            m_PriorityNameSpace =
                static_cast<int>(static_cast<UINT32>(m_PriorityNameSpace) + NWSM_NAME_SPACE_UTF8_BASE);
        STRING_BUFFER *first = nullptr;
        STRING_BUFFER *second = nullptr;
        const CCODE rc = NWSMTSGetNameSpaceTypeInfo(m_TSAConnection, static_cast<UINT32>(m_PriorityNameSpace),
                                                    &m_ReverseOrder, &first, &second);
        if (rc != 0) {
            if (first != nullptr)
                NWSMFreeString(&first);
            if (second != nullptr)
                NWSMFreeString(&second);
            m_Log.debugLvl(2, "Get name space type %d for %s failed, %s.", m_PriorityNameSpace, resourceName,
                           GetSMSErrorText(rc));
            return ConvertSMSError(rc);
        }
        copySeparator(m_Separator1, first);
        copySeparator(m_Separator2, second);
        NWSMFreeString(&first);
        NWSMFreeString(&second);
        GiveUpControl();
    }

    m_Log.debugLvl(1, "Priority Name space for %s=%d.", resourceName, m_PriorityNameSpace);
    return KXSMS_OK;
}

unsigned int CKXSMS::PutOneName(short resourceLevel, NWSM_DATA_SET_NAME_LIST **nameList, char *name)
{
    static char directorySeparator1[] = ":";
    static char directorySeparator2[] = "/";

    *nameList = nullptr;
    CCODE rc;
    if (resourceLevel != 0)
        rc = NWSMPutOneName(nameList, NWSM_TSA_DEFINED_RESOURCE, 0, 0, nullptr, nullptr, name);
    else if (m_TSAType == KXSMS_TSA_DIRECTORY)
        rc = NWSMPutOneName(nameList, NWSM_NAME_SPACE_DOS, 0, 0, directorySeparator1, directorySeparator2, name);
    else
        rc = NWSMPutOneName(nameList, static_cast<UINT32>(m_PriorityNameSpace), 0, m_ReverseOrder, m_Separator1,
                            m_Separator2, name);

    if (rc != 0 && *nameList != nullptr) {
        m_Log.error("NWSMPutOneName failed but resourceName was allocated");
        free(*nameList);
        *nameList = nullptr;
    }
    return rc;
}

bool CKXSMS::IsNameSpaceInstalled(unsigned int, char *)
{
    return true;
}

const char *CKXSMS::GetOwningNameSpaceName(unsigned long nameSpace)
{
    if (nameSpace >= NWSM_NAME_SPACE_UTF8_BASE && nameSpace <= NWSM_NAME_SPACE_UTF8_BASE + 4)
        nameSpace &= 0xF;
    return nameSpace <= 4 ? c_NameSpaceNames[nameSpace] : "Unknown";
}

const char *CKXSMS::GetNameSpaceName(int nameSpace)
{
    return (nameSpace >= 0 && nameSpace <= 4) ? c_NameSpaceNames[nameSpace] : "???";
}
