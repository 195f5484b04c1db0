// KXPlatformInfo: configuration lookups, with the focus section first.
//
// The file is read afresh at every lookup, so an edit takes effect at the next
// call without any notification.
#include <cstdlib>
#include <cstring>

#include "IniFile.h"
#include "KxLib.h"

namespace {

const char *configPath()
{
    const char *path = std::getenv("KXLIB_CONFIG");
    return (path != nullptr && *path != '\0') ? path : "/etc/kxlib.conf";
}

// Decimal digits, or 0x/0X and hexadecimal digits, that fit in unsigned long.
// Anything else (signs, blanks inside, trailing text, overflow) is no number.
bool parseNumber(std::string_view text, unsigned long *value)
{
    unsigned long base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return false;
    }
    unsigned long result = 0;
    for (char c : text) {
        unsigned long digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned long>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned long>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned long>(c - 'A' + 10);
        } else {
            return false;
        }
        if (result > (~0UL - digit) / base) {
            return false;
        }
        result = result * base + digit;
    }
    *value = result;
    return true;
}

// Reads key from "<focus>/<section>" (when a focus is set) and "<section>",
// in that order of precedence; returns the number of sections consulted.
std::size_t lookUp(const char *focus, const char *section, const char *key, kxlib::IniQuery (&queries)[2])
{
    std::size_t count = 0;
    if (*focus != '\0') {
        queries[count++].section = std::string(focus) + "/" + section;
    }
    queries[count++].section = section;
    kxlib::findIniValues(configPath(), key, std::span(queries, count));
    return count;
}

} // namespace

KXPlatformInfo::KXPlatformInfo() : m_focus{} {}

KXPlatformInfo::~KXPlatformInfo() = default;

// A focus that does not fit is dropped rather than cut: a cut name would
// select some other instance's section.
void KXPlatformInfo::setFocus(const char *focus)
{
    m_focus[0] = '\0';
    if (focus == nullptr) {
        return;
    }
    std::size_t length = strnlen(focus, sizeof m_focus);
    if (length < sizeof m_focus) {
        std::memcpy(m_focus, focus, length + 1);
    }
}

int KXPlatformInfo::getNumber(const char *section, const char *key, unsigned long *value)
{
    if (section == nullptr || key == nullptr || value == nullptr) {
        return 0;
    }
    try {
        kxlib::IniQuery queries[2];
        std::size_t count = lookUp(m_focus, section, key, queries);
        // A value that is no number counts as absent, so a focus section
        // holding one falls back to the plain section.
        for (std::size_t i = 0; i < count; ++i) {
            if (queries[i].value && parseNumber(*queries[i].value, value)) {
                return 1;
            }
        }
    } catch (...) {
    }
    return 0;
}

int KXPlatformInfo::getString(const char *section, const char *key, char *value, unsigned long size)
{
    if (section == nullptr || key == nullptr || value == nullptr || size == 0) {
        return 0;
    }
    try {
        kxlib::IniQuery queries[2];
        std::size_t count = lookUp(m_focus, section, key, queries);
        for (std::size_t i = 0; i < count; ++i) {
            if (queries[i].value) {
                const std::string &text = *queries[i].value;
                std::size_t length = text.size() < size - 1 ? text.size() : size - 1;
                std::memcpy(value, text.data(), length);
                value[length] = '\0';
                return 1;
            }
        }
    } catch (...) {
    }
    return 0;
}
