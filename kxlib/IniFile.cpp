// Line-by-line INI reader used by the configuration lookups.
#include "IniFile.h"

#include <fstream>

namespace kxlib {

namespace {

constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string_view trim(std::string_view text)
{
    std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

void findIniValues(const char *path, std::string_view key, std::span<IniQuery> queries)
{
    std::ifstream in(path);
    if (!in) {
        return;
    }
    // Empty while no header has been seen; unset after a malformed header,
    // so that its keys are not taken for those of the section before it.
    std::optional<std::string> section{std::string()};
    std::string raw;
    bool firstLine = true;
    while (std::getline(in, raw)) {
        std::string_view line(raw);
        if (firstLine && line.starts_with("\xEF\xBB\xBF")) {
            line.remove_prefix(3);
        }
        firstLine = false;
        line = trim(line);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            std::size_t close = line.find(']');
            if (close == std::string_view::npos) {
                section.reset();
            } else {
                section = std::string(trim(line.substr(1, close - 1)));
            }
            continue;
        }
        std::size_t equals = line.find('=');
        if (!section || equals == std::string_view::npos) {
            continue;
        }
        if (!sameName(trim(line.substr(0, equals)), key)) {
            continue;
        }
        std::string_view value = trim(line.substr(equals + 1));
        for (IniQuery &query : queries) {
            if (sameName(*section, query.section)) {
                query.value = std::string(value);
            }
        }
    }
}

} // namespace kxlib
