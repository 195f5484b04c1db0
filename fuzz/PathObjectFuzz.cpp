// Path objects: a parse (native or encoded, either type), then a sequence of
// appends and removals. After every step the object must be consistent: the
// list walks the same both ways, the text forms fit their fields and the
// getters stay within small buffers at the list's ends. The last state is
// checked whole: every component's getters, and a rebuild from its own
// native form. Every state between is the last state of a shorter input,
// which the fuzzer makes by cutting this one, so checking each state whole
// only repeated that work: the getters walk the list for each index and the
// rebuild allocates every component again, quadratic in the steps.
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

// Every getter stays within the buffer it is given, for the component at
// each index given (-1 and the count are out of range).
void checkGetters(NETWARE_PATH_OBJECT *path, int32_t index)
{
    char small[8];
    NetWarePathGetNativeComponent(path, index, small, sizeof small);
    NetWarePathGetEncodedComponent(path, index, small, sizeof small);
}

// What must hold after every step; the names of the components.
std::vector<std::string> checkStep(NETWARE_PATH_OBJECT *path)
{
    const std::vector<std::string> names = components(path);
    require(strnlen(path->nativePath, sizeof path->nativePath) < sizeof path->nativePath);
    require(strnlen(path->encodedPath, sizeof path->encodedPath) < sizeof path->encodedPath);
    require(NetWarePathGetNumberOfComponents(path) == static_cast<int32_t>(names.size()));
    if (names.empty()) {
        require(path->nativePath[0] == '\0' && path->encodedPath[0] == '\0');
        return names;
    }
    const int32_t count = static_cast<int32_t>(names.size());
    for (int32_t i : {int32_t{-1}, int32_t{0}, count - 1, count})
        checkGetters(path, i);
    char small[8];
    NetWarePathGetNativePath(path, small, sizeof small);
    NetWarePathGetEncodedPath(path, small, sizeof small);
    NetWarePathGetEncodedPath(path, small, 0);
    return names;
}

// What must hold of the last state, besides each step's checks.
void checkWhole(NETWARE_PATH_OBJECT *path)
{
    const std::vector<std::string> names = checkStep(path);
    if (names.empty())
        return;
    for (int32_t i = 1; i < static_cast<int32_t>(names.size()) - 1; ++i)
        checkGetters(path, i);

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

// Each append or removal parses the whole path again, component by
// component: a long script of them on a path of hundreds of components cost
// as much as thousands of short inputs. A path's text holds at most 1023
// characters, so a few long components reach its limits as well.
constexpr size_t c_MaxSteps = 32;

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
    checkStep(path);

    for (size_t step = 0; step < c_MaxSteps && !input.empty(); ++step) {
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
        checkStep(path);
    }
    checkWhole(path);
    NetWarePathDelete(path);
    return 0;
}
