// The archive flag of a data set, emulated with the extended attribute
// "user.kxsms.archive". Clearing the flag records the state of the file as
// it was backed up: modification time (seconds and nanoseconds), size and
// inode number. The flag is set when the attribute is missing, unreadable or
// does not match the file's present state: a write (new mtime or size) or a
// replacement (new inode) sets it. Metadata-only changes (mode, owner) do not.
// Where the file system has no user extended attributes (and for symbolic
// links, which cannot carry them) the flag is always set and clearing it has
// no effect.
#pragma once

#include "filesystem/FsMeta.h"
#include "SMSAPI.h"

namespace smsemu {

inline constexpr const char *kArchiveAttribute = "user.kxsms.archive";

// Whether the flag of `leaf` under `directory` is set (one lgetxattr).
bool archiveFlagSet(int directory, const char *leaf, const FsMeta &meta);

// Clears the flag of the open data set `fd`, recording `backedUp`. No error
// where the file system cannot keep it; NWSMTS_SET_FILE_INFO_ERR otherwise.
CCODE clearArchiveFlag(int fd, const FsMeta &backedUp);

// Sets the flag again (removes the attribute).
CCODE setArchiveFlag(int fd);

} // namespace smsemu
