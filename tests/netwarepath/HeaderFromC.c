/* The public header compiled as C: a host written in C sees the same records. */
#include <stddef.h>

#include "NetWarePath.h"

size_t netwarepath_c_layout(size_t *offsets)
{
    offsets[0] = offsetof(NETWARE_PATH_OBJECT, encodedPath);
    offsets[1] = offsetof(NETWARE_PATH_OBJECT, pathType);
    offsets[2] = offsetof(NETWARE_PATH_OBJECT, top);
    offsets[3] = offsetof(NETWARE_PATH_OBJECT, bottom);
    offsets[4] = offsetof(NETWARE_PATH_OBJECT, resourceObject);
    offsets[5] = offsetof(NETWARE_PATH_COMPONENT, next);
    offsets[6] = offsetof(NETWARE_PATH_COMPONENT, prev);
    offsets[7] = sizeof(NETWARE_PATH_COMPONENT);
    return sizeof(NETWARE_PATH_OBJECT);
}
