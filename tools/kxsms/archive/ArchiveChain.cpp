// The checks that archives given together belong to one chain.
#include "archive/ArchiveChain.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "archive/DataSetStream.h"
#include "io/Text.h"

namespace kxsms {

namespace {

std::vector<std::string> sorted(std::vector<std::string> texts)
{
    std::sort(texts.begin(), texts.end());
    return texts;
}

std::string joined(const std::vector<std::string> &texts, NameStyle style)
{
    std::string line;
    for (const std::string &text : texts)
        line += (line.empty() ? "" : ", ") + printable(text, style);
    return line.empty() ? "nothing" : line;
}

bool isFileOrLink(uint8_t kind)
{
    return kind == static_cast<uint8_t>(DataSetKind::File) || kind == static_cast<uint8_t>(DataSetKind::HardLink);
}

} // namespace

std::optional<std::string> chainRefusal(const std::vector<ChainLink> &links)
{
    if (links.size() < 2)
        return std::nullopt;
    const std::string tail = ": the archives are not one chain (a full backup, then the incremental backups after "
                             "it, oldest first)";
    for (const ChainLink &link : links) {
        if (!link.headerIntact)
            return link.label + ": its header is damaged, so it cannot be placed in a chain";
        if (link.header.version < 2)
            return link.label + ": archive format version " + std::to_string(link.header.version) +
                   " does not list what a backup passed over, so it cannot be part of a chain";
        if (!link.recordIntact)
            return link.label + ": its backup record is damaged, so it cannot be placed in a chain";
        if ((link.header.flags & format::c_HeaderPartial) != 0)
            return link.label + ": a backup with --since lists only what it saved, so it cannot be part of a chain";
    }
    const ChainLink &first = links.front();
    const std::vector<std::string> firstPaths = sorted(first.record.paths);
    for (size_t i = 1; i < links.size(); ++i) {
        const ChainLink &link = links[i];
        const ChainLink &before = links[i - 1];
        if (link.header.tsaType != first.header.tsaType)
            return link.label + " holds data of the " + format::tsaName(link.header.tsaType) + " TSA, " + first.label +
                   " of the " + format::tsaName(first.header.tsaType) + " TSA" + tail;
        if (sorted(link.record.paths) != firstPaths)
            return link.label + " backs up " + joined(link.record.paths, format::nameStyle(link.header.tsaType)) +
                   ", " + first.label + " backs up " +
                   joined(first.record.paths, format::nameStyle(first.header.tsaType)) + tail;
        if (link.header.archiveId == before.header.archiveId)
            return link.label + " and " + before.label + " are the same archive" + tail;
        if (link.record.startedNanoseconds <= before.record.startedNanoseconds)
            return link.label + " was started before " + before.label + tail;
    }
    return std::nullopt;
}

std::optional<std::string> chainGap(const std::vector<ChainLink> &links)
{
    for (size_t i = 1; i < links.size(); ++i) {
        const format::BackupRecord &record = links[i].record;
        if ((links[i].header.flags & format::c_HeaderIncremental) == 0 || record.followsId == 0)
            continue;
        const bool met = std::any_of(links.begin(), links.begin() + static_cast<std::ptrdiff_t>(i),
                                     [&](const ChainLink &link) { return link.header.archiveId == record.followsId; });
        if (!met) {
            char id[24];
            std::snprintf(id, sizeof id, "%016" PRIx64, record.followsId);
            return links[i].label + " follows archive " + id + " made at " +
                   formatTime(record.followsStartedNanoseconds / 1000000000) + ", which is not in the chain";
        }
    }
    return std::nullopt;
}

bool sameVersion(const format::Identity &listed, const format::Identity &saved)
{
    // The scan's word alone (a TSA whose streams kxsms does not read) says
    // too little to tell versions apart.
    if (!listed.exact || !saved.exact)
        return true;
    // A name of an inode with several names is a hard link in the stream
    // when the backup saved the inode's data under another name first, else
    // a file; which it is depends on what else that backup saved (an
    // incremental backup that only lists the inode's names saves none of
    // them). Both carry the inode's mode, owner and times; only a file's
    // stream gives its size.
    const bool fileOrLink = isFileOrLink(listed.kind) && isFileOrLink(saved.kind);
    if (listed.kind != saved.kind && !fileOrLink)
        return false;
    if (listed.kind == saved.kind && listed.size != saved.size)
        return false;
    if (listed.mode != saved.mode ||
        listed.uid != saved.uid || listed.gid != saved.gid || listed.mtimeSeconds != saved.mtimeSeconds ||
        listed.mtimeNanoseconds != saved.mtimeNanoseconds)
        return false;
    return !listed.hasChangeTime || !saved.hasChangeTime ||
           (listed.ctimeSeconds == saved.ctimeSeconds && listed.ctimeNanoseconds == saved.ctimeNanoseconds);
}

} // namespace kxsms
