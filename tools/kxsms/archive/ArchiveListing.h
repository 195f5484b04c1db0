// list and verify share the reading of an archive with its problems reported.
#ifndef KXSMS_TOOLS_ARCHIVELISTING_H
#define KXSMS_TOOLS_ARCHIVELISTING_H

#include <functional>
#include <string>

#include "archive/ArchiveReader.h"
#include "Options.h"
#include "Progress.h"

namespace kxsms {

// Reads the whole archive of options.archive, calling onMember after each
// member has been read to its end (its state then known). Returns the exit
// status: 2 when the archive cannot be opened or is none, 1 when any problem
// was found, 0 otherwise.
int readArchive(const Options &options, Progress &progress, bool verifyData,
                const std::function<void(const format::MemberDescriptor &, ArchiveReader &)> &onMember);

// "ok", "damaged" or "incomplete".
const char *stateName(ArchiveReader::MemberState state);

} // namespace kxsms

#endif
