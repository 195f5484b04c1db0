#include "directory/Ldif.h"

#include <ldap.h>
#include <ldif.h>

#include <strings.h>

namespace smsemu {
namespace {

void appendLine(std::string &out, const char *name, std::string_view value)
{
    char *line = ldif_put_wrap(LDIF_PUT_VALUE, name, value.data(), value.size(), LDIF_LINE_WIDTH_MAX);
    if (line == nullptr)
        throw std::bad_alloc();
    out += line;
    ber_memfree(line);
}

// The logical lines of a record: folded lines joined, comments left out.
std::vector<std::string> logicalLines(std::string_view text)
{
    std::vector<std::string> lines;
    bool comment = false;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!line.empty() && line.front() == ' ') {
            if (!comment && !lines.empty())
                lines.back().append(line.substr(1));
            continue;
        }
        comment = !line.empty() && line.front() == '#';
        if (!comment)
            lines.emplace_back(line);
    }
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

} // namespace

std::string ldifRecord(const std::string &dn, const std::vector<LdapAttribute> &attributes)
{
    std::string out;
    appendLine(out, "dn", dn);
    for (const LdapAttribute &attribute : attributes)
        for (const std::string &value : attribute.values)
            appendLine(out, attribute.name.c_str(), value);
    return out;
}

bool parseLdifRecord(std::string_view text, std::string &dn, std::vector<LdapAttribute> &attributes)
{
    dn.clear();
    attributes.clear();
    std::vector<std::string> lines = logicalLines(text);
    if (lines.empty())
        return false;
    bool first = true;
    for (std::string &line : lines) {
        std::size_t colon = line.find(':');
        // One record only; values from URLs are never fetched.
        if (line.empty() || colon == std::string::npos || colon == 0 ||
            (colon + 1 < line.size() && line[colon + 1] == '<'))
            return false;
        berval type{0, nullptr};
        berval value{0, nullptr};
        int allocated = 0;
        if (ldif_parse_line2(line.data(), &type, &value, &allocated) != 0)
            return false;
        std::string name(type.bv_val, type.bv_len);
        std::string bytes(value.bv_val != nullptr ? value.bv_val : "", value.bv_len);
        if (allocated != 0)
            ber_memfree(value.bv_val);
        if (first) {
            if (strcasecmp(name.c_str(), "dn") != 0)
                return false;
            dn = std::move(bytes);
            first = false;
            continue;
        }
        if (strcasecmp(name.c_str(), "dn") == 0)
            return false;
        LdapAttribute *into = nullptr;
        for (LdapAttribute &known : attributes)
            if (strcasecmp(known.name.c_str(), name.c_str()) == 0)
                into = &known;
        if (into == nullptr)
            into = &attributes.emplace_back(LdapAttribute{std::move(name), {}});
        into->values.push_back(std::move(bytes));
    }
    return !attributes.empty();
}

} // namespace smsemu
