// The name spaces of SMS: types 0-4 ("DOS", "MAC", "NFS", "FTAM",
// "OS2/LONG") and the same plus 256 with names in UTF-8.
#pragma once

#include "SMSAPI.h"

#include <optional>
#include <string_view>

namespace smsemu {

// The type of a name-space name (as the configuration writes it, ignoring
// case); none for an unknown name.
std::optional<UINT32> nameSpaceType(std::string_view name);

// The name of a type 0-4 or 256-260, or null.
const char *nameSpaceName(UINT32 type);

// Types 0-4 and 256-260.
bool isKnownNameSpace(UINT32 type);

// MAC (1 and 257): the only name spaces whose names use ':' as a separator.
bool isMacNameSpace(UINT32 type);

} // namespace smsemu
