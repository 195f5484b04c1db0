#include "requester/NameRules.h"

namespace smsemu {
namespace {

void dropTrailing(std::string_view &s, char c, std::size_t keep)
{
    while (s.size() > keep && s.back() == c)
        s.remove_suffix(1);
}

void dropLeading(std::string_view &s, char c)
{
    while (!s.empty() && s.front() == c)
        s.remove_prefix(1);
}

// Positions of the unescaped occurrences of `c`: the first at or after `from`,
// and whether the last character is one.
std::size_t firstUnescaped(std::string_view s, char c, std::size_t from)
{
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\') {
            ++i; // the next character is escaped (a trailing backslash escapes nothing)
            continue;
        }
        if (s[i] == c && i >= from)
            return i;
    }
    return std::string_view::npos;
}

bool endsWithUnescaped(std::string_view s, char c)
{
    if (s.empty() || s.back() != c)
        return false;
    // The last character is escaped when an odd run of backslashes precedes it.
    std::size_t slashes = 0;
    for (std::size_t i = s.size() - 1; i > 0 && s[i - 1] == '\\'; --i)
        ++slashes;
    return slashes % 2 == 0;
}

} // namespace

CCODE separatePosixName(std::string_view name, std::string &parent, std::string &child)
{
    dropTrailing(name, '/', 1);
    if (name.empty() || name == "/")
        return NWSMTS_INVALID_DATA_SET_NAME;
    std::size_t slash = name.rfind('/');
    if (slash == std::string_view::npos) {
        parent.clear();
        child = name;
        return 0;
    }
    std::string_view up = name.substr(0, slash + 1);
    dropTrailing(up, '/', 1);
    parent = up;
    child = name.substr(slash + 1);
    return 0;
}

CCODE joinPosixName(std::string_view parent, std::string_view child, std::string &joined)
{
    dropLeading(child, '/');
    if (child.empty())
        return NWSMTS_INVALID_DATA_SET_NAME;
    joined = parent;
    if (!joined.empty() && joined.back() != '/')
        joined += '/';
    joined += child;
    return 0;
}

CCODE separateGroupWiseName(std::string_view name, std::string &parent, std::string &child)
{
    std::size_t colon = name.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return NWSMTS_INVALID_DATA_SET_NAME;
    std::string_view resource = name.substr(0, colon + 1);
    std::string_view path = name.substr(colon + 1);
    dropTrailing(path, '/', 0);
    std::size_t slash = path.rfind('/');
    std::string_view leaf = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (leaf.empty())
        return NWSMTS_INVALID_DATA_SET_NAME;
    std::string_view up = slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
    dropTrailing(up, '/', 0);
    parent.assign(resource);
    parent += up;
    child = leaf;
    return 0;
}

CCODE joinGroupWiseName(std::string_view parent, std::string_view child, std::string &joined)
{
    dropLeading(child, '/');
    std::size_t colon = parent.find(':');
    if (child.empty() || colon == std::string_view::npos || colon == 0)
        return NWSMTS_INVALID_DATA_SET_NAME;
    joined = parent;
    if (joined.back() != ':' && joined.back() != '/')
        joined += '/';
    joined += child;
    return 0;
}

CCODE separateDirectoryName(std::string_view name, std::string &parent, std::string &child)
{
    if (name.size() > 1 && endsWithUnescaped(name, '.'))
        name.remove_suffix(1);
    std::size_t start = !name.empty() && name.front() == '.' ? 1 : 0;
    std::size_t dot = firstUnescaped(name, '.', start);
    if (dot == std::string_view::npos || dot == start || dot + 1 == name.size())
        return NWSMTS_INVALID_DATA_SET_NAME;
    child = name.substr(0, dot);
    parent = name.substr(dot);
    return 0;
}

CCODE joinDirectoryName(std::string_view parent, std::string_view child, std::string &joined)
{
    if (!child.empty() && child.front() == '.')
        child.remove_prefix(1);
    if (child.size() > 1 && endsWithUnescaped(child, '.'))
        child.remove_suffix(1);
    if (child.empty() || child == ".")
        return NWSMTS_INVALID_DATA_SET_NAME;
    joined = ".";
    joined += child;
    if (!parent.empty()) {
        if (parent.front() != '.')
            joined += '.';
        joined += parent;
    }
    return 0;
}

} // namespace smsemu
