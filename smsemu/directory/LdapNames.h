// Typed names of the directory TSA and the distinguished names of an LDAP
// server, both ways, with the LDAP library's DN parser and writer doing the
// LDAP side (ldap_str2dn, ldap_dn2str):
//
//   .CN=Admin.OU=Staff.O=Acme.[Root]   <->   cn=Admin,ou=Staff,o=Acme
//
// A typed name's components are the DN's RDNs, leaf first; the attribute
// types are written in capitals in typed names and in small letters in
// DNs (LDAP compares them ignoring case). Within a component:
//   - an unescaped '+' separates the values of a multi-valued RDN
//     ("CN=Ann+UID=ann"), the first unescaped '=' the type from its value;
//   - a backslash followed by two hexadecimal digits is that byte ("\00" a
//     NUL), before any other character it is that character ("\.", "\+",
//     "\=", "\\", "\#");
//   - a value that begins with an unescaped '#' is the hexadecimal form of a
//     BER value, as in a DN ("CN=#04024869"); a value that begins with a '#'
//     of its own is written "\#...".
// Names the server gives are written with '.', '+', '=', '\' and a leading
// '#' escaped, a NUL as "\00", and every other byte as it is (commas, UTF-8).
// A name that is no DN (an empty type or component, a type that is not an
// attribute type, a value that is not UTF-8) is refused, never guessed at.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace smsemu {

// The DN of a typed name's components (leaf first, as written); false when
// they do not make a DN. No components: the empty DN.
bool dnOfComponents(const std::vector<std::string_view> &components, std::string &dn);

// The typed components of a DN, leaf first; false when it does not parse.
bool componentsOfDn(std::string_view dn, std::vector<std::string> &components);

// The DN of a login name or of an object's typed name: a typed name
// (".CN=Admin.O=Acme.[Root]", "CN=Admin.O=Acme") or a DN ("cn=Admin,o=Acme":
// a name with an unescaped ',' is read as a DN). False when it is neither.
bool dnOfLoginName(std::string_view name, std::string_view tree, std::string &dn);

// A DN as names are compared: normalised by the library, ASCII letters in
// small letters. Empty for the empty DN; false when it does not parse.
bool dnKey(std::string_view dn, std::string &key);

// Whether the DN of `key` is `base` or lies below it (both keys).
bool isWithinBase(std::string_view key, std::string_view base);

// The key of the container of a DN key ("" for a single RDN).
std::string parentDnKey(std::string_view key);

} // namespace smsemu
