// How each TSA type splits a data-set name into parent and child and joins
// them again. All return 0 or NWSMTS_INVALID_DATA_SET_NAME; lengths are the
// caller's to check.
#pragma once

#include "SMSAPI.h"

#include <string>
#include <string_view>

namespace smsemu {

// File system: POSIX paths. "/a/b/c" -> "/a/b" + "c"; "/a" -> "/" + "a";
// "/" has no parent. Trailing and doubled '/' are ignored; a name without
// '/' is a child with an empty parent.
CCODE separatePosixName(std::string_view name, std::string &parent, std::string &child);
// "/a" + "b" -> "/a/b"; "/" + "b" -> "/b"; "" + "b" -> "b".
CCODE joinPosixName(std::string_view parent, std::string_view child, std::string &joined);

// GroupWise: "RESOURCE:" then directories separated by '/'.
// "DOM1:dir/sub" -> "DOM1:dir" + "sub"; "DOM1:dir" -> "DOM1:" + "dir";
// "DOM1:" and names without ':' have no parent.
CCODE separateGroupWiseName(std::string_view name, std::string &parent, std::string &child);
// "DOM1:" + "dir" -> "DOM1:dir"; "DOM1:dir" + "x" -> "DOM1:dir/x".
CCODE joinGroupWiseName(std::string_view parent, std::string_view child, std::string &joined);

// Directory: distinguished names with a leading '.', leaf first, components
// separated by unescaped '.' (a backslash escapes the next character).
// ".CN=Admin.O=Acme.[Root]" -> ".O=Acme.[Root]" + ".CN=Admin"; the top of the
// tree (".[Root]", ".T=TREE") and single components have no parent.
CCODE separateDirectoryName(std::string_view name, std::string &parent, std::string &child);
// ".O=Acme.[Root]" + "CN=Admin" (or ".CN=Admin") -> ".CN=Admin.O=Acme.[Root]".
CCODE joinDirectoryName(std::string_view parent, std::string_view child, std::string &joined);

} // namespace smsemu
