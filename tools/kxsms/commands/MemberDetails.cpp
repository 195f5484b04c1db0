#include "commands/MemberDetails.h"

#include <fmt/format.h>

namespace kxsms {

std::optional<MemberDetails> detailsOf(const format::MemberDescriptor &member, const DataSetStream &stream)
{
    MemberDetails details;
    if (member.listing == format::Listing::Saved && stream.headerKnown()) {
        details.header = stream.header();
        details.fromStream = true;
        return details;
    }
    const format::Identity &id = member.identity;
    if (!id.exact)
        return std::nullopt;
    DataSetHeader &h = details.header;
    h.kind = static_cast<DataSetKind>(id.kind);
    h.mode = id.mode;
    h.uid = id.uid;
    h.gid = id.gid;
    h.size = id.size;
    h.mtimeSeconds = id.mtimeSeconds;
    h.mtimeNanoseconds = id.mtimeNanoseconds;
    return details;
}

std::string modeText(DataSetKind kind, uint32_t mode)
{
    std::string text(10, '-');
    text[0] = kindLetter(kind);
    const char *letters = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (mode & (0400u >> i))
            text[static_cast<size_t>(i) + 1] = letters[i];
    auto special = [&](size_t at, uint32_t bit, char set) {
        if (mode & bit)
            text[at] = text[at] == 'x' ? set : static_cast<char>(set - 'a' + 'A');
    };
    special(3, 04000, 's');
    special(6, 02000, 's');
    special(9, 01000, 't');
    return text;
}

std::string detailLine(const MemberDetails &details, const format::MemberDescriptor &member, NameStyle style,
                       bool fullTime)
{
    const DataSetHeader &h = details.header;
    const std::string owner = (h.user.empty() ? std::to_string(h.uid) : printable(h.user, NameStyle::FileSystem)) +
                              "/" + (h.group.empty() ? std::to_string(h.gid) : printable(h.group, NameStyle::FileSystem));
    const std::string size = h.kind == DataSetKind::CharDevice || h.kind == DataSetKind::BlockDevice
                                 ? fmt::format("{},{}", h.deviceMajor, h.deviceMinor)
                                 : std::to_string(h.kind == DataSetKind::File ? h.size : 0);
    std::string time = formatTime(h.mtimeSeconds);
    if (fullTime)
        time += fmt::format(".{:09}", h.mtimeNanoseconds);
    std::string line = fmt::format("{} {:<15} {:>10} {} {}", modeText(h.kind, h.mode), owner, size, time,
                                   printable(member.name, style));
    if (details.fromStream && h.kind == DataSetKind::Symlink)
        line += " -> " + printable(h.target, NameStyle::FileSystem);
    else if (details.fromStream && h.kind == DataSetKind::HardLink)
        line += " link to " + printable(h.target, style);
    return line;
}

void addDetails(nlohmann::json &element, const MemberDetails &details)
{
    const DataSetHeader &h = details.header;
    element["kind"] = std::string(1, kindLetter(h.kind));
    element["mode"] = h.mode;
    element["uid"] = h.uid;
    element["gid"] = h.gid;
    element["mtime_ns"] = h.mtimeSeconds * 1000000000 + static_cast<int64_t>(h.mtimeNanoseconds);
    if (!details.fromStream)
        return;
    element["user"] = h.user;
    element["group"] = h.group;
    if (h.kind == DataSetKind::Symlink)
        element["target"] = h.target;
    else if (h.kind == DataSetKind::HardLink)
        element["link"] = h.target;
}

} // namespace kxsms
