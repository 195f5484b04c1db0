// Helpers shared by the path-object tests.
#ifndef KXSMS_TESTS_NETWAREPATH_TESTSUPPORT_H
#define KXSMS_TESTS_NETWAREPATH_TESTSUPPORT_H

#include <cstdio>
#include <string>
#include <vector>

#include "NetWarePathInternal.h"

// A heap path object that is deleted with the test.
class PathObject {
public:
    PathObject() : m_object(NetWarePathNew()) {}
    ~PathObject() { NetWarePathDelete(m_object); }
    PathObject(const PathObject &) = delete;
    PathObject &operator=(const PathObject &) = delete;

    NETWARE_PATH_OBJECT *get() const { return m_object; }
    operator NETWARE_PATH_OBJECT *() const { return m_object; }
    NETWARE_PATH_OBJECT *operator->() const { return m_object; }

    // Components from the top, read through the accessor.
    std::vector<std::string> components() const
    {
        std::vector<std::string> names;
        char buffer[NETWARE_PATH_BUFFER];
        const int count = NetWarePathGetNumberOfComponents(m_object);
        for (int i = 0; i < count; ++i)
            names.emplace_back(NetWarePathGetNativeComponent(m_object, i, buffer, sizeof buffer));
        return names;
    }
    std::string native() const { return m_object->nativePath; }
    std::string encoded() const { return m_object->encodedPath; }

    // Both links agree with each other and with top and bottom.
    bool listIsConsistent() const
    {
        const NETWARE_PATH_COMPONENT *previous = nullptr;
        for (const NETWARE_PATH_COMPONENT *c = m_object->top; c != nullptr; c = c->next) {
            if (c->prev != previous)
                return false;
            previous = c;
        }
        return previous == m_object->bottom;
    }

    bool isEmpty() const
    {
        return m_object->top == nullptr && m_object->bottom == nullptr && native().empty() &&
               encoded().empty() && !m_object->resourceObject;
    }

private:
    NETWARE_PATH_OBJECT *m_object;
};

// A writable copy of a text, for the operations that take char*.
inline std::vector<char> writable(const std::string &text)
{
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

// A text in double quotes, bytes outside printable ASCII as \xNN, for test
// parameter descriptions.
inline std::string quoted(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}

#endif
