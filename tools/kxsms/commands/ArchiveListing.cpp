// Reading an archive from end to end for list and verify.
#include "commands/ArchiveListing.h"

#include <optional>

#include "commands/ArchiveSource.h"
#include "frame/CommandLine.h"
#include "frame/Signals.h"
#include "io/Text.h"

namespace kxsms {

const char *stateName(ArchiveReader::MemberState state)
{
    switch (state) {
    case ArchiveReader::MemberState::Damaged:
        return "damaged";
    case ArchiveReader::MemberState::Incomplete:
        return "incomplete";
    default:
        return "ok";
    }
}

const char *listingName(format::Listing listing)
{
    switch (listing) {
    case format::Listing::Unchanged:
        return "unchanged";
    case format::Listing::NotSaved:
        return "not saved";
    default:
        return "saved";
    }
}

bool reportUnused(const Selection &selection, const std::string &label, Progress &progress, NameStyle style)
{
    const std::vector<std::string> unused = selection.unused();
    for (const std::string &path : unused)
        progress.message(label + ": " + printable(path, style) + ": not found in the archive");
    return !unused.empty();
}

int readArchive(const std::string &path, Progress &progress, bool verifyData,
                const std::function<bool(const format::MemberDescriptor &, ArchiveReader &)> &onMember,
                const std::vector<std::string> &paths, const std::vector<std::string> &excludes,
                DataSetStream *headers)
{
    ArchiveSource archive(path, progress, verifyData);
    return readArchive(archive, progress, onMember, paths, excludes, headers);
}

int readArchive(ArchiveSource &archive, Progress &progress,
                const std::function<bool(const format::MemberDescriptor &, ArchiveReader &)> &onMember,
                const std::vector<std::string> &paths, const std::vector<std::string> &excludes, DataSetStream *headers)
{
    int status = c_ExitOk;
    try {
        if (!archive.isOpen() && !archive.open())
            return c_ExitStopped;
        ArchiveReader &reader = archive.reader();
        const auto type = static_cast<KXSMS_TSA_TYPE>(reader.tsaType());
        progress.showNamesAs(archive.names());
        std::optional<Selection> selection;
        if (!paths.empty() || !excludes.empty())
            selection.emplace(paths, excludes, type);
        format::MemberDescriptor member;
        bool going = true;
        while (going && !interrupted() && reader.nextMember(member)) {
            if (selection && !selection->takes(member.name))
                continue;
            progress.begin(member.name);
            if (headers != nullptr)
                headers->reset();
            const unsigned char *data = nullptr;
            size_t size = 0;
            while (!interrupted() && reader.readBlock(data, size)) {
                if (headers != nullptr && !headers->headerKnown())
                    headers->feed(data, size);
                progress.add(size);
            }
            if (interrupted())
                break;
            if (member.listing == format::Listing::Unchanged)
                progress.unchanged();
            else if (member.listing == format::Listing::NotSaved)
                progress.skipped();
            else if (reader.memberState() == ArchiveReader::MemberState::Intact) {
                progress.fileData(fileDataOf(member));
                progress.done();
            }
            else
                progress.failed();
            going = onMember(member, reader);
        }
        const bool missing = going && selection && reportUnused(*selection, archive.label(), progress, archive.names());
        if (archive.damaged() || missing)
            status = c_ExitSomeFailed;
    } catch (const Interrupted &) {
        // Reported below.
    } catch (const IoError &e) {
        progress.message(e.what());
        status = c_ExitStopped;
    }
    if (interrupted()) {
        progress.message(interruptText());
        return interruptedStatus();
    }
    return status;
}

} // namespace kxsms
