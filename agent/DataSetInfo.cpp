// What the host is told about the data set at the scan position, and the
// classification of names as resources and roots.
#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "Internal.h"
#include "KXSMS.h"
#include "KXSMSErr.h"

unsigned int CKXSMS::DataSetType(char *name, bool *isResource, bool *isRoot)
{
    if (isResource == nullptr || isRoot == nullptr)
        return KXSMS_ERR_BAD_ARGUMENTS;
    *isResource = false;
    *isRoot = false;
    const char *text = name != nullptr ? name : "";

    bool valid = true;
    switch (m_TSAType) {
    case KXSMS_TSA_DIRECTORY:
        if (strcasecmp(text, "[Root]") == 0 || strcasecmp(text, ".[Root]") == 0) {
            *isResource = true;
            *isRoot = true;
        } else if (text[0] == '.') {
            // an object of the tree
        } else if (strcasecmp(text, "Schema") == 0 || strcasecmp(text, m_TSARoot) == 0 ||
                   strcasecmp(text, m_TargetServiceName) == 0) {
            *isResource = true;
        } else if (strchr(text, '=') == nullptr) {
            valid = false;
        }
        break;
    case KXSMS_TSA_FILE_SYSTEM:
        if (strcasecmp(text, m_TSARoot) == 0) {
            *isResource = true;
            *isRoot = true;
        }
        break;
    case KXSMS_TSA_GROUPWISE:
        if (strcasecmp(text, "GroupWise Mail Server") == 0) {
            *isResource = true;
        } else if (const char *colon = strchr(text, ':')) {
            if (colon[1] == '\0' || ((colon[1] == '/' || colon[1] == '\\') && colon[2] == '\0')) {
                *isResource = true;
                *isRoot = true;
            }
        } else {
            valid = false;
        }
        break;
    default:
        valid = false;
        break;
    }

    if (!valid) {
        m_Log.error("Invalid data set name in KXSMSDataSetType, %s.", text);
        return KXSMS_ERR_BAD_ARGUMENTS;
    }
    return KXSMS_OK;
}

unsigned int CKXSMS::GetDataSetInfo(char *smsName, unsigned int smsNameSize, char *childName,
                                    unsigned int childNameSize, bool *isParent, bool *isResource, bool *archiveBit,
                                    long *created, long *modified, long *accessed, unsigned long long *size,
                                    unsigned int *nameSpace)
{
    NWSM_DATA_SET_NAME name;
    memset(&name, 0, sizeof name);
    if (NWSMGetDataSetName(m_DataSetNames, static_cast<UINT32>(m_PriorityNameSpace), &name) != 0) {
        const CCODE rc = NWSMGetOneName(m_DataSetNames, &name);
        if (rc != 0) {
            m_Log.error("Get data set name failed, %s.", GetSMSErrorText(rc));
            return ConvertSMSError(rc);
        }
    }
    if (name.name == nullptr || m_ScanInformation == nullptr)
        return KXSMS_ERR_BAD_ARGUMENTS;

    // Names travel in 1024-byte buffers; a longer name from the TSA cannot be
    // described and is refused rather than cut.
    char work[KXSMS_NAME_BUFFER];
    if (!kxsms::copyIfFits(work, sizeof work, name.name)) {
        // The line shows the name's first characters, copied so that a plain %s
        // can print them.
        char head[201];
        m_Log.error("Data set name too long, %s...", kxsms::copyTruncated(head, sizeof head, name.name));
        return KXSMS_ERR_BAD_ARGUMENTS;
    }
    m_Log.debugLvl(2, "Getting Data Set info for %s.", work);

    if (m_TSAType == KXSMS_TSA_DIRECTORY)
        TreeNameToRoot(work);
    else if (m_TSAType == KXSMS_TSA_FILE_SYSTEM && m_PriorityNameSpace != static_cast<int>(NWSM_TSA_DEFINED_RESOURCE))
        kxsms::stripEndSeparator(static_cast<UINT32>(m_PriorityNameSpace), work);

    if (smsName != nullptr && !kxsms::copyIfFits(smsName, smsNameSize, work)) {
        m_Log.error("Buffer too small (1) for %s.", work);
        return KXSMS_ERR_BAD_ARGUMENTS;
    }

    if (childName != nullptr) {
        STRING_BUFFER *child = nullptr;
        const CCODE rc = NWSMTSSeparateDataSetName(m_TSAConnection, name.nameSpaceType, work, nullptr, &child);
        GiveUpControl();
        if (rc != 0 || child == nullptr) {
            free(child);
            if (!kxsms::copyIfFits(childName, childNameSize, work)) {
                m_Log.error("Buffer too small (2) for %s.", work);
                return KXSMS_ERR_BAD_ARGUMENTS;
            }
        } else {
            const size_t length = strnlen(child->string, child->size);
            if (length >= childNameSize) {
                // The child part may fill its buffer without a terminator; the
                // line prints a terminated copy of it.
                char shown[KXSMS_NAME_BUFFER];
                const size_t shownLength = length < sizeof shown ? length : sizeof shown - 1;
                memcpy(shown, child->string, shownLength);
                shown[shownLength] = '\0';
                m_Log.error("Buffer too small (3) for %s.", shown);
                free(child);
                return KXSMS_ERR_BAD_ARGUMENTS;
            }
            const size_t skip = (length > 0 && child->string[0] == '.') ? 1 : 0;
            memcpy(childName, child->string + skip, length - skip);
            childName[length - skip] = '\0';
            free(child);
        }
    }

    const NWSM_SCAN_INFORMATION *info = m_ScanInformation;
    bool parent = info->parentFlag != 0;
    bool resource = false;
    bool root = false;
    DataSetType(work, &resource, &root);
    if (resource && !root)
        parent = false;
    if (isParent != nullptr)
        *isParent = parent;
    if (isResource != nullptr)
        *isResource = resource;

    if (resource || m_TSAType == KXSMS_TSA_DIRECTORY) {
        if (created != nullptr)
            *created = m_ScanStartTime;
        if (modified != nullptr)
            *modified = m_ScanStartTime;
        if (accessed != nullptr)
            *accessed = m_ScanStartTime;
    } else {
        GetRelativeFileTimes(m_ScanInformation, created, modified, accessed);
    }

    if (size != nullptr) {
        // The 4 KiB count is widened before it is multiplied, so that data sets
        // of 4 GiB and more report their size instead of a wrapped one.
        *size = info->primaryDataStreamSize != 0 ? info->primaryDataStreamSize
                                                 : static_cast<unsigned long long>(info->totalStreamsDataSize) * 4096u;
    }
    if (nameSpace != nullptr)
        *nameSpace = info->creatorNameSpaceNumber;
    if (archiveBit != nullptr)
        *archiveBit = (info->attributes & NWSM_ATTR_ARCHIVE) != 0;
    return KXSMS_OK;
}
