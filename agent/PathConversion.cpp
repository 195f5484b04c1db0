// Conversion between the agent's path form and the TSA's data-set name form,
// and splitting and joining paths through the TSA.
#include <strings.h>

#include <cstring>

#include "Internal.h"
#include "KXSMS.h"
#include "KXSMSErr.h"
#include "NetWarePath.h"

namespace {

// Directory-services form, the same in both directions: "Schema" unchanged;
// otherwise a leading '.' and, when the last unescaped '.' is followed by
// something other than "[Root]", a final ".[Root]". Nothing is written unless
// the whole result fits size bytes.
unsigned int directoryForm(const char *in, char *out, unsigned long size)
{
    const size_t length = strlen(in);
    if (size <= length + 1)
        return KXSMS_ERR_BAD_ARGUMENTS;
    if (strcasecmp(in, "Schema") == 0) {
        memcpy(out, in, length + 1);
        return KXSMS_OK;
    }

    // The last unescaped '.' of the text with its leading '.' ensured. A
    // prefixed '.' does not change how the rest of the text parses, so the
    // search runs on the input; without a '.' there, the prefixed one is last.
    const bool prefixed = in[0] != '.';
    const size_t resultLength = length + (prefixed ? 1 : 0);
    const int dot =
        length > 0 ? NDSstrrchr(in, '.', static_cast<int>(length > 0x7FFFFFFF ? 0x7FFFFFFF : length), false) : -1;
    const size_t dotInResult = dot >= 0 ? static_cast<size_t>(dot) + (prefixed ? 1 : 0) : 0;
    const char *after = dot >= 0 ? in + dot + 1 : in;

    const bool appendRoot = dotInResult != resultLength - 1 && strcasecmp(after, "[Root]") != 0;
    if (appendRoot && resultLength + 7 + 1 > size)
        return KXSMS_ERR_BAD_ARGUMENTS;

    char *cursor = out;
    if (prefixed)
        *cursor++ = '.';
    memcpy(cursor, in, length + 1);
    if (appendRoot)
        memcpy(out + resultLength, ".[Root]", 8);
    return KXSMS_OK;
}

} // namespace

extern "C" char *KXSMSTruncateTrailingCharacters(char *text, char *characters)
{
    if (text == nullptr || characters == nullptr || characters[0] == '\0')
        return text;
    size_t length = strlen(text);
    while (length > 0 && strchr(characters, text[length - 1]) != nullptr)
        text[--length] = '\0';
    return text;
}

extern "C" char *KXSMSReplaceSeparators(char *text, char from, char to)
{
    if (text == nullptr || from == '\0' || from == to)
        return text;
    for (char *cursor = text; *cursor != '\0'; ++cursor) {
        if (*cursor == from)
            *cursor = to;
    }
    return text;
}

unsigned int CKXSMS::NetWareToSMS(char *path, char *smsName, unsigned long size)
{
    if (path == nullptr || smsName == nullptr)
        return KXSMS_ERR_BAD_ARGUMENTS;

    switch (m_TSAType) {
    case KXSMS_TSA_DIRECTORY:
        return directoryForm(path, smsName, size);
    case KXSMS_TSA_FILE_SYSTEM:
        return kxsms::copyIfFits(smsName, size, path) ? KXSMS_OK : KXSMS_ERR_BAD_ARGUMENTS;
    case KXSMS_TSA_GROUPWISE: {
        // "DOM1:\dir\sub" becomes "DOM1:dir/sub"; anything else stays as it is.
        const char *colon = strchr(path, ':');
        if (colon == nullptr || colon[1] != '\\')
            return kxsms::copyIfFits(smsName, size, path) ? KXSMS_OK : KXSMS_ERR_BAD_ARGUMENTS;
        const size_t length = strlen(path);
        if (length - 1 >= size)
            return KXSMS_ERR_BAD_ARGUMENTS;
        const size_t prefix = static_cast<size_t>(colon - path) + 1;
        memcpy(smsName, path, prefix);
        memcpy(smsName + prefix, colon + 2, length - prefix - 1 + 1);
        KXSMSReplaceSeparators(smsName, '\\', '/');
        return KXSMS_OK;
    }
    default:
        return KXSMS_ERR_OS_NOT_SUPPORTED;
    }
}

unsigned int CKXSMS::SMSToNetWare(char *smsName, char *path, unsigned long size)
{
    if (smsName == nullptr || path == nullptr)
        return KXSMS_ERR_BAD_ARGUMENTS;

    switch (m_TSAType) {
    case KXSMS_TSA_DIRECTORY:
        return directoryForm(smsName, path, size);
    case KXSMS_TSA_FILE_SYSTEM:
        return kxsms::copyIfFits(path, size, smsName) ? KXSMS_OK : KXSMS_ERR_BAD_ARGUMENTS;
    case KXSMS_TSA_GROUPWISE: {
        // "DOM1:dir/sub" (or "DOM1:/dir/sub") becomes "DOM1:\dir\sub".
        char work[KXSMS_NAME_BUFFER];
        const char *colon = strchr(smsName, ':');
        if (colon == nullptr || colon[1] == '\0') {
            if (!kxsms::copyIfFits(work, sizeof work, smsName))
                return KXSMS_ERR_BAD_ARGUMENTS;
        } else {
            const size_t prefix = static_cast<size_t>(colon - smsName) + 1;
            const char *rest = colon + 1;
            if (*rest == '/')
                ++rest;
            const size_t restLength = strlen(rest);
            if (prefix + 1 + restLength >= sizeof work)
                return KXSMS_ERR_BAD_ARGUMENTS;
            memcpy(work, smsName, prefix);
            work[prefix] = '\\';
            memcpy(work + prefix + 1, rest, restLength + 1);
            KXSMSReplaceSeparators(work, '/', '\\');
        }
        static char slash[] = "/";
        KXSMSTruncateTrailingCharacters(work, slash);
        GiveUpControl();
        return kxsms::copyIfFits(path, size, work) ? KXSMS_OK : KXSMS_ERR_BAD_ARGUMENTS;
    }
    default:
        return KXSMS_ERR_OS_NOT_SUPPORTED;
    }
}

