// Helpers shared by the path-object tests: a path object deleted with the
// test, writable copies of texts, repeated texts.
#ifndef KXSMS_TESTS_NETWAREPATH_PATHOBJECTHELPERS_H
#define KXSMS_TESTS_NETWAREPATH_PATHOBJECTHELPERS_H

#include <string>
#include <vector>

#include "NetWarePathOperations.h"

using Names = std::vector<std::string>;

// A heap path object that is deleted with the test.
class PathObject {
public:
    PathObject() : m_object(NetWarePathNew()) {}
    ~PathObject() { NetWarePathDelete(m_object); }
    PathObject(const PathObject &) = delete;
    PathObject &operator=(const PathObject &) = delete;

    operator NETWARE_PATH_OBJECT *() const { return m_object; }
    NETWARE_PATH_OBJECT *operator->() const { return m_object; }

    Names components() const
    {
        Names names;
        char buffer[NETWARE_PATH_BUFFER];
        for (int i = 0; i < NetWarePathGetNumberOfComponents(m_object); ++i)
            names.emplace_back(NetWarePathGetNativeComponent(m_object, i, buffer, sizeof buffer));
        return names;
    }
    std::string native() const { return m_object->nativePath; }
    std::string encoded() const { return m_object->encodedPath; }

    // Both links agree with each other and with top and bottom.
    bool listIsConsistent() const
    {
        const NETWARE_PATH_COMPONENT *previous = nullptr;
        for (const NETWARE_PATH_COMPONENT *c = m_object->top; c != nullptr; previous = c, c = c->next) {
            if (c->prev != previous)
                return false;
        }
        return previous == m_object->bottom;
    }
    bool isEmpty() const
    {
        return m_object->top == nullptr && m_object->bottom == nullptr && native().empty() && encoded().empty() &&
               !m_object->resourceObject;
    }

private:
    NETWARE_PATH_OBJECT *m_object;
};

// A writable copy of a text, for the operations that take char*.
inline std::vector<char> writable(const std::string &text)
{
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

inline std::string repeat(const std::string &unit, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += unit;
    return text;
}

#endif
