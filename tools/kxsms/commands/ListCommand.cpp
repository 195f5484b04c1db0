// list: the members of an archive, as lines or as JSON; PATH... and
// --exclude select which.
#include <optional>

#include "frame/ArchiveSecrets.h"
#include "commands/ArchiveListing.h"
#include "commands/ListCommand.h"
#include "commands/MemberDetails.h"
#include "frame/Results.h"
#include "frame/Selection.h"
#include "io/Text.h"

namespace kxsms {

namespace {

const char *const c_ListExamples = R"(
Examples:
  kxsms list -f a.kxa
  kxsms list -f a.kxa /etc --exclude '*.conf'
  kxsms list -f a.kxa --json | jq -r '.[].name'
)";

} // namespace

ListCommand::ListCommand() : Command("list", "list the members of an archive") {}

void ListCommand::define(OptionSet &options)
{
    options.value("-f,--file", options_.archive, "the archive to read; - for standard input").required();
    options.values("PATH", options_.paths, "list only these members and what lies below them");
    options.values("--exclude", options_.excludes, "leave out this member or what matches this shell pattern");
    options.flag("--json", options_.json, "a JSON array of objects");
    options.flag("--full-time", options_.fullTime, "modification times to the nanosecond");
    defineReadingSecrets(options);
    options.examples(c_ListExamples);
}

int ListCommand::run(const GlobalOptions &)
{
    const ListOptions &options = options_;
    bufferResults();
    Progress progress("list", 0, false);
    std::optional<JsonArray> json;
    if (options.json)
        json.emplace();
    DataSetStream headers;
    auto onMember = [&](const format::MemberDescriptor &member, ArchiveReader &reader) {
        const char *state = stateName(reader.memberState());
        const std::optional<MemberDetails> details = detailsOf(member, headers);
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
            if (details)
                addDetails(element, *details);
            json->add(element);
        } else {
            const NameStyle style = format::nameStyle(reader.tsaType());
            std::string line = details ? detailLine(*details, member, style, options.fullTime)
                                       : longLine(member.parent, member.size, member.modified, member.name, style);
            if (member.listing != format::Listing::Saved)
                line += std::string("  [") + listingName(member.listing) + "]";
            if (reader.memberState() != ArchiveReader::MemberState::Intact)
                line += std::string("  [") + state + "]";
            writeLine(line);
        }
        return !readerGone();
    };
    const int status = readArchive(options.archive, progress, false, onMember, options.paths, options.excludes, &headers);
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
