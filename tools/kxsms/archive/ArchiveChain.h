// Whether archives given together form one chain: a full backup and the
// incremental backups after it, of the same paths on the same TSA, each
// started after the one before. Only such a chain can be restored as one
// tree, with what the newest archive no longer lists removed.
#ifndef KXSMS_TOOLS_ARCHIVECHAIN_H
#define KXSMS_TOOLS_ARCHIVECHAIN_H

#include <optional>
#include <string>
#include <vector>

#include "archive/Format.h"

namespace kxsms {

// What the chain check looks at in one archive, as its reader found it.
struct ChainLink {
    std::string label; // how the archive is named in messages
    format::ArchiveHeader header;
    bool headerIntact = false;
    bool recordIntact = false;
    format::BackupRecord record;
};

// Why the archives, oldest first, are not one chain; nothing when they are.
// A single archive is always a chain of its own.
std::optional<std::string> chainRefusal(const std::vector<ChainLink> &links);

// Where the links of a chain (oldest first) do not meet: the first
// incremental archive that records the archive it follows (the last backup
// of its paths that cleared the archive flags) when that archive is not
// before it in the chain: "INC follows archive ID made at TIME, which is not
// in the chain". Nothing when every link meets, or records nothing.
std::optional<std::string> chainGap(const std::vector<ChainLink> &links);

// Whether an earlier archive's saved copy is the version a later archive
// lists as unchanged: kind, size, mode, owner, modification time to the
// nanosecond and, where both have it, the change time. A file and a hard
// link to it are one version when the inode's fields agree (a hard link's
// stream has no size). Only what both read
// from the stream's header is compared: archives before format 3 record
// nothing, and then any copy is taken, as they always were.
bool sameVersion(const format::Identity &listed, const format::Identity &saved);

} // namespace kxsms

#endif
