// Parsing file-system paths and NDS names into the component list of a path object.
#include <cstring>
#include <initializer_list>
#include <strings.h>

#include "NetWarePathPrivate.h"

namespace {

constexpr char kRoot[] = "[Root]";
constexpr size_t kRootLength = sizeof(kRoot) - 1;

// An invalid path: the object is emptied, which also resets its type to 0.
int invalid(NETWARE_PATH_OBJECT *object)
{
    NetWarePathClearPath(object);
    return 0;
}

// A path whose text forms do not fit: empty, of the type that was being parsed.
int tooLong(NETWARE_PATH_OBJECT *object, int32_t pathType)
{
    NetWarePathClearPath(object);
    object->pathType = pathType;
    return 0;
}

// The list is complete: build both text forms from it.
int finish(NETWARE_PATH_OBJECT *object)
{
    if (!nwpath::buildNativePath(object, object->nativePath, nwpath::kBuffer) ||
        !nwpath::buildPath(object, object->encodedPath, nwpath::kBuffer, true, true))
        return tooLong(object, object->pathType);
    return 1;
}

// Reads the path into a work text; false when it is null, too short or too long.
bool loadPath(const char *path, char (&work)[nwpath::kBuffer], size_t &length)
{
    if (path == nullptr)
        return false;
    length = strnlen(path, nwpath::kBuffer);
    if (length <= 2 || length > nwpath::kMaxText)
        return false;
    memcpy(work, path, length);
    work[length] = '\0';
    return true;
}

// Separators of an NDS name: unescaped '.' in native text. An encoded escape
// holds only hexadecimal digits, so in encoded text every '.' is a separator.
int nextSeparator(const char *text, size_t from, bool encoded)
{
    return NDSstrchr(text, '.', static_cast<int>(from), encoded);
}

int lastSeparator(const char *text, size_t length, bool encoded)
{
    return NDSstrrchr(text, '.', static_cast<int>(length), encoded);
}

// Checks one name of an NDS path and adds it to the list.
bool addNDSName(NETWARE_PATH_OBJECT *object, const char *piece, bool encoded)
{
    const char *name = piece;
    char decoded[nwpath::kBuffer];
    if (encoded) {
        // A piece that does not decode is kept as an empty component.
        if (DecodeComponent(piece, NETWARE_PATH_TYPE_NDS, decoded, nwpath::kBuffer) != decoded)
            decoded[0] = '\0';
        name = decoded;
    }
    // A name that ends in a lone backslash would escape the separator after it
    // in the native form, which would then name a different path; a decoded
    // name ends so when an escape of value 0 cut it short.
    if (nwpath::endsInOpenEscape(name, strlen(name)))
        return false;
    // The name as written in the path must hold an unescaped '='. In encoded
    // text every escaped character is written in hexadecimal, so any '=' there
    // is unescaped: a plain search (the escape-aware one would step over the
    // character after an escape's closing backslash).
    if (encoded ? strchr(piece, '=') == nullptr : NDSstrchr(piece, '=', 0, false) < 0)
        return false;
    // A decoded name must hold one too, or its native form would not parse
    // (hexadecimal text such as "\at=\" decodes to a single character).
    if (encoded && name[0] != '\0' && NDSstrchr(name, '=', 0, false) < 0)
        return false;
    // Native names come leaf first, encoded ones root first.
    return encoded ? nwpath::addComponentToBottom(object, name) != 0 : nwpath::insertComponentAtTop(object, name) != 0;
}

} // namespace

