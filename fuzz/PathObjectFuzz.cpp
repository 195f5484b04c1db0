// Path objects: a parse (native or encoded, either type), then a sequence of
// appends and removals. After every step the object must be consistent: the
// list walks the same both ways, the text forms fit their fields, and a
// successful result rebuilds from its own native form.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "NetWarePath.h"

namespace {

void require(bool condition)
{
    if (!condition)
        abort();
}

std::vector<std::string> components(NETWARE_PATH_OBJECT *path)
{
    std::vector<std::string> names;
    const NETWARE_PATH_COMPONENT *previous = nullptr;
    for (const NETWARE_PATH_COMPONENT *c = path->top; c != nullptr; c = c->next) {
        require(c->prev == previous);
        require(strnlen(c->name, sizeof c->name) < sizeof c->name);
        names.emplace_back(c->name);
        previous = c;
        require(names.size() < 4096);
    }
    require(previous == path->bottom);
    return names;
}

void checkConsistent(NETWARE_PATH_OBJECT *path)
{
    const std::vector<std::string> names = components(path);
    require(strnlen(path->nativePath, sizeof path->nativePath) < sizeof path->nativePath);
    require(strnlen(path->encodedPath, sizeof path->encodedPath) < sizeof path->encodedPath);
    require(NetWarePathGetNumberOfComponents(path) == static_cast<int32_t>(names.size()));
    if (names.empty()) {
        require(path->nativePath[0] == '\0' && path->encodedPath[0] == '\0');
        return;
    }
    // Every getter stays within the buffer it is given.
    char small[8];
    for (int32_t i = -1; i <= static_cast<int32_t>(names.size()); ++i) {
        NetWarePathGetNativeComponent(path, i, small, sizeof small);
        NetWarePathGetEncodedComponent(path, i, small, sizeof small);
    }
    NetWarePathGetNativePath(path, small, sizeof small);
    NetWarePathGetEncodedPath(path, small, sizeof small);
    NetWarePathGetEncodedPath(path, small, 0);

    // A valid object parses back from its own native form, unless it holds an
    // empty component (an encoded name that did not decode).
    for (const std::string &name : names)
        if (name.empty())
            return;
    NETWARE_PATH_OBJECT *again = NetWarePathNew();
    require(again != nullptr);
    require(NetWarePathSetNativePath(again, path->nativePath, path->pathType) == 1);
    require(components(again) == names);
    require(strcmp(again->encodedPath, path->encodedPath) == 0);
    NetWarePathDelete(again);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    NETWARE_PATH_OBJECT *path = NetWarePathNew();
    if (path == nullptr)
        return 0;

    const uint8_t how = input.byte();
    const std::string text = input.text();
    const int32_t type = how & 1;
    const int parsed = (how & 2) ? NetWarePathSetEncodedPath(path, text.c_str(), type)
                                 : NetWarePathSetNativePath(path, text.c_str(), type);
    require(parsed == 1 || path->top == nullptr);
    checkConsistent(path);

    while (!input.empty()) {
        const uint8_t op = input.byte() % 3;
        if (op == 0) {
            NetWarePathRemoveComponent(path);
        } else {
            const std::string component = input.text();
            if (op == 1)
                NetWarePathAppendNativeComponent(path, component.c_str());
            else
                NetWarePathAppendEncodedComponent(path, component.c_str());
        }
        checkConsistent(path);
    }
    NetWarePathDelete(path);
    return 0;
}
