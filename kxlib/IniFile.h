// A small INI reader: "[section]" lines, "key = value" lines, whole-line
// comments starting with ';' or '#', blank lines. Sections and keys compare
// without regard to ASCII case; the last occurrence of a key in a section
// wins; keys before the first section header belong to the section "".
#ifndef KXLIB_INIFILE_H
#define KXLIB_INIFILE_H

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kxlib {

struct IniQuery {
    std::string section;              // section to look in
    std::optional<std::string> value; // the key's trimmed value, if present
};

// Reads the file at `path` once and fills, for each query, the value of `key`
// in its section. A missing or unreadable file leaves every value empty.
void findIniValues(const char *path, std::string_view key, std::span<IniQuery> queries);

} // namespace kxlib

#endif
