#include "core/NameMatch.h"

#include <cctype>

namespace smsemu {
namespace {

bool same(char a, char b)
{
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

} // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!same(a[i], b[i]))
            return false;
    return true;
}

bool containsIgnoringCase(std::string_view text, std::string_view part)
{
    if (part.size() > text.size())
        return false;
    for (std::size_t i = 0; i + part.size() <= text.size(); ++i)
        if (equalsIgnoringCase(text.substr(i, part.size()), part))
            return true;
    return false;
}

bool globMatch(std::string_view pattern, std::string_view text)
{
    // Greedy with one backtrack point: linear in practice, never exponential.
    std::size_t p = 0, t = 0;
    std::size_t star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], text[t]))) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace smsemu
