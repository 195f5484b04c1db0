/* The public header compiled as C: a host written in C sees the same records. */
#include <stddef.h>

#include "NetWarePath.h"

_Static_assert(offsetof(NETWARE_PATH_OBJECT, pathType) == 2048, "pathType");
_Static_assert(offsetof(NETWARE_PATH_OBJECT, top) == 2056, "top");
_Static_assert(offsetof(NETWARE_PATH_OBJECT, resourceObject) == 2072, "resourceObject");
_Static_assert(sizeof(NETWARE_PATH_OBJECT) == 2080, "object size");
_Static_assert(offsetof(NETWARE_PATH_COMPONENT, prev) == 1032, "prev");

/* Called from C, through the C declarations. */
int netwarepath_from_c(void)
{
    NETWARE_PATH_OBJECT *object = NetWarePathNew();
    int result = NetWarePathSetNativePath(object, "CN=A.O=B", NETWARE_PATH_TYPE_NDS);
    NetWarePathDelete(object);
    return result;
}
