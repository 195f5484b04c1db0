// Resource, volume and tree names: the resource a data-set name belongs to,
// the current resource whose name-space data the object holds, and the two
// top-of-tree forms of directory-services names.
#include <strings.h>

#include <cstring>

#include "Internal.h"
#include "KXSMS.h"
#include "KXSMSErr.h"
#include "NetWarePath.h"

namespace {

const char c_GroupWiseServer[] = "GroupWise Mail Server";
const size_t c_ResourceBuffer = 64; // m_CurrentResource and the callers' resource buffers
const size_t c_VolumeBuffer = 16;

// Marks m_CurrentResource, in the byte after its empty text, when the object
// holds the name-space data of a resource whose name does not fit the field.
// A new object (all zero) holds the empty name, which an empty resource name
// matches.
const char c_UnnamedResource = '\x01';

} // namespace

// Writes the resource of dataSetName into resource (size bytes, cut to fit,
// always terminated) and returns its full length, which may exceed size - 1.
static size_t resourceNameOf(const char *dataSetName, char *resource, size_t size, KXSMS_TSA_TYPE type,
                             const char *tsaRoot, const char *targetService, EvEvent &log)
{
    resource[0] = '\0';
    const char *name = dataSetName != nullptr ? dataSetName : "";
    const char *result = nullptr;
    size_t length = 0;

    switch (type) {
    case KXSMS_TSA_DIRECTORY:
        if (name[0] == '.')
            ++name;
        if (strcasecmp(name, "[Root]") == 0)
            result = ".[Root]";
        else if (strcasecmp(name, "Schema") == 0)
            result = "Schema";
        else if (strcasecmp(name, tsaRoot) == 0 || strcasecmp(name, targetService) == 0)
            result = tsaRoot;
        else if (NDSstrchr(name, '=', 0, false) != 0)
            result = ".[Root]";
        else
            log.error("Invalid data set name in KXSMSGetResourceName, %s", name);
        if (result != nullptr)
            length = strlen(result);
        break;
    case KXSMS_TSA_FILE_SYSTEM:
        result = tsaRoot;
        length = strlen(result);
        break;
    case KXSMS_TSA_GROUPWISE:
        if (strcasecmp(name, c_GroupWiseServer) == 0) {
            result = c_GroupWiseServer;
            length = strlen(result);
        } else if (const char *colon = strchr(name, ':')) {
            result = name;
            length = static_cast<size_t>(colon - name) + 1;
        }
        break;
    default:
        log.error("Invalid TSA TYPE in KXSMSGetResourceName, %s.", name);
        break;
    }

    if (result != nullptr) {
        const size_t copied = length < size ? length : size - 1;
        memcpy(resource, result, copied);
        resource[copied] = '\0';
    }
    return length;
}

char *CKXSMS::GetResourceName(char *dataSetName, char *resourceName)
{
    resourceNameOf(dataSetName, resourceName, c_ResourceBuffer, m_TSAType, m_TSARoot, m_TargetServiceName, m_Log);
    return resourceName;
}

unsigned int CKXSMS::BeginNewResource(char *dataSetName)
{
    // Room for any resource name; only names that fit m_CurrentResource are
    // remembered, so a longer one is described afresh each time, and so is
    // any name that follows it.
    char resource[KXSMS_NAME_BUFFER];
    const size_t length =
        resourceNameOf(dataSetName, resource, sizeof resource, m_TSAType, m_TSARoot, m_TargetServiceName, m_Log);
    if (length >= sizeof resource)
        return KXSMS_ERR_BAD_ARGUMENTS;
    if (IsSameResourceName(resource))
        return KXSMS_OK;

    const unsigned int code = CalculatePriorityNameSpace(resource);
    if (code == KXSMS_OK) {
        memset(m_CurrentResource, 0, sizeof m_CurrentResource);
        if (length < sizeof m_CurrentResource)
            memcpy(m_CurrentResource, resource, length + 1);
        else
            m_CurrentResource[1] = c_UnnamedResource;
        m_Log.debugLvl(1, "New resource: %s", resource);
        return KXSMS_OK;
    }
    if (code == KXSMS_ERR_DATA_NOT_FOUND)
        return KXSMS_OK;
    return code;
}

