// What list shows of a member beyond what the scan reported: kind, mode,
// owner, modification time to the nanosecond and link target, as tar -tv
// does. A saved member's come from its stream's header; one listed without
// data has those its archive recorded as its identity (format 3: no owner
// names, no link target); archives before format 3, and TSAs whose streams
// kxsms does not read, have none.
#ifndef KXSMS_TOOLS_MEMBERDETAILS_H
#define KXSMS_TOOLS_MEMBERDETAILS_H

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "archive/DataSetStream.h"
#include "archive/Format.h"
#include "io/Text.h"

namespace kxsms {

struct MemberDetails {
    DataSetHeader header;
    bool fromStream = false; // owner names and link target known
};

// stream: fed the member's first blocks (readArchive's headers).
std::optional<MemberDetails> detailsOf(const format::MemberDescriptor &member, const DataSetStream &stream);

// "drwxr-xr-x": the kind's letter and the permission bits, with s, S, t, T.
std::string modeText(DataSetKind kind, uint32_t mode);

// "KIND+MODE OWNER/GROUP SIZE DATE TIME NAME[ -> TARGET| link to FIRST]";
// fullTime: the time with its nanoseconds.
std::string detailLine(const MemberDetails &details, const format::MemberDescriptor &member, NameStyle style,
                       bool fullTime);

// Adds kind, mode, uid, gid, user, group, mtime_ns and target or link.
void addDetails(nlohmann::json &element, const MemberDetails &details);

} // namespace kxsms

#endif
