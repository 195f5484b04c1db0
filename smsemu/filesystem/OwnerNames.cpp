#include "filesystem/OwnerNames.h"

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
    std::lock_guard lock(mutex_);
    if (auto found = userIds_.find(name); found != userIds_.end())
        return found->second;
    std::string text(name);
    std::vector<char> buffer(kLookupBuffer);
    passwd entry{};
    passwd *result = nullptr;
    std::optional<uid_t> id;
    if (getpwnam_r(text.c_str(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr)
        id = result->pw_uid;
    userIds_.emplace(std::move(text), id);
    return id;
}

std::optional<gid_t> OwnerNames::groupId(std::string_view name)
{
    if (name.empty())
        return std::nullopt;
    std::lock_guard lock(mutex_);
    if (auto found = groupIds_.find(name); found != groupIds_.end())
        return found->second;
    std::string text(name);
    std::vector<char> buffer(kLookupBuffer);
    group entry{};
    group *result = nullptr;
    std::optional<gid_t> id;
    if (getgrnam_r(text.c_str(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr)
        id = result->gr_gid;
    groupIds_.emplace(std::move(text), id);
    return id;
}

} // namespace smsemu