bool CKXSMS::IsSameResourceName(char *resourceName)
{
    // The name-space data of a resource whose name did not fit belongs to no
    // name: every name, the empty one included, is a different resource.
    if (m_CurrentResource[0] == '\0' && m_CurrentResource[1] == c_UnnamedResource)
        return false;
    return resourceName != nullptr && strcasecmp(resourceName, m_CurrentResource) == 0;
}

bool CKXSMS::IsSameVolumeName(char *dataSetName)
{
    char volume[c_VolumeBuffer];
    GetVolumeName(dataSetName, volume);
    return strcasecmp(volume, m_CurrentVolume) == 0;
}

char *CKXSMS::GetVolumeName(char *dataSetName, char *volumeName)
{
    const char *colon =
        (m_TSAType == KXSMS_TSA_FILE_SYSTEM && dataSetName != nullptr) ? strchr(dataSetName, ':') : nullptr;
    if (colon == nullptr) {
        strcpy(volumeName, "SYS:");
        return volumeName;
    }
    size_t length = static_cast<size_t>(colon - dataSetName) + 1;
    if (length > c_VolumeBuffer - 1)
        length = c_VolumeBuffer - 1;
    memcpy(volumeName, dataSetName, length);
    volumeName[length] = '\0';
    return volumeName;
}

const char *CKXSMS::MidString(char *text, int start, int length, char *out)
{
    if (text == nullptr || out == nullptr || length < 0)
        return "";
    const size_t textLength = strlen(text);
    if (static_cast<size_t>(static_cast<unsigned int>(start)) >= textLength)
        return "";
    if (length == 0)
        length = static_cast<int>(textLength - static_cast<size_t>(start));
    strncpy(out, text + start, static_cast<size_t>(length));
    out[length] = '\0';
    return out;
}

char *CKXSMS::AddRoot(char *name)
{
    if (m_TSAType != KXSMS_TSA_DIRECTORY || name == nullptr)
        return name;
    const size_t length = strlen(name);
    const int dot = NDSstrrchr(name, '.', static_cast<int>(length > 0x7FFFFFFF ? 0x7FFFFFFF : length), false);
    if (dot < 0 || static_cast<size_t>(dot) == length - 1)
        return name;
    if (strcasecmp(name + dot + 1, "[Root]") != 0)
        strcat(name, ".[Root]");
    return name;
}

namespace {

// Shared steps of the two rewrites: drop one trailing separator and find the
// last unescaped separator. Returns its index when a top-of-tree form may
// follow it (a directory name, the tree-name form in use), else -1.
int rewritePosition(char *name, KXSMS_TSA_TYPE type, short treeNameRoot, char separator)
{
    if (type != KXSMS_TSA_DIRECTORY || name == nullptr || name[0] == '\0')
        return -1;
    size_t length = strlen(name);
    if (separator != '\0' && name[length - 1] == separator)
        name[--length] = '\0';
    if (treeNameRoot != 1 || length == 0)
        return -1;
    const int position = NDSstrrchr(name, separator, static_cast<int>(length - 1), false);
    return (position < 0 || name[position + 1] == '\0') ? -1 : position;
}

// Replaces everything from position on with first and second, as long as the
// result fits the 1024-byte name buffers of every caller.
void replaceTail(char *name, int position, const char *first, const char *second)
{
    const size_t firstLength = strlen(first);
    const size_t secondLength = strlen(second);
    if (static_cast<size_t>(position) + firstLength + secondLength > KXSMS_NAME_BUFFER - 1)
        return;
    memcpy(name + position, first, firstLength);
    memcpy(name + position + firstLength, second, secondLength + 1);
}

} // namespace

char *CKXSMS::RootToTreeName(char *name)
{
    // A final "[Root]" becomes ".T=" and the tree name.
    const int position = rewritePosition(name, m_TSAType, m_TreeNameRoot, m_Separator1[0]);
    if (position >= 0 && strcasecmp(name + position + 1, "[Root]") == 0)
        replaceTail(name, position, ".T=", m_TargetServiceName);
    return name;
}

char *CKXSMS::TreeNameToRoot(char *name)
{
    // A final ".T=" and any tree name becomes ".[Root]".
    const int position = rewritePosition(name, m_TSAType, m_TreeNameRoot, m_Separator1[0]);
    if (position >= 0 && strncasecmp(name + position, ".T=", 3) == 0)
        replaceTail(name, position, ".[Root]", "");
    return name;
}
