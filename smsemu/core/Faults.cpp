#include "core/Faults.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include <fmt/format.h>

namespace smsemu {
namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// A whole-string unsigned number: decimal, or hexadecimal after 0x/0X.
std::optional<unsigned long long> number(std::string_view s)
{
    if (s.empty() || s.size() > 20)
        return std::nullopt;
    std::string text(s);
    int base = 10;
    const char *begin = text.c_str();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        begin += 2;
    }
    if (*begin == '\0' || *begin == '-' || *begin == '+' || *begin == ' ')
        return std::nullopt;
    char *end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(begin, &end, base);
    if (errno != 0 || *end != '\0')
        return std::nullopt;
    return value;
}

} // namespace

void FaultPlan::clear()
{
    rules_ = {};
    connectionRules_ = {};
}

bool FaultPlan::parse(std::string_view setting, std::string &problem)
{
    clear();
    std::array<Rule, kFunctionCount> rules{};
    std::array<std::vector<std::pair<UINT32, Rule>>, kFunctionCount> connectionRules{};
    while (!setting.empty()) {
        std::size_t comma = setting.find(',');
        std::string_view entry = trim(setting.substr(0, comma));
        setting = comma == std::string_view::npos ? std::string_view() : setting.substr(comma + 1);
        if (entry.empty())
            continue;

        std::size_t at = entry.find('@');
        std::size_t eq = entry.find('=');
        if (at == std::string_view::npos || eq == std::string_view::npos || eq < at) {
            problem = fmt::format("\"{}\": expected Function@N=CODE or Function@*=CODE", entry);
            return false;
        }
        std::string_view name = trim(entry.substr(0, at));
        // Function#C: the calls on the connection with handle C only.
        std::optional<UINT32> connection;
        if (std::size_t hash = name.find('#'); hash != std::string_view::npos) {
            std::optional<unsigned long long> handle = number(trim(name.substr(hash + 1)));
            if (!handle || *handle == 0 || *handle > 0xFFFFFFFEull) {
                problem = fmt::format("\"{}\": the connection after '#' must be a handle from 1", entry);
                return false;
            }
            connection = static_cast<UINT32>(*handle);
            name = trim(name.substr(0, hash));
        }
        std::string_view count = trim(entry.substr(at + 1, eq - at - 1));
        std::string_view code = trim(entry.substr(eq + 1));

        std::optional<Fn> fn = findFunction(name);
        if (!fn) {
            problem = fmt::format("\"{}\": no SMS function is called \"{}\"", entry, name);
            return false;
        }
        if (!functionInfo(*fn).returnsCode) {
            problem = fmt::format("\"{}\": {} returns no completion code, so it cannot fail", entry, name);
            return false;
        }
        std::optional<unsigned long long> value = number(code);
        if (!value || *value == 0 || *value > 0xFFFFFFFFull) {
            problem = fmt::format("\"{}\": the code must be a non-zero 32-bit number", entry);
            return false;
        }
        Rule *aimed = &rules[static_cast<std::size_t>(*fn)];
        if (connection) {
            auto &forFunction = connectionRules[static_cast<std::size_t>(*fn)];
            auto found = std::find_if(forFunction.begin(), forFunction.end(),
                                      [&](const auto &each) { return each.first == *connection; });
            if (found == forFunction.end())
                found = forFunction.insert(forFunction.end(), {*connection, Rule{}});
            aimed = &found->second;
        }
        Rule &rule = *aimed;
        if (count == "*") {
            rule.every = static_cast<CCODE>(*value);
            continue;
        }
        std::optional<unsigned long long> n = number(count);
        if (!n || *n == 0 || *n > 0xFFFFFFFFull) {
            problem = fmt::format("\"{}\": the call number must be '*' or a number from 1", entry);
            return false;
        }
        rule.nth.emplace_back(static_cast<unsigned>(*n), static_cast<CCODE>(*value));
    }
    rules_ = std::move(rules);
    connectionRules_ = std::move(connectionRules);
    return true;
}

CCODE FaultPlan::codeOf(const Rule &rule, unsigned call)
{
    for (const auto &[n, code] : rule.nth)
        if (n == call)
            return code;
    return rule.every.value_or(0);
}

CCODE FaultPlan::faultFor(Fn fn, unsigned call) const
{
    return codeOf(rules_[static_cast<std::size_t>(fn)], call);
}

CCODE FaultPlan::faultFor(Fn fn, UINT32 handle, unsigned call) const
{
    for (const auto &[connection, rule] : connectionRules_[static_cast<std::size_t>(fn)])
        if (connection == handle)
            return codeOf(rule, call);
    return 0;
}

} // namespace smsemu