namespace nwpath {

int parseFSPath(NETWARE_PATH_OBJECT *object, const char *path)
{
    if (object == nullptr)
        return 0;
    NetWarePathClearPath(object);
    object->pathType = NETWARE_PATH_TYPE_FS;
    char work[kBuffer];
    size_t length = 0;
    if (!loadPath(path, work, length))
        return 0;

    for (size_t i = 0; i < length; ++i) {
        if (work[i] == '/')
            work[i] = '\\';
    }
    if (work[length - 1] == '\\')
        work[--length] = '\0';
    char *text = work;
    if (text[0] == '\\') {
        ++text;
        --length;
    }

    for (const char *resource : {"Bindery", "Server Specific Info"}) {
        if (strcasecmp(text, resource) == 0) {
            if (!addComponentToBottom(object, resource))
                return invalid(object);
            object->resourceObject = true;
            return finish(object);
        }
    }

    // The volume: the first colon, with at least two characters before it,
    // ends the text or is followed by a separator. Later colons are names.
    const int colon = FindChar(text, ':', 0);
    if (colon < 2 || (text[colon + 1] != '\0' && text[colon + 1] != '\\'))
        return invalid(object);

    int start = 0;
    for (;;) {
        const int separator = FindChar(text, '\\', start);
        const int end = separator < 0 ? static_cast<int>(length) : separator;
        // An empty element: two separators in a row, one at the start, or one
        // still at the end after the trailing separator was dropped.
        if (end == start)
            return invalid(object);
        char piece[kBuffer];
        MidString(text, start, end - start, piece);
        if (!addComponentToBottom(object, piece))
            return invalid(object);
        if (separator < 0)
            break;
        start = separator + 1;
    }
    return finish(object);
}

int parseNDSPath(NETWARE_PATH_OBJECT *object, const char *path, bool encoded)
{
    if (object == nullptr)
        return 0;
    NetWarePathClearPath(object);
    object->pathType = NETWARE_PATH_TYPE_NDS;
    char work[kBuffer];
    size_t length = 0;
    if (!loadPath(path, work, length))
        return 0;
    if (work[0] == '.')
        memmove(work, work + 1, length--);

    // Compared before a trailing separator is dropped: "Schema." is no resource.
    if (strcasecmp(work, "Schema") == 0) {
        if (!insertComponentAtTop(object, "Schema"))
            return invalid(object);
        object->resourceObject = true;
        return finish(object);
    }

    int last = lastSeparator(work, length, encoded);
    if (last >= 0 && static_cast<size_t>(last) == length - 1)
        work[--length] = '\0';

    if (!encoded) {
        // Leaf first: an optional "[Root]" ends the name.
        last = lastSeparator(work, length, false);
        if (last >= 0) {
            if (static_cast<size_t>(last) == length - 1)
                return 0; // ended in two separators
            if (strcasecmp(work + last + 1, kRoot) == 0) {
                work[last] = '\0';
                length = static_cast<size_t>(last);
            }
        } else if (strcasecmp(work, kRoot) == 0) {
            work[0] = '\0';
            length = 0;
        }
    } else if (length >= kRootLength && strncasecmp(work, kRoot, kRootLength) == 0) {
        // Root first: "[Root]" alone, or followed by one character taken as
        // the separator, whatever it is.
        if (length == kRootLength) {
            work[0] = '\0';
            length = 0;
        } else {
            length -= kRootLength + 1;
            memmove(work, work + kRootLength + 1, length + 1);
        }
    }

    size_t start = 0;
    while (length > 0) {
        // Past the end the piece is empty (the text ended in a separator).
        const int separator = start < length ? nextSeparator(work, start, encoded) : -1;
        const size_t end = separator < 0 ? length : static_cast<size_t>(separator);
        if (end <= start)
            return invalid(object); // an empty name has no '='
        char piece[kBuffer];
        memcpy(piece, work + start, end - start);
        piece[end - start] = '\0';
        if (!addNDSName(object, piece, encoded))
            return invalid(object);
        if (separator < 0)
            break;
        start = end + 1;
    }

    if (!insertComponentAtTop(object, kRoot))
        return invalid(object);
    return finish(object);
}

} // namespace nwpath

int NetWarePathSetFSPath(NETWARE_PATH_OBJECT *object, char *path)
{
    return nwpath::parseFSPath(object, path);
}

int NetWarePathSetNDSPath(NETWARE_PATH_OBJECT *object, char *path, bool encoded)
{
    return nwpath::parseNDSPath(object, path, encoded);
}

extern "C" int NetWarePathSetNativePath(NETWARE_PATH_OBJECT *object, const char *path, int32_t pathType)
{
    if (object == nullptr)
        return 0;
    NetWarePathClearPath(object);
    object->pathType = pathType;
    if (pathType == NETWARE_PATH_TYPE_FS)
        return nwpath::parseFSPath(object, path);
    return nwpath::parseNDSPath(object, path, false);
}

extern "C" int NetWarePathSetEncodedPath(NETWARE_PATH_OBJECT *object, const char *path, int32_t pathType)
{
    if (object == nullptr)
        return 0;
    NetWarePathClearPath(object);
    if (pathType == NETWARE_PATH_TYPE_FS)
        return nwpath::parseFSPath(object, path);
    return nwpath::parseNDSPath(object, path, true);
}

extern "C" int NetWarePathSetTopDownPath(NETWARE_PATH_OBJECT *object, const char *path, int32_t pathType)
{
    return NetWarePathSetEncodedPath(object, path, pathType);
}
