/* The installed path-object header compiled as C, as a host written in C uses it. */
#include <stddef.h>

#include "NetWarePath.h"

int hostEncodesInC(const char *nativePath, char *encoded, unsigned int size)
{
    NETWARE_PATH_OBJECT *object = NetWarePathNew();
    int result = 0;
    if (object == NULL)
        return 0;
    if (NetWarePathSetNativePath(object, nativePath, NETWARE_PATH_TYPE_NDS) == 1)
        result = NetWarePathGetEncodedPath(object, encoded, size) == encoded;
    NetWarePathDelete(object);
    return result;
}
