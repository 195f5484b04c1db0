// Path objects: lifecycle, the component list and the read accessors.
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "NetWarePathPrivate.h"

// The records are part of the host interface: keep their layout fixed.
static_assert(offsetof(NETWARE_PATH_COMPONENT, name) == 0);
static_assert(offsetof(NETWARE_PATH_COMPONENT, next) == 1024);
static_assert(offsetof(NETWARE_PATH_COMPONENT, prev) == 1032);
static_assert(sizeof(NETWARE_PATH_COMPONENT) == 1040);
static_assert(offsetof(NETWARE_PATH_OBJECT, nativePath) == 0);
static_assert(offsetof(NETWARE_PATH_OBJECT, encodedPath) == 1024);
static_assert(offsetof(NETWARE_PATH_OBJECT, pathType) == 2048);
static_assert(offsetof(NETWARE_PATH_OBJECT, top) == 2056);
static_assert(offsetof(NETWARE_PATH_OBJECT, bottom) == 2064);
static_assert(offsetof(NETWARE_PATH_OBJECT, resourceObject) == 2072);
static_assert(sizeof(NETWARE_PATH_OBJECT) == 2080);

namespace nwpath {

NETWARE_PATH_COMPONENT *allocateComponent(const char *text)
{
    if (text == nullptr)
        return nullptr;
    const size_t length = strnlen(text, kBuffer);
    if (length > kMaxText)
        return nullptr;
    auto *component = static_cast<NETWARE_PATH_COMPONENT *>(malloc(sizeof(NETWARE_PATH_COMPONENT)));
    if (component == nullptr)
        return nullptr;
    memset(component, 0, sizeof(*component));
    memcpy(component->name, text, length);
    return component;
}

int insertComponentAtTop(NETWARE_PATH_OBJECT *object, const char *text)
{
    if (object == nullptr)
        return 0;
    NETWARE_PATH_COMPONENT *component = allocateComponent(text);
    if (component == nullptr)
        return 0;
    component->next = object->top;
    if (object->top != nullptr)
        object->top->prev = component;
    object->top = component;
    if (object->bottom == nullptr)
        object->bottom = component;
    return 1;
}

int addComponentToBottom(NETWARE_PATH_OBJECT *object, const char *text)
{
    if (object == nullptr)
        return 0;
    NETWARE_PATH_COMPONENT *component = allocateComponent(text);
    if (component == nullptr)
        return 0;
    component->prev = object->bottom;
    if (object->bottom != nullptr)
        object->bottom->next = component;
    object->bottom = component;
    if (object->top == nullptr)
        object->top = component;
    return 1;
}

const NETWARE_PATH_COMPONENT *componentAt(const NETWARE_PATH_OBJECT *object, int32_t index)
{
    if (index < 0)
        return nullptr;
    const NETWARE_PATH_COMPONENT *component = object->top;
    for (int32_t i = 0; component != nullptr && i < index; ++i)
        component = component->next;
    return component;
}

} // namespace nwpath

namespace {

// Copies a text field when it fits with its NUL; the buffer is untouched otherwise.
char *copyField(const char (&field)[nwpath::kBuffer], char *buffer, uint32_t size)
{
    const size_t length = nwpath::fieldLength(field);
    if (length >= nwpath::kBuffer || length >= size)
        return nwpath::emptyText();
    memcpy(buffer, field, length + 1);
    return buffer;
}

} // namespace

// ---- Lifecycle ----

extern "C" NETWARE_PATH_OBJECT *NetWarePathNew(void)
{
    auto *object = static_cast<NETWARE_PATH_OBJECT *>(malloc(sizeof(NETWARE_PATH_OBJECT)));
    if (object != nullptr)
        NetWarePathConstruct(object);
    return object;
}

extern "C" void NetWarePathDelete(NETWARE_PATH_OBJECT *object)
{
    if (object == nullptr)
        return;
    NetWarePathDestruct(object);
    free(object);
}

extern "C" void NetWarePathConstruct(NETWARE_PATH_OBJECT *object)
{
    if (object == nullptr)
        return;
    memset(object, 0, sizeof(*object));
    NetWarePathClearPath(object);
}

extern "C" void NetWarePathDestruct(NETWARE_PATH_OBJECT *object)
{
    if (object == nullptr)
        return;
    NetWarePathClearPath(object);
    memset(object, 0, sizeof(*object));
}

