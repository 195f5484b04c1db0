#include "requester/Authentication.h"

#include <algorithm>
#include <cstring>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace smsemu {
namespace {

constexpr std::size_t kPasswordMax = 4096;

// Compares without stopping at the first difference.
bool sameSecret(std::string_view a, std::string_view b)
{
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    std::size_t n = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        diff |= static_cast<unsigned char>(x ^ y);
    }
    return diff == 0;
}

} // namespace

CCODE readAuthentication(const void *block, std::string_view &password)
{
    if (block == nullptr)
        return NWSMTS_INVALID_PARAMETER;
    UINT16 length = 0;
    std::memcpy(&length, block, sizeof length);
    if (length > kPasswordMax)
        return NWSMTS_INVALID_PARAMETER;
    const char *text = static_cast<const char *>(block) + sizeof length;
    for (std::size_t i = 0; i < length; ++i)
        if (text[i] == '\0')
            return NWSMTS_INVALID_PARAMETER; // the length runs past the terminator
    if (text[length] != '\0')
        return NWSMTS_INVALID_PARAMETER;
    password = std::string_view(text, length);
    return 0;
}

std::string processUserName()
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return std::string();
    return found->pw_name;
}

CCODE checkLogin(const TsaConfig &tsa, std::string_view user, std::string_view password)
{
    if (tsa.peerAuthentication) {
        std::string self = processUserName();
        return !self.empty() && user == self ? 0 : NWSMTS_LOGIN_DENIED;
    }
    auto found = tsa.users.find(std::string(user));
    if (found == tsa.users.end()) {
        // Same work as for a known user, so that timing does not tell them apart.
        (void)sameSecret(password, password);
        return NWSMTS_LOGIN_DENIED;
    }
    return sameSecret(found->second, password) ? 0 : NWSMTS_LOGIN_DENIED;
}

} // namespace smsemu
