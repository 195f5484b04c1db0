// The data of an LDAP entry's backup stream: one LDIF record (RFC 2849),
// its DN and its user attributes with every value in its exact bytes (those
// that are not printable text, such as photos and certificates, in base64),
// written and read with the OpenLDAP library's LDIF functions.
//
//   dn: cn=Admin,ou=Staff,o=Acme
//   objectClass: inetOrgPerson
//   cn: Admin
//   jpegPhoto:: /9j/4AAQSkZJRgABAQ...
//
// Lines are not folded. A record read back may fold its lines and carry
// comments; values given as URLs (":<") are refused: a restore never reads
// files named by its stream.
#pragma once

#include "directory/LdapSession.h"

#include <string>
#include <string_view>
#include <vector>

namespace smsemu {

std::string ldifRecord(const std::string &dn, const std::vector<LdapAttribute> &attributes);

// False when the text is not one such record (the same attribute written in
// several places is put together).
bool parseLdifRecord(std::string_view text, std::string &dn, std::vector<LdapAttribute> &attributes);

} // namespace smsemu