extern "C" void NetWarePathClearPath(NETWARE_PATH_OBJECT *object)
{
    if (object == nullptr)
        return;
    object->nativePath[0] = '\0';
    object->encodedPath[0] = '\0';
    object->pathType = NETWARE_PATH_TYPE_FS;
    NetWarePathRemoveAllComponents(object);
    object->resourceObject = false;
}

// ---- Component list ----

NETWARE_PATH_COMPONENT *NetWarePathAllocateNetWareComponent(char *text)
{
    return nwpath::allocateComponent(text);
}

int NetWarePathInsertComponentAtTop(NETWARE_PATH_OBJECT *object, char *text)
{
    return nwpath::insertComponentAtTop(object, text);
}

int NetWarePathAddComponentToBottom(NETWARE_PATH_OBJECT *object, char *text)
{
    return nwpath::addComponentToBottom(object, text);
}

void NetWarePathFreeNetWareComponent(NETWARE_PATH_OBJECT *object, NETWARE_PATH_COMPONENT *component)
{
    if (object == nullptr || component == nullptr)
        return;
    // Unlinking a component of another list (or one already freed) would
    // corrupt both lists: only members of this object's list are freed.
    const NETWARE_PATH_COMPONENT *member = object->top;
    while (member != nullptr && member != component)
        member = member->next;
    if (member == nullptr)
        return;

    if (component->prev != nullptr)
        component->prev->next = component->next;
    if (component->next != nullptr)
        component->next->prev = component->prev;
    if (object->top == component)
        object->top = component->next;
    if (object->bottom == component)
        object->bottom = component->prev;
    free(component);
}

void NetWarePathRemoveAllComponents(NETWARE_PATH_OBJECT *object)
{
    if (object == nullptr)
        return;
    NETWARE_PATH_COMPONENT *component = object->top;
    while (component != nullptr) {
        NETWARE_PATH_COMPONENT *next = component->next;
        free(component);
        component = next;
    }
    object->top = nullptr;
    object->bottom = nullptr;
}

// ---- Accessors ----

extern "C" int32_t NetWarePathGetNumberOfComponents(const NETWARE_PATH_OBJECT *object)
{
    if (object == nullptr)
        return 0;
    int32_t count = 0;
    for (const NETWARE_PATH_COMPONENT *c = object->top; c != nullptr; c = c->next)
        ++count;
    return count;
}

extern "C" char *NetWarePathGetNativeComponent(const NETWARE_PATH_OBJECT *object, int32_t index, char *buffer,
                                               uint32_t size)
{
    if (object == nullptr || buffer == nullptr || size == 0)
        return nwpath::emptyText();
    buffer[0] = '\0';
    const NETWARE_PATH_COMPONENT *component = nwpath::componentAt(object, index);
    if (component == nullptr)
        return nwpath::emptyText();
    return copyField(component->name, buffer, size);
}

extern "C" char *NetWarePathGetComponent(const NETWARE_PATH_OBJECT *object, int32_t index, char *buffer, uint32_t size)
{
    return NetWarePathGetNativeComponent(object, index, buffer, size);
}

extern "C" int32_t NetWarePathGetPathType(const NETWARE_PATH_OBJECT *object)
{
    return object == nullptr ? 0 : object->pathType;
}

extern "C" char NetWarePathGetSeparator(const NETWARE_PATH_OBJECT *object)
{
    if (object == nullptr)
        return '\0';
    return object->pathType == NETWARE_PATH_TYPE_FS ? '\\' : '.';
}

extern "C" bool NetWarePathIsResourceObject(const NETWARE_PATH_OBJECT *object)
{
    return object != nullptr && object->resourceObject;
}

extern "C" char *NetWarePathGetNativePath(const NETWARE_PATH_OBJECT *object, char *buffer, uint32_t size)
{
    if (object == nullptr || buffer == nullptr)
        return nwpath::emptyText();
    return copyField(object->nativePath, buffer, size);
}

extern "C" char *NetWarePathGetEncodedPath(const NETWARE_PATH_OBJECT *object, char *buffer, uint32_t size)
{
    if (object == nullptr || buffer == nullptr)
        return nwpath::emptyText();
    return copyField(object->encodedPath, buffer, size);
}

extern "C" char *NetWarePathGetTopDownPath(const NETWARE_PATH_OBJECT *object, char *buffer, uint32_t size)
{
    return NetWarePathGetEncodedPath(object, buffer, size);
}