unsigned int CKXSMS::SeparateChildFromParent(char *path, char *parent, unsigned long parentSize, char *child,
                                             unsigned long childSize)
{
    if (path == nullptr || m_TSAConnection == KXSMS_NOT_CONNECTED)
        return KXSMS_ERR_BAD_ARGUMENTS;

    char smsName[KXSMS_NAME_BUFFER];
    if (NetWareToSMS(path, smsName, sizeof smsName) != KXSMS_OK) {
        m_Log.error("Invalid path in KXSMSSeparateChildFromParent(), %s.", path);
        return KXSMS_ERR_BAD_ARGUMENTS;
    }

    STRING_BUFFER *parentText = nullptr;
    STRING_BUFFER *childText = nullptr;
    const CCODE rc = NWSMTSSeparateDataSetName(m_TSAConnection, static_cast<UINT32>(m_PriorityNameSpace), smsName,
                                               &parentText, &childText);
    if (rc != 0) {
        if (parentText != nullptr)
            NWSMFreeString(&parentText);
        if (childText != nullptr)
            NWSMFreeString(&childText);
        return KXSMS_ERR_BAD_ARGUMENTS;
    }
    GiveUpControl();

    const char *parentString = parentText != nullptr ? parentText->string : "";
    const char *childString = childText != nullptr ? childText->string : "";
    const size_t parentLength = strlen(parentString);
    const size_t childLength = strlen(childString);

    unsigned int result = KXSMS_OK;
    if ((parent != nullptr && parentSize < parentLength + 1) || (child != nullptr && childSize < childLength + 1)) {
        m_Log.error("Strings too short in KXSMSSeparateChildFromParent(parent=%d vs %d, child=%d vs %d).",
                    static_cast<int>(parentLength), static_cast<int>(parentSize), static_cast<int>(childLength),
                    static_cast<int>(childSize));
        result = KXSMS_ERR_BAD_ARGUMENTS;
    } else {
        // The agent form of the parent can be a character longer than its SMS
        // form; a parent that then does not fit is reported, not passed over.
        if (parent != nullptr && SMSToNetWare(const_cast<char *>(parentString), parent, parentSize) != KXSMS_OK) {
            m_Log.error("Buffer too small for the name of %s.", parentString);
            result = KXSMS_ERR_BAD_ARGUMENTS;
        }
        if (result == KXSMS_OK && child != nullptr)
            memcpy(child, childString, childLength + 1);
    }
    if (parentText != nullptr)
        NWSMFreeString(&parentText);
    if (childText != nullptr)
        NWSMFreeString(&childText);
    GiveUpControl();
    return result;
}

unsigned int CKXSMS::ConcatenateParentAndChild(char *parent, char *child, char *path, unsigned long pathSize)
{
    if (path == nullptr || parent == nullptr || child == nullptr || m_TSAConnection == KXSMS_NOT_CONNECTED)
        return KXSMS_ERR_BAD_ARGUMENTS;

    char smsParent[KXSMS_NAME_BUFFER];
    if (NetWareToSMS(parent, smsParent, sizeof smsParent) != KXSMS_OK) {
        m_Log.error("Invalid path in KXSMSConcatenateParentAndChild(), %s.", parent);
        return KXSMS_ERR_BAD_ARGUMENTS;
    }

    STRING_BUFFER *joined = nullptr;
    const CCODE rc = NWSMTSCatDataSetName(m_TSAConnection, static_cast<UINT32>(m_PriorityNameSpace), smsParent, child,
                                          false, &joined);
    if (rc != 0) {
        if (joined != nullptr)
            NWSMFreeString(&joined);
        return KXSMS_ERR_BAD_ARGUMENTS;
    }
    GiveUpControl();

    const char *joinedString = joined != nullptr ? joined->string : "";
    const size_t joinedLength = strlen(joinedString);
    unsigned int result = KXSMS_OK;
    if (pathSize <= joinedLength) {
        m_Log.error("Path too long in KXSMSConcatenateParentAndChild(path=%d vs %d).", static_cast<int>(joinedLength),
                    static_cast<int>(pathSize));
        result = KXSMS_ERR_BAD_ARGUMENTS;
    } else if (SMSToNetWare(const_cast<char *>(joinedString), path, pathSize) != KXSMS_OK) {
        m_Log.error("Buffer too small for the name of %s.", joinedString);
        result = KXSMS_ERR_BAD_ARGUMENTS;
    }
    if (joined != nullptr)
        NWSMFreeString(&joined);
    GiveUpControl();
    return result;
}
