// Path comparison, pruning, name checks and re-rooting per TSA type.
#include "frame/PathRules.h"

#include <strings.h>

#include "archive/Format.h"

namespace kxsms {

namespace {

bool isSeparator(char c, KXSMS_TSA_TYPE tsa)
{
    return tsa == KXSMS_TSA_GROUPWISE ? (c == '\\' || c == '/') : c == '/';
}

// True when any component between separators is "..".
bool hasParentComponent(std::string_view name, KXSMS_TSA_TYPE tsa)
{
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        const bool boundary =
            i == name.size() || isSeparator(name[i], tsa) || (tsa == KXSMS_TSA_GROUPWISE && name[i] == ':');
        if (!boundary)
            continue;
        if (name.substr(start, i - start) == "..")
            return true;
        start = i + 1;
    }
    return false;
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Directory names in the form every scan returns: a leading '.', ending in ".[Root]".
std::string canonicalDirectoryName(std::string_view path)
{
    std::string name(path);
    if (name.empty() || name[0] != '.')
        name.insert(0, ".");
    const size_t last = name.rfind('.');
    if (!equalNoCase(std::string_view(name).substr(last + 1), "[Root]") && name.size() > 1)
        name += ".[Root]";
    return name;
}

} // namespace

std::string normalizePath(std::string_view path, KXSMS_TSA_TYPE tsa)
{
    if (tsa == KXSMS_TSA_DIRECTORY)
        return canonicalDirectoryName(path);
    std::string result;
    result.reserve(path.size());
    for (char c : path) {
        if (isSeparator(c, tsa) && !result.empty() && isSeparator(result.back(), tsa))
            continue;
        result += c;
    }
    // Keep the root: "/" or the separator right after a GroupWise resource's ':'.
    size_t keep = 1;
    if (tsa == KXSMS_TSA_GROUPWISE) {
        const size_t colon = result.find(':');
        if (colon != std::string::npos)
            keep = colon + 1 < result.size() && result[colon + 1] == '\\' ? colon + 2 : colon + 1;
    }
    while (result.size() > keep && isSeparator(result.back(), tsa))
        result.pop_back();
    return result;
}

std::string absoluteFileSystemPath(std::string_view path, std::string_view cwd)
{
    std::string joined;
    if (path.empty() || path[0] != '/') {
        joined.assign(cwd);
        joined += '/';
    }
    joined += path;
    std::vector<std::string_view> parts;
    std::string_view rest(joined);
    while (!rest.empty()) {
        const size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string result;
    for (std::string_view part : parts) {
        result += '/';
        result += part;
    }
    return result.empty() ? "/" : result;
}

void takeLocalPath(std::string &path, std::string_view cwd, KXSMS_TSA_TYPE tsa)
{
    if (tsa == KXSMS_TSA_FILE_SYSTEM && !path.empty() && !cwd.empty())
        path = absoluteFileSystemPath(path, cwd);
}

bool isWithin(std::string_view inner, std::string_view outer, KXSMS_TSA_TYPE tsa)
{
    if (tsa == KXSMS_TSA_DIRECTORY) {
        // ".CN=a.O=b.[Root]" lies within ".O=b.[Root]": outer is a suffix after a '.'.
        if (equalNoCase(inner, outer) || outer == ".")
            return true;
        if (outer.empty() || outer.front() != '.' || inner.size() <= outer.size())
            return false;
        const size_t boundary = inner.size() - outer.size();
        if (!equalNoCase(inner.substr(boundary), outer))
            return false;
        // The '.' must separate components, not be an escaped character of one.
        size_t escapes = 0;
        while (escapes < boundary && inner[boundary - 1 - escapes] == '\\')
            ++escapes;
        return escapes % 2 == 0;
    }
    // An empty path names the TSA's root, which holds everything.
    if (inner == outer || outer.empty())
        return true;
    if (inner.size() <= outer.size() || inner.substr(0, outer.size()) != outer)
        return false;
    // The root ("/", "DOM1:\" or "DOM1:") holds everything that starts with it.
    const char last = outer.back();
    return isSeparator(last, tsa) || last == ':' || isSeparator(inner[outer.size()], tsa);
}

std::vector<std::string> independentPaths(const std::vector<std::string> &paths, KXSMS_TSA_TYPE tsa)
{
    std::vector<std::string> normalized;
    normalized.reserve(paths.size());
    for (const std::string &path : paths)
        normalized.push_back(normalizePath(path, tsa));

    std::vector<std::string> result;
    for (size_t i = 0; i < paths.size(); ++i) {
        bool covered = false;
        for (size_t j = 0; j < paths.size() && !covered; ++j) {
            if (i == j || !isWithin(normalized[i], normalized[j], tsa))
                continue;
            // Of two equal paths the first stays.
            covered = !isWithin(normalized[j], normalized[i], tsa) || j < i;
        }
        if (!covered)
            result.push_back(paths[i]);
    }
    return result;
}

std::optional<std::string> refuseName(std::string_view name, KXSMS_TSA_TYPE tsa)
{
    if (name.empty())
        return "an empty name";
    if (name.find('\0') != std::string_view::npos)
        return "a name with a NUL byte";
    if (tsa == KXSMS_TSA_FILE_SYSTEM && name[0] != '/')
        return "a name that does not start with \"/\"";
    if (tsa != KXSMS_TSA_DIRECTORY && hasParentComponent(name, tsa))
        return "a name with a \"..\" component";
    return std::nullopt;
}

std::optional<std::string> refuseTarget(std::string_view dir, KXSMS_TSA_TYPE tsa)
{
    switch (tsa) {
    case KXSMS_TSA_DIRECTORY:
        return "--to cannot be used with the directory TSA: directory objects are restored under their own names";
    case KXSMS_TSA_FILE_SYSTEM:
        if (dir.empty() || dir[0] != '/')
            return "--to needs a path that starts with \"/\"";
        break;
    case KXSMS_TSA_GROUPWISE: {
        const size_t colon = dir.find(':');
        if (colon == 0 || colon == std::string_view::npos || (colon + 1 < dir.size() && dir[colon + 1] != '\\'))
            return "--to needs a GroupWise path such as DOM1:\\restore";
        break;
    }
    }
    if (dir.find('\0') != std::string_view::npos || hasParentComponent(dir, tsa))
        return "--to may not contain a \"..\" component";
    return std::nullopt;
}

namespace {

// tail without its first strip components (each led by one of seps);
// false when nothing is left.
bool stripLeading(std::string &tail, unsigned int strip, std::string_view seps)
{
    size_t at = 0;
    for (unsigned int i = 0; i < strip; ++i) {
        at = tail.find_first_not_of(seps, at);
        if (at == std::string::npos)
            return false;
        at = tail.find_first_of(seps, at);
        if (at == std::string::npos)
            return false;
    }
    if (tail.find_first_not_of(seps, at) == std::string::npos)
        return false;
    tail.erase(0, at);
    return true;
}

} // namespace

std::optional<std::string> reroot(std::string_view name, std::string_view dir, KXSMS_TSA_TYPE tsa, std::string &error,
                                  unsigned int strip)
{
    error.clear();
    if (const auto why = refuseTarget(dir, tsa)) {
        error = *why;
        return std::nullopt;
    }
    if (const auto why = refuseName(name, tsa)) {
        error = "refused: " + *why;
        return std::nullopt;
    }
    std::string base = normalizePath(dir, tsa);
    // What goes below DIR, each component led by a separator.
    std::string tail;
    if (tsa == KXSMS_TSA_FILE_SYSTEM) {
        if (base == "/")
            base.clear();
        tail = name == "/" ? std::string() : std::string(name);
    } else {
        // GroupWise: the resource becomes a directory under DIR.
        const size_t colon = name.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            error = "refused: " + std::string(name) + " is a resource that cannot be restored elsewhere";
            return std::nullopt;
        }
        std::string_view rest = name.substr(colon + 1);
        while (!rest.empty() && (rest.front() == '\\' || rest.front() == '/'))
            rest.remove_prefix(1);
        if (base.back() == '\\')
            base.pop_back();
        tail = '\\' + std::string(name.substr(0, colon));
        if (!rest.empty())
            tail += '\\' + std::string(rest);
    }
    if (strip > 0 && !stripLeading(tail, strip, tsa == KXSMS_TSA_FILE_SYSTEM ? "/" : "\\/"))
        return std::nullopt; // nothing is left of it: not restored, error empty
    std::string result = base + tail;
    if (result.empty())
        result = "/";
    if (result.size() > format::c_MaxNameLength) {
        error = "refused: the name under " + std::string(dir) + " would be longer than 1023 bytes";
        return std::nullopt;
    }
    return result;
}

} // namespace kxsms
