// Editing a path: append or remove a component, then rebuild and re-parse the path.
#include <cstring>

#include "NetWarePathPrivate.h"

namespace {

// An edit refused before the re-parse: the object is left empty, of its type.
int refuse(NETWARE_PATH_OBJECT *object)
{
    const int32_t pathType = object->pathType == NETWARE_PATH_TYPE_FS ? NETWARE_PATH_TYPE_FS : NETWARE_PATH_TYPE_NDS;
    NetWarePathClearPath(object);
    object->pathType = pathType;
    return 0;
}

int append(NETWARE_PATH_OBJECT *object, const char *component, bool encoded)
{
    if (object == nullptr || component == nullptr || object->top == nullptr)
        return 0;
    const char *name = component;
    char decoded[nwpath::kBuffer];
    // A text of 1024 characters or more cannot be stored, encoded or not: it
    // is not added, and the path is rebuilt and re-parsed as it stands.
    if (strnlen(component, nwpath::kBuffer) >= nwpath::kBuffer)
        return NetWarePathSetNewPath(object);
    if (encoded) {
        // A text that does not decode is appended as "", which the re-parse drops.
        if (DecodeComponent(component, object->pathType, decoded, nwpath::kBuffer) != decoded)
            decoded[0] = '\0';
        name = decoded;
    }
    // In an NDS name a lone backslash at the end would escape the separator
    // that follows it in the rebuilt text and merge this name with its parent.
    if (object->pathType != NETWARE_PATH_TYPE_FS && nwpath::endsInOpenEscape(name, strnlen(name, nwpath::kBuffer)))
        return refuse(object);
    if (!nwpath::addComponentToBottom(object, name))
        return refuse(object);
    return NetWarePathSetNewPath(object);
}

} // namespace

int NetWarePathSetNewPath(NETWARE_PATH_OBJECT *object)
{
    if (object == nullptr)
        return 0;
    char work[nwpath::kBuffer];
    if (!nwpath::buildNativePath(object, work, sizeof work))
        return refuse(object);
    return NetWarePathSetNativePath(object, work, object->pathType);
}

extern "C" int NetWarePathAppendNativeComponent(NETWARE_PATH_OBJECT *object, const char *component)
{
    return append(object, component, false);
}

extern "C" int NetWarePathAppendComponentToBottom(NETWARE_PATH_OBJECT *object, const char *component)
{
    return append(object, component, false);
}

extern "C" int NetWarePathAppendEncodedComponent(NETWARE_PATH_OBJECT *object, const char *component)
{
    return append(object, component, true);
}

extern "C" int NetWarePathRemoveComponent(NETWARE_PATH_OBJECT *object)
{
    if (object == nullptr || object->top == nullptr)
        return 0;
    NetWarePathFreeNetWareComponent(object, object->bottom);
    return NetWarePathSetNewPath(object);
}

extern "C" int NetWarePathRemoveComponentFromBottom(NETWARE_PATH_OBJECT *object)
{
    return NetWarePathRemoveComponent(object);
}
