// list and verify share the reading of an archive with its problems reported.
#ifndef KXSMS_TOOLS_ARCHIVELISTING_H
#define KXSMS_TOOLS_ARCHIVELISTING_H

#include <functional>
#include <string>
#include <vector>

#include "archive/ArchiveReader.h"
#include "archive/DataSetStream.h"
#include "frame/Progress.h"
#include "frame/Selection.h"
#include "io/Text.h"

namespace kxsms {

class ArchiveSource;

// Reads the whole archive at path, calling onMember after each member (each
// that paths and excludes take, when any is given) has been read to its end
// (its state then known); onMember returns false to stop reading. Returns
// the exit status: 2 when the archive cannot be opened or is none, 1 when
// any problem was found (or a path given was not found), 0 otherwise,
// 128 + the signal's number when a signal stopped it. headers, when given,
// is fed each saved member's first blocks until its header is known.
int readArchive(const std::string &path, Progress &progress, bool verifyData,
                const std::function<bool(const format::MemberDescriptor &, ArchiveReader &)> &onMember,
                const std::vector<std::string> &paths = {}, const std::vector<std::string> &excludes = {},
                DataSetStream *headers = nullptr);
// The same of an archive given as a source; one not open yet is opened first.
int readArchive(ArchiveSource &archive, Progress &progress,
                const std::function<bool(const format::MemberDescriptor &, ArchiveReader &)> &onMember,
                const std::vector<std::string> &paths = {}, const std::vector<std::string> &excludes = {},
                DataSetStream *headers = nullptr);

// Reports each name of the selection that took no member; true when there was one.
bool reportUnused(const Selection &selection, const std::string &label, Progress &progress, NameStyle style);

// "ok", "damaged" or "incomplete".
const char *stateName(ArchiveReader::MemberState state);
// "saved", "unchanged" or "not saved".
const char *listingName(format::Listing listing);

} // namespace kxsms

#endif
