#include "OwnerNames.h"

#include <grp.h>
#include <pwd.h>

#include <vector>

namespace smsemu {
namespace {

constexpr std::size_t kLookupBuffer = 16 * 1024;

} // namespace

std::string OwnerNames::userName(uid_t uid)
{
    std::lock_guard lock(mutex_);
    auto found = users_.find(uid);
    if (found != users_.end())
        return found->second;
    std::vector<char> buffer(kLookupBuffer);
    passwd entry{};
    passwd *result = nullptr;
    std::string name;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr)
        name = result->pw_name;
    users_.emplace(uid, name);
    return name;
}

std::string OwnerNames::groupName(gid_t gid)
{
    std::lock_guard lock(mutex_);
    auto found = groups_.find(gid);
    if (found != groups_.end())
        return found->second;
    std::vector<char> buffer(kLookupBuffer);
    group entry{};
    group *result = nullptr;
    std::string name;
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr)
        name = result->gr_name;
    groups_.emplace(gid, name);
    return name;
}

std::optional<uid_t> OwnerNames::userId(std::string_view name)
{
    if (name.empty())
        return std::nullopt;
    std::string text(name);
    std::vector<char> buffer(kLookupBuffer);
    passwd entry{};
    passwd *result = nullptr;
    if (getpwnam_r(text.c_str(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr)
        return result->pw_uid;
    return std::nullopt;
}

std::optional<gid_t> OwnerNames::groupId(std::string_view name)
{
    if (name.empty())
        return std::nullopt;
    std::string text(name);
    std::vector<char> buffer(kLookupBuffer);
    group entry{};
    group *result = nullptr;
    if (getgrnam_r(text.c_str(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr)
        return result->gr_gid;
    return std::nullopt;
}

} // namespace smsemu
