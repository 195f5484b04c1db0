// Building the native and encoded text forms of a path from its components.
#include <cstring>

#include "NetWarePathPrivate.h"

namespace nwpath {

bool buildPath(const NETWARE_PATH_OBJECT *object, char *buffer, size_t size, bool topDown, bool encoded)
{
    if (object == nullptr || buffer == nullptr || size == 0)
        return false;
    BoundedText out(buffer, size);
    const char separator = NetWarePathGetSeparator(object);
    if (encoded)
        out.append(separator);

    // The list is walked once, in the order of the form being built.
    const NETWARE_PATH_COMPONENT *component = topDown ? object->top : object->bottom;
    while (component != nullptr && !out.overflow()) {
        if (encoded) {
            char work[kBuffer];
            if (EncodeComponent(component->name, object->pathType, work, kBuffer) != work) {
                buffer[0] = '\0';
                return false;
            }
            out.append(work);
        } else {
            const size_t length = fieldLength(component->name);
            if (length > kMaxText) {
                buffer[0] = '\0';
                return false;
            }
            out.append(component->name, length);
        }
        component = topDown ? component->next : component->prev;
        if (component != nullptr)
            out.append(separator);
    }
    if (out.overflow()) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

bool buildNativePath(const NETWARE_PATH_OBJECT *object, char *buffer, size_t size)
{
    return buildPath(object, buffer, size, object->pathType == NETWARE_PATH_TYPE_FS, false);
}

} // namespace nwpath

namespace {

char *result(bool built, char *buffer)
{
    return built ? buffer : nwpath::emptyText();
}

} // namespace

char *NetWarePathBuildTopDownPath(NETWARE_PATH_OBJECT *object, char *buffer, bool encoded)
{
    return result(nwpath::buildPath(object, buffer, nwpath::kBuffer, true, encoded), buffer);
}

char *NetWarePathBuildBottomUpPath(NETWARE_PATH_OBJECT *object, char *buffer, bool encoded)
{
    return result(nwpath::buildPath(object, buffer, nwpath::kBuffer, false, encoded), buffer);
}

char *NetWarePathBuildNativePath(NETWARE_PATH_OBJECT *object, char *buffer)
{
    if (object == nullptr)
        return nwpath::emptyText();
    return result(nwpath::buildNativePath(object, buffer, nwpath::kBuffer), buffer);
}

char *NetWarePathBuildEncodedPath(NETWARE_PATH_OBJECT *object, char *buffer)
{
    return result(nwpath::buildPath(object, buffer, nwpath::kBuffer, true, true), buffer);
}
