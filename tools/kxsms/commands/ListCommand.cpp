// list: the members of an archive, as lines or as JSON; PATH... and
// --exclude select which.
#include <optional>

#include "commands/ArchiveListing.h"
#include "commands/Commands.h"
#include "frame/Results.h"
#include "frame/Selection.h"
#include "io/Text.h"

namespace kxsms {

int runList(const Options &options)
{
    bufferResults();
    Progress progress("list", 0, false);
    std::optional<JsonArray> json;
    if (options.json)
        json.emplace();
    auto onMember = [&](const format::MemberDescriptor &member, ArchiveReader &reader) {
        const char *state = stateName(reader.memberState());
        if (json) {
            nlohmann::json element = nameJson(member.name);
            element.update({{"parent", member.parent},
                            {"archive", member.archive},
                            {"nameSpace", member.nameSpace},
                            {"created", member.created},
                            {"modified", member.modified},
                            {"accessed", member.accessed},
                            {"size", member.size},
                            {"sequence", member.sequence},
                            {"listing", listingName(member.listing)},
                            {"unchanged", member.listing == format::Listing::Unchanged},
                            {"state", state}});
            json->add(element);
        } else {
            std::string line = longLine(member.parent, member.size, member.modified, member.name, format::nameStyle(reader.tsaType()));
            if (member.listing != format::Listing::Saved)
                line += std::string("  [") + listingName(member.listing) + "]";
            if (reader.memberState() != ArchiveReader::MemberState::Intact)
                line += std::string("  [") + state + "]";
            writeLine(line);
        }
        return !readerGone();
    };
    const int status = readArchive(options, progress, false, onMember, true);
    json.reset();
    if (!flushResults()) {
        progress.message("cannot write the listing");
        return c_ExitStopped;
    }
    // A reader that went away ("| head") had what it wanted.
    if (readerGone() && status == c_ExitOk)
        return c_ExitOk;
    return status;
}

} // namespace kxsms
