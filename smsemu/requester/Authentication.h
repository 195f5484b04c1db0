// Login to a target service: the authentication block and the check of a user
// and password against a TSA's configuration. Passwords are never logged,
// traced or kept.
#pragma once

#include "requester/Config.h"
#include "SMSAPI.h"

#include <string>
#include <string_view>

namespace smsemu {

// The password of an authentication block: a UINT16 length (machine order),
// that many bytes, a terminator. The block is untrusted: a length over 4096,
// or one that runs past the block's terminator, is NWSMTS_INVALID_PARAMETER.
// Reading stops at the first zero byte, never beyond it.
CCODE readAuthentication(const void *block, std::string_view &password);

// The name of the user the process runs as (effective user), or "".
std::string processUserName();

// 0, or NWSMTS_LOGIN_DENIED for a wrong user or password.
CCODE checkLogin(const TsaConfig &tsa, std::string_view user, std::string_view password);

} // namespace smsemu
