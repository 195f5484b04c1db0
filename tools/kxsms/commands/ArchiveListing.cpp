// Reading an archive from end to end for list and verify.
#include "commands/ArchiveListing.h"

#include <optional>

#include "archive/ArchiveFiles.h"
#include "frame/Signals.h"
#include "io/Text.h"

namespace kxsms {

const char *stateName(ArchiveReader::MemberState state)
{
    switch (state) {
    case ArchiveReader::MemberState::Damaged: return "damaged";
    case ArchiveReader::MemberState::Incomplete: return "incomplete";
    default: return "ok";
    }
}

const char *listingName(format::Listing listing)
{
    switch (listing) {
    case format::Listing::Unchanged: return "unchanged";
    case format::Listing::NotSaved: return "not saved";
    default: return "saved";
    }
}

bool reportUnused(const Selection &selection, const std::string &label, Progress &progress, NameStyle style)
{
    const std::vector<std::string> unused = selection.unused();
    for (const std::string &path : unused)
        progress.message(label + ": " + printable(path, style) + ": not found in the archive");
    return !unused.empty();
}

int readArchive(const Options &options, Progress &progress, bool verifyData,
                const std::function<bool(const format::MemberDescriptor &, ArchiveReader &)> &onMember,
                bool select)
{
    std::string error;
    const int fd = openArchiveForReading(options.archive, error);
    if (fd < 0) {
        progress.message(error);
        return c_ExitStopped;
    }
    const std::string label = archiveLabel(options.archive);
    uint64_t streamDamage = 0;
    NameStyle style = NameStyle::FileSystem; // the archive's, once its header is read
    int status = c_ExitOk;
    try {
        FdInput file(fd, &interrupted);
        ArchiveInput input(file, [&](const std::string &what) {
            ++streamDamage;
            progress.message(label + ": " + what);
        });
        ArchiveReader reader(
            input,
            [&](const ArchiveReader::Problem &problem) {
                if (problem.member.empty())
                    progress.message(label + ": " + problem.what);
                else
                    progress.message(label + ": member " + printable(problem.member, style) + ": " + problem.what);
            },
            verifyData);
        if (!reader.open()) {
            closeArchive(fd, error);
            return c_ExitStopped;
        }
        const auto type = static_cast<KXSMS_TSA_TYPE>(reader.tsaType());
        style = format::nameStyle(reader.tsaType());
        progress.showNamesAs(style);
        std::optional<Selection> selection;
        if (select && (!options.paths.empty() || !options.excludes.empty()))
            selection.emplace(options.paths, options.excludes, type);
        format::MemberDescriptor member;
        bool going = true;
        while (going && !interrupted() && reader.nextMember(member)) {
            if (selection && !selection->takes(member.name))
                continue;
            progress.begin(member.name);
            const unsigned char *data = nullptr;
            size_t size = 0;
            while (!interrupted() && reader.readBlock(data, size))
                progress.add(size);
            if (interrupted())
                break;
            if (member.listing == format::Listing::Unchanged)
                progress.unchanged();
            else if (member.listing == format::Listing::NotSaved)
                progress.skipped();
            else if (reader.memberState() == ArchiveReader::MemberState::Intact)
                progress.done();
            else
                progress.failed();
            going = onMember(member, reader);
        }
        const bool missing = going && selection && reportUnused(*selection, label, progress, style);
        if (reader.problems() > 0 || streamDamage > 0 || missing)
            status = c_ExitSomeFailed;
    } catch (const Interrupted &) {
        // Reported below.
    } catch (const IoError &e) {
        progress.message(e.what());
        status = c_ExitStopped;
    }
    closeArchive(fd, error);
    if (interrupted()) {
        progress.message(interruptText());
        return interruptedStatus();
    }
    return status;
}

} // namespace kxsms
