// Reading SYSFAULTS and answering which call fails how.
#include "FaultPlan.h"

#include <cerrno>
#include <charconv>

namespace sysfaults {

namespace {

struct ErrnoName {
    const char *name;
    int value;
};

// The errors a file-system call can meet, and a few more a test may want.
constexpr ErrnoName c_Errnos[] = {
    {"EPERM", EPERM},
    {"ENOENT", ENOENT},
    {"EINTR", EINTR},
    {"EIO", EIO},
    {"ENXIO", ENXIO},
    {"E2BIG", E2BIG},
    {"EBADF", EBADF},
    {"EAGAIN", EAGAIN},
    {"ENOMEM", ENOMEM},
    {"EACCES", EACCES},
    {"EFAULT", EFAULT},
    {"EBUSY", EBUSY},
    {"EEXIST", EEXIST},
    {"EXDEV", EXDEV},
    {"ENODEV", ENODEV},
    {"ENOTDIR", ENOTDIR},
    {"EISDIR", EISDIR},
    {"EINVAL", EINVAL},
    {"ENFILE", ENFILE},
    {"EMFILE", EMFILE},
    {"ETXTBSY", ETXTBSY},
    {"EFBIG", EFBIG},
    {"ENOSPC", ENOSPC},
    {"ESPIPE", ESPIPE},
    {"EROFS", EROFS},
    {"EMLINK", EMLINK},
    {"EPIPE", EPIPE},
    {"ERANGE", ERANGE},
    {"ENAMETOOLONG", ENAMETOOLONG},
    {"ENOSYS", ENOSYS},
    {"ENOTEMPTY", ENOTEMPTY},
    {"ELOOP", ELOOP},
    {"ENODATA", ENODATA},
    {"EOVERFLOW", EOVERFLOW},
    {"EOPNOTSUPP", EOPNOTSUPP},
    {"ENOTSUP", ENOTSUP},
    {"ESTALE", ESTALE},
    {"EDQUOT", EDQUOT},
    {"ECANCELED", ECANCELED},
    {"EWOULDBLOCK", EWOULDBLOCK},
};

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::optional<unsigned long> number(std::string_view text)
{
    unsigned long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

std::optional<int> errnoByName(std::string_view name)
{
    for (const ErrnoName &known : c_Errnos)
        if (name == known.name)
            return known.value;
    if (const auto value = number(name); value && *value > 0 && *value < 4096)
        return static_cast<int>(*value);
    return std::nullopt;
}

std::string errnoName(int error)
{
    for (const ErrnoName &known : c_Errnos)
        if (known.value == error)
            return known.name;
    return std::to_string(error);
}

bool FaultPlan::parse(std::string_view setting, std::string &problem)
{
    rules_ = {};
    std::array<std::vector<Rule>, kCallCount> rules{};
    while (!setting.empty()) {
        const size_t comma = setting.find(',');
        const std::string_view entry = trim(setting.substr(0, comma));
        setting = comma == std::string_view::npos ? std::string_view() : setting.substr(comma + 1);
        if (entry.empty())
            continue;
        const size_t at = entry.find('@');
        const size_t eq = entry.find('=');
        if (at == std::string_view::npos || eq == std::string_view::npos || eq < at) {
            problem = "\"" + std::string(entry) + "\": expected call@N=ERRNO, call@N+=ERRNO or call@*=ERRNO";
            return false;
        }
        const std::string_view name = trim(entry.substr(0, at));
        std::string_view count = trim(entry.substr(at + 1, eq - at - 1));
        const std::string_view result = trim(entry.substr(eq + 1));
        const std::optional<Call> call = findCall(name);
        if (!call) {
            problem = "\"" + std::string(entry) + "\": the seam has no call \"" + std::string(name) + "\"";
            return false;
        }
        Rule rule;
        if (count == "*") {
            rule.first = 1;
            rule.onwards = true;
        } else {
            if (!count.empty() && count.back() == '+') {
                rule.onwards = true;
                count.remove_suffix(1);
            }
            const std::optional<unsigned long> first = number(count);
            if (!first || *first == 0) {
                problem = "\"" + std::string(entry) + "\": the count is a number from 1, N+ or *";
                return false;
            }
            rule.first = *first;
        }
        if (result == "SHORT") {
            rule.fault.shortTransfer = true;
        } else if (const std::optional<int> error = errnoByName(result)) {
            rule.fault.error = *error;
        } else {
            problem =
                "\"" + std::string(entry) + "\": \"" + std::string(result) + "\" is no errno (ENOSPC, EIO, 28, ...)";
            return false;
        }
        rules[static_cast<size_t>(*call)].push_back(rule);
    }
    rules_ = std::move(rules);
    return true;
}

bool FaultPlan::empty() const
{
    for (const auto &rules : rules_)
        if (!rules.empty())
            return false;
    return true;
}

std::optional<Fault> FaultPlan::faultFor(Call call, unsigned long count) const
{
    for (const Rule &rule : rules_[static_cast<size_t>(call)]) {
        if (count == rule.first)
            return rule.fault;
        if (!rule.onwards || count < rule.first)
            continue;
        // An interruption goes away when the call is made again.
        if (rule.fault.error == EINTR && (count - rule.first) % 2 != 0)
            continue;
        return rule.fault;
    }
    return std::nullopt;
}

bool pathSelected(std::string_view path, const std::vector<std::string> &prefixes)
{
    if (prefixes.empty())
        return true;
    for (std::string_view prefix : prefixes) {
        while (prefix.size() > 1 && prefix.back() == '/')
            prefix.remove_suffix(1);
        if (path.substr(0, prefix.size()) != prefix)
            continue;
        if (path.size() == prefix.size() || prefix == "/" || path[prefix.size()] == '/')
            return true;
    }
    return false;
}

std::vector<std::string> splitPaths(std::string_view setting)
{
    std::vector<std::string> prefixes;
    while (!setting.empty()) {
        const size_t colon = setting.find(':');
        const std::string_view prefix = setting.substr(0, colon);
        if (!prefix.empty())
            prefixes.emplace_back(prefix);
        setting = colon == std::string_view::npos ? std::string_view() : setting.substr(colon + 1);
    }
    return prefixes;
}

} // namespace sysfaults
