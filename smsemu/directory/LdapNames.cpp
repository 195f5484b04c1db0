#include "directory/LdapNames.h"

#include "directory/DirectoryNames.h"

#include <ldap.h>

#include <memory>

namespace smsemu {
namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Splits at each unescaped `separator` (a backslash escapes what follows).
std::vector<std::string_view> splitUnescaped(std::string_view text, char separator, std::size_t limit = 0)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
            continue;
        }
        if (text[i] == separator && (limit == 0 || parts.size() + 1 < limit)) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(text.substr(start));
    return parts;
}

// Resolves the escapes of a type or value; false for a backslash at the end.
bool unescape(std::string_view text, std::string &out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 >= text.size())
            return false;
        int high = hexValue(text[i + 1]);
        int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
        if (high >= 0 && low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[++i];
        }
    }
    return true;
}

bool unhex(std::string_view text, std::string &out)
{
    out.clear();
    if (text.empty() || text.size() % 2 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int high = hexValue(text[i]);
        int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        out += static_cast<char>(high * 16 + low);
    }
    return true;
}

void appendEscaped(std::string_view text, bool value, std::string &out)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\0') {
            out += "\\00";
            continue;
        }
        if (c == '.' || c == '+' || c == '=' || c == '\\' || (value && i == 0 && c == '#'))
            out += '\\';
        out += c;
    }
}

std::string hexOf(std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::string upper(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

struct DnFree {
    void operator()(LDAPRDN *dn) const { ldap_dnfree(dn); }
};
using ParsedDn = std::unique_ptr<LDAPRDN, DnFree>;

bool parse(std::string_view text, ParsedDn &out)
{
    LDAPDN dn = nullptr;
    const std::string copy(text);
    if (copy.size() != text.size() || ldap_str2dn(copy.c_str(), &dn, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS)
        return false;
    out.reset(dn);
    return true;
}

bool write(LDAPDN dn, std::string &text, unsigned flags)
{
    char *written = nullptr;
    if (ldap_dn2str(dn, &written, LDAP_DN_FORMAT_LDAPV3 | flags) != LDAP_SUCCESS)
        return false;
    text = written != nullptr ? written : "";
    ldap_memfree(written);
    return true;
}

} // namespace

bool dnOfComponents(const std::vector<std::string_view> &components, std::string &dn)
{
    dn.clear();
    // The DN as the library takes it: NULL-terminated arrays of RDNs, each a
    // NULL-terminated array of AVAs, over texts kept here.
    std::vector<std::vector<std::string>> texts(components.size());
    std::vector<std::vector<LDAPAVA>> avas(components.size());
    std::vector<std::vector<LDAPAVA *>> rdns(components.size());
    std::vector<LDAPRDN> built;
    for (std::size_t r = 0; r < components.size(); ++r) {
        for (std::string_view ava : splitUnescaped(components[r], '+')) {
            std::vector<std::string_view> typeValue = splitUnescaped(ava, '=', 2);
            if (typeValue.size() != 2)
                return false;
            std::string type;
            std::string value;
            if (!unescape(typeValue[0], type) || type.empty())
                return false;
            LDAPAVA made{};
            made.la_flags = LDAP_AVA_STRING;
            if (!typeValue[1].empty() && typeValue[1].front() == '#') {
                if (!unhex(typeValue[1].substr(1), value))
                    return false;
                made.la_flags = LDAP_AVA_BINARY;
            } else if (!unescape(typeValue[1], value)) {
                return false;
            }
            for (char &c : type)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c - 'A' + 'a');
            texts[r].push_back(std::move(type));
            texts[r].push_back(std::move(value));
            avas[r].push_back(made);
        }
    }
    for (std::size_t r = 0; r < components.size(); ++r) {
        for (std::size_t a = 0; a < avas[r].size(); ++a) {
            LDAPAVA &ava = avas[r][a];
            std::string &type = texts[r][2 * a];
            std::string &value = texts[r][2 * a + 1];
            ava.la_attr = berval{type.size(), type.data()};
            ava.la_value = berval{value.size(), value.data()};
            rdns[r].push_back(&ava);
        }
        rdns[r].push_back(nullptr);
        built.push_back(rdns[r].data());
    }
    built.push_back(nullptr);
    std::string written;
    if (!write(components.empty() ? nullptr : built.data(), written, LDAP_DN_PRETTY))
        return false;
    // What was written must read back as the same number of RDNs and values:
    // a type that is no attribute type does not.
    ParsedDn again;
    if (!components.empty()) {
        if (!parse(written, again))
            return false;
        std::size_t r = 0;
        for (; again.get()[r] != nullptr; ++r) {
            if (r >= components.size())
                return false;
            std::size_t a = 0;
            while (again.get()[r][a] != nullptr)
                ++a;
            if (a != avas[r].size())
                return false;
        }
        if (r != components.size())
            return false;
    }
    dn = std::move(written);
    return true;
}

bool componentsOfDn(std::string_view dn, std::vector<std::string> &components)
{
    components.clear();
    ParsedDn parsed;
    if (!parse(dn, parsed))
        return false;
    for (LDAPRDN *rdn = parsed.get(); rdn != nullptr && *rdn != nullptr; ++rdn) {
        std::string component;
        for (LDAPAVA **ava = *rdn; *ava != nullptr; ++ava) {
            if (ava != *rdn)
                component += '+';
            const std::string_view type((*ava)->la_attr.bv_val, (*ava)->la_attr.bv_len);
            const std::string_view value((*ava)->la_value.bv_val, (*ava)->la_value.bv_len);
            appendEscaped(upper(type), false, component);
            component += '=';
            if (((*ava)->la_flags & LDAP_AVA_BINARY) != 0)
                component += "#" + hexOf(value);
            else
                appendEscaped(value, true, component);
        }
        components.push_back(std::move(component));
    }
    return true;
}

bool dnOfLoginName(std::string_view name, std::string_view tree, std::string &dn)
{
    bool comma = false;
    for (std::size_t i = 0; i < name.size() && !comma; ++i) {
        if (name[i] == '\\')
            ++i;
        else
            comma = name[i] == ',';
    }
    if (!comma) {
        DirectoryName parsed;
        if (parseDirectoryName(name, tree, parsed) && parsed.kind == EntryKind::Object)
            return dnOfComponents(parsed.components, dn);
        // A single component without the top of the tree: "CN=Admin.O=Acme".
        std::string withTop = std::string(name) + ".[Root]";
        if (name.find('=') != std::string_view::npos && parseDirectoryName(withTop, tree, parsed) &&
            parsed.kind == EntryKind::Object)
            return dnOfComponents(parsed.components, dn);
    }
    ParsedDn parsedDn;
    if (name.empty() || !parse(name, parsedDn))
        return false;
    return write(parsedDn.get(), dn, LDAP_DN_PRETTY);
}

bool dnKey(std::string_view dn, std::string &key)
{
    key.clear();
    ParsedDn parsed;
    if (!parse(dn, parsed))
        return false;
    if (!write(parsed.get(), key, 0))
        return false;
    for (char &c : key)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return true;
}

bool isWithinBase(std::string_view key, std::string_view base)
{
    if (base.empty() || key == base)
        return true;
    return key.size() > base.size() + 1 && key.substr(key.size() - base.size()) == base &&
           key[key.size() - base.size() - 1] == ',';
}

std::string parentDnKey(std::string_view key)
{
    const std::size_t comma = key.find(',');
    return comma == std::string_view::npos ? std::string() : std::string(key.substr(comma + 1));
}

} // namespace smsemu
