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

} // namespace kxsms

#endif
