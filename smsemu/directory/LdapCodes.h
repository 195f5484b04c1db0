// The SMS code of an LDAP server's answer, by its meaning and the step that
// got it. The table is in the stand-in's README ("The directory TSA over an
// LDAP server").
#pragma once

#include "SMSAPI.h"

namespace smsemu {

// The target service's "Transport failure": the server cannot be reached.
inline constexpr CCODE kTransportFailure = 0xFFFDFFBCu;
// "Server not ready": the server is busy or unavailable for now.
inline constexpr CCODE kServerNotReady = 0xFFFDFFD4u;

enum class LdapStep { Login, Scan, Backup, Restore, Delete };

CCODE smsCodeOf(int ldapCode, LdapStep step);

} // namespace smsemu
