// User and group names of this machine, looked up once per id and kept: a
// backup of many files asks for the same few owners again and again.
#pragma once

#include <sys/types.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace smsemu {

class OwnerNames {
public:
    // The name of a uid / gid; "" when it has none.
    std::string userName(uid_t uid);
    std::string groupName(gid_t gid);
    // The id of a name on this machine, if the name exists (also kept: a
    // restore of many files asks for the same few names again and again).
    std::optional<uid_t> userId(std::string_view name);
    std::optional<gid_t> groupId(std::string_view name);

private:
    std::mutex mutex_;
    std::map<uid_t, std::string> users_;
    std::map<gid_t, std::string> groups_;
    std::map<std::string, std::optional<uid_t>, std::less<>> userIds_;
    std::map<std::string, std::optional<gid_t>, std::less<>> groupIds_;
};

} // namespace smsemu
