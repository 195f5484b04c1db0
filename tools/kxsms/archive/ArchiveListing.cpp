// Reading an archive from end to end for list and verify.
#include "archive/ArchiveListing.h"

#include "archive/ArchiveFiles.h"
#include "Text.h"

namespace kxsms {

const char *stateName(ArchiveReader::MemberState state)
{
    switch (state) {
    case ArchiveReader::MemberState::Damaged: return "damaged";
    case ArchiveReader::MemberState::Incomplete: return "incomplete";
    default: return "ok";
    }
}

int readArchive(const Options &options, Progress &progress, bool verifyData,
                const std::function<void(const format::MemberDescriptor &, ArchiveReader &)> &onMember)
{
    std::string error;
    const int fd = openArchiveForReading(options.archive, error);
    if (fd < 0) {
        progress.message(error);
        return c_ExitStopped;
    }
    const std::string label = archiveLabel(options.archive);
    uint64_t streamDamage = 0;
    int status = c_ExitOk;
    try {
        FdInput file(fd);
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
                    progress.message(label + ": member " + printable(problem.member) + ": " + problem.what);
            },
            verifyData);
        if (!reader.open()) {
            closeArchive(fd, error);
            return c_ExitStopped;
        }
        format::MemberDescriptor member;
        while (reader.nextMember(member)) {
            progress.begin(member.name);
            const unsigned char *data = nullptr;
            size_t size = 0;
            while (reader.readBlock(data, size))
                progress.add(size);
            if (reader.memberState() == ArchiveReader::MemberState::Intact)
                progress.done();
            else
                progress.failed();
            onMember(member, reader);
        }
        if (reader.problems() > 0 || streamDamage > 0)
            status = c_ExitSomeFailed;
    } catch (const IoError &e) {
        progress.message(e.what());
        status = c_ExitStopped;
    }
    closeArchive(fd, error);
    return status;
}

} // namespace kxsms
