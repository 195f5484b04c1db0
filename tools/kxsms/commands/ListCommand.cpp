// list: the members of an archive, as lines or as JSON.
#include <optional>

#include "archive/ArchiveListing.h"
#include "commands/Commands.h"
#include "Results.h"

namespace kxsms {

int runList(const Options &options)
{
    bufferResults();
    Progress progress("list", 0, false);
    std::optional<JsonArray> json;
    if (options.json)
        json.emplace();
    const int status = readArchive(options, progress, false, [&](const format::MemberDescriptor &member,
                                                                 ArchiveReader &reader) {
        const char *state = stateName(reader.memberState());
        if (json) {
            json->add({{"name", member.name},
                       {"parent", member.parent},
                       {"archive", member.archive},
                       {"nameSpace", member.nameSpace},
                       {"created", member.created},
                       {"modified", member.modified},
                       {"accessed", member.accessed},
                       {"size", member.size},
                       {"sequence", member.sequence},
                       {"state", state}});
        } else {
            std::string line = longLine(member.parent, member.size, member.modified, member.name);
            if (reader.memberState() != ArchiveReader::MemberState::Intact)
                line += std::string("  [") + state + "]";
            writeLine(line);
        }
    });
    json.reset();
    if (!flushResults()) {
        progress.message("cannot write the listing");
        return c_ExitStopped;
    }
    return status;
}

} // namespace kxsms
