// Selecting members and data sets by name and by pattern.
#include "frame/Selection.h"

#include <fnmatch.h>
#include <strings.h>

#include "frame/PathRules.h"

namespace kxsms {

namespace {

// The separator between a name's components, or 0 where names have no
// components a pattern could match one by one (directory objects).
char separatorOf(KXSMS_TSA_TYPE tsa)
{
    switch (tsa) {
    case KXSMS_TSA_FILE_SYSTEM:
        return '/';
    case KXSMS_TSA_GROUPWISE:
        return '\\';
    default:
        return 0;
    }
}

// Directory names end in "[Root]", which is no bracket expression: the
// text with it written as fnmatch takes it literally.
std::string literalRoot(std::string text)
{
    for (size_t at = 0; (at = text.find('[', at)) != std::string::npos; at += 2) {
        if (strncasecmp(text.c_str() + at, "[Root]", 6) != 0)
            continue;
        text.insert(at, "\\");
    }
    return text;
}

} // namespace

bool isPattern(std::string_view text)
{
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\\' && at + 1 < text.size() && text[at + 1] == '[')
            ++at; // an escaped bracket: no pattern by itself
        else if (text[at] == '*' || text[at] == '?' || text[at] == '[')
            return true;
    }
    return false;
}

Selection::Selection(const std::vector<std::string> &paths, const std::vector<std::string> &excludes,
                     KXSMS_TSA_TYPE tsa)
    : tsa_(tsa), given_(paths), used_(paths.size(), false)
{
    const char separator = separatorOf(tsa);
    for (const std::string &path : paths) {
        std::string name = path;
        if (tsa == KXSMS_TSA_FILE_SYSTEM && (name.empty() || name[0] != '/'))
            name.insert(0, "/");
        paths_.push_back(normalizePath(name, tsa));
    }
    for (const std::string &given : excludes) {
        if (given.empty())
            continue;
        const std::string exclude = tsa == KXSMS_TSA_DIRECTORY ? literalRoot(given) : given;
        const bool hasSeparator = separator != 0 && exclude.find(separator) != std::string::npos;
        if (!isPattern(exclude) && (hasSeparator || separator == 0))
            exact_.push_back(normalizePath(given, tsa));
        else if (hasSeparator || separator == 0)
            patterns_.push_back(exclude);
        else
            componentPatterns_.push_back(exclude);
    }
}

bool Selection::takes(std::string_view name)
{
    if (excluded(name))
        return false;
    if (paths_.empty())
        return true;
    bool taken = false;
    for (size_t i = 0; i < paths_.size(); ++i) {
        if (isWithin(name, paths_[i], tsa_)) {
            used_[i] = true;
            taken = true;
        }
    }
    return taken;
}

bool Selection::excludedWhole(std::string_view name) const
{
    const int flags = tsa_ == KXSMS_TSA_DIRECTORY ? FNM_CASEFOLD : 0;
    const std::string text(name);
    for (const std::string &pattern : patterns_)
        if (fnmatch(pattern.c_str(), text.c_str(), flags) == 0)
            return true;
    return false;
}

bool Selection::excluded(std::string_view name) const
{
    for (const std::string &exact : exact_)
        if (isWithin(name, exact, tsa_))
            return true;
    if (patterns_.empty() && componentPatterns_.empty())
        return false;
    const char separator = separatorOf(tsa_);
    if (separator == 0)
        return excludedWhole(name);
    // The name and each of its parents, and each component on its own.
    std::string component;
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != separator)
            continue;
        if (i > start) {
            if (!componentPatterns_.empty()) {
                component.assign(name.substr(start, i - start));
                for (const std::string &pattern : componentPatterns_)
                    if (fnmatch(pattern.c_str(), component.c_str(), 0) == 0)
                        return true;
            }
            if (!patterns_.empty() && excludedWhole(name.substr(0, i)))
                return true;
        }
        start = i + 1;
    }
    return false;
}

std::vector<std::string> Selection::unused() const
{
    std::vector<std::string> result;
    for (size_t i = 0; i < given_.size(); ++i)
        if (!used_[i])
            result.push_back(given_[i]);
    return result;
}

} // namespace kxsms
