// The commands that look at the data sets of the target: resources, ls,
// info.
#include <optional>
#include <vector>

#include <fmt/format.h>

#include "commands/BrowseCommands.h"
#include "commands/MemberDetails.h"
#include "commands/StreamHeader.h"
#include "frame/FailureText.h"
#include "frame/ModuleLog.h"
#include "frame/ModuleSession.h"
#include "frame/PathRules.h"
#include "frame/Results.h"
#include "io/Text.h"

namespace kxsms {

namespace {

const char *const c_LsExamples = R"(
Examples:
  kxsms ls /etc                  the data sets directly below /etc
  kxsms ls -rl /srv/data         the whole subtree with kind, size and time
  kxsms ls --full-time /etc      mode, owner and the exact modification times
  kxsms ls -r --json /srv | jq -r '.[].name'
)";
const char *const c_InfoExamples = R"(
Examples:
  kxsms info /etc/passwd
  kxsms --tsa dir info '[Root]' --json
)";

// A parent the scan stands on again reports what the TSA could not give of
// its contents; opening it tells why. The exit status it calls for, or
// nothing when it is a data set after all.
std::optional<int> contentsReport(ModuleSession &session, char *name, unsigned int &sequence,
                                  unsigned long long leftOut)
{
    CKXSMS &kx = session.kx();
    takeModuleLog();
    const unsigned int code = kx.BeginBackupNoScan(name, &sequence, false);
    if (code == 0) {
        kx.AbortBackup(&sequence);
        return std::nullopt;
    }
    const std::optional<SmsCause> cause = lastSmsCause(takeModuleLog());
    if (cause && cause->code == c_SmsOverflow && leftOut > 0)
        fmt::print(stderr, "kxsms: cannot list {} {} in {}: the names are longer than 1023 bytes\n", leftOut,
                   leftOut == 1 ? "entry" : "entries", printable(name, session.names()));
    else
        fmt::print(stderr, "kxsms: cannot list the contents of {}: {}\n", printable(name, session.names()),
                   describeFailure(session.text(code), cause));
    return session.fatal(code) ? c_ExitStopped : c_ExitSomeFailed;
}

nlohmann::json dataSetJson(std::string_view name, bool parent, bool archive, long created, long modified, long accessed,
                           unsigned long long size)
{
    nlohmann::json element = nameJson(name);
    element.update({{"parent", parent},
                    {"archive", archive},
                    {"created", created},
                    {"modified", modified},
                    {"accessed", accessed},
                    {"size", size}});
    return element;
}

// The exact kind, mode, owner and times of a data set, where the TSA's
// stream tells them (the file system's); the scan's times are in the SMS
// packed form, in two-second steps. atScan: the data set the scan of
// sequence stands on.
std::optional<MemberDetails> exactDetails(ModuleSession &session, const std::string &name, bool atScan,
                                          unsigned int &sequence, std::vector<unsigned char> &buffer)
{
    if (session.type() != KXSMS_TSA_FILE_SYSTEM)
        return std::nullopt;
    DataSetStream stream;
    DataSetHeader header;
    unsigned int ownSequence = 0;
    const unsigned int code =
        readStreamHeader(session.kx(), name, atScan, atScan ? sequence : ownSequence, false, buffer, stream, header);
    takeModuleLog();
    if (code != 0 || header.kind == DataSetKind::Unknown)
        return std::nullopt;
    return MemberDetails{header, true};
}

void addExactJson(nlohmann::json &element, const MemberDetails &exact)
{
    addDetails(element, exact);
    if (exact.header.hasChangeTime)
        element["ctime_ns"] =
            exact.header.ctimeSeconds * 1000000000 + static_cast<int64_t>(exact.header.ctimeNanoseconds);
}

} // namespace

ResourcesCommand::ResourcesCommand() : Command("resources", "list the resources of the target service") {}

void ResourcesCommand::define(OptionSet &options)
{
    options.examples("\nExamples:\n  kxsms resources\n  kxsms --tsa gw resources\n");
}

int ResourcesCommand::run(const GlobalOptions &globals)
{
    std::unique_ptr<ModuleSession> session = ModuleSession::open(globals, globals.tsa);
    if (!session)
        return c_ExitStopped;
    std::vector<std::string> names;
    if (session->kx().GetTSAResources(names) != 0) {
        fmt::print(stderr, "kxsms: cannot list the resources of the target service\n");
        return c_ExitStopped;
    }
    bufferResults();
    for (const std::string &name : names)
        writeLine(printable(name, session->names()));
    return flushResults() ? c_ExitOk : c_ExitStopped;
}

LsCommand::LsCommand() : Command("ls", "list the data sets below PATH (default: the TSA's root)") {}

void LsCommand::define(OptionSet &options)
{
    options.value("PATH", options_.path, "where to start");
    options.flag("-r,--recursive", options_.recursive, "the whole subtree, PATH itself first");
    options.flag("-l,--long", options_.longFormat, "kind, size and modification time before each name");
    options.flag("--full-time", options_.fullTime,
                 "the long form with mode, owner and the exact modification time (to the nanosecond) where the "
                 "TSA gives it; with --json, those fields added");
    options.flag("--json", options_.json, "a JSON array of objects");
    options.examples(c_LsExamples);
}

void LsCommand::takeLocalNames(const GlobalOptions &globals, std::string_view cwd)
{
    takeLocalPath(options_.path, cwd, globals.tsa);
}

int LsCommand::run(const GlobalOptions &globals)
{
    const LsOptions &options = options_;
    std::unique_ptr<ModuleSession> session = ModuleSession::open(globals, globals.tsa);
    if (!session)
        return c_ExitStopped;
    CKXSMS &kx = session->kx();
    const NameStyle style = session->names();
    kx.SetScanStartTime(time(nullptr));
    kx.SetScanTraverse(options.recursive);
    bufferResults();

    // Only what is shown is asked for: a plain listing needs the names alone.
    const bool details = options.longFormat || options.fullTime || options.json;
    std::vector<unsigned char> buffer(options.fullTime ? KXSMS_MAX_BLOCK : 0);
    std::optional<JsonArray> json;
    if (options.json)
        json.emplace();
    std::string path = options.path;
    char name[KXSMS_NAME_BUFFER + 8];
    unsigned int sequence = 0;
    uint64_t shown = 0;
    std::string last; // the name shown last
    int status = c_ExitOk;
    // One line of the listing, or one element of the JSON array.
    const auto show = [&](const char *entry, bool isParent, bool isArchive, long createdAt, long modifiedAt,
                          long accessedAt, unsigned long long bytes, const std::optional<MemberDetails> &exact) {
        if (json) {
            nlohmann::json element = dataSetJson(entry, isParent, isArchive, createdAt, modifiedAt, accessedAt, bytes);
            if (exact)
                addExactJson(element, *exact);
            json->add(element);
        } else if (exact) {
            format::MemberDescriptor member;
            member.name = entry;
            writeLine(detailLine(*exact, member, style, true));
        } else if (options.fullTime && session->type() == KXSMS_TSA_FILE_SYSTEM) {
            // Not opened (no access, gone): the columns kept, what is not
            // known as ?, the scan's time without a fraction.
            writeLine(fmt::format("{}????????? {:<15} {:>10} {} {}", isParent ? 'd' : '-', "?", bytes,
                                  formatTime(modifiedAt), printable(entry, style)));
        } else if (options.longFormat || options.fullTime) {
            writeLine(longLine(isParent, bytes, modifiedAt, entry, style));
        } else {
            writeLine(printable(entry, style));
        }
    };
    for (;;) {
        bool parent = false, archive = false, end = false;
        long created = 0, modified = 0, accessed = 0;
        unsigned long long size = 0;
        const unsigned int code =
            kx.Scan(path.data(), &sequence, name, sizeof name, nullptr, 0, &parent, options.json ? &archive : nullptr,
                    options.json ? &created : nullptr, details ? &modified : nullptr,
                    options.json ? &accessed : nullptr, &size, &end);
        if (code != 0) {
            status = std::max(status, session->failureStatus(
                                          "cannot list " + printable(path.empty() ? "the root" : path, style), code));
            if (status == c_ExitStopped || sequence == 0)
                break;
            continue;
        }
        if (end || readerGone()) {
            if (!end)
                kx.AbortScan(&sequence);
            break;
        }
        // The start of a one-level listing is not shown, yet may be reported on.
        const std::string_view earlier =
            shown > 0 || options.recursive ? std::string_view(last) : std::string_view(path);
        if (parent && reportsOn(name, earlier)) {
            if (const std::optional<int> reported = contentsReport(*session, name, sequence, size)) {
                status = std::max(status, *reported);
                if (status == c_ExitStopped)
                    break;
                continue;
            }
        }
        last = name;
        ++shown;
        std::optional<MemberDetails> exact;
        if (options.fullTime)
            exact = exactDetails(*session, last, true, sequence, buffer);
        show(name, parent, archive, created, modified, accessed, size, exact);
    }

    // A one-level listing of a data set that is no parent shows the data set itself.
    if (shown == 0 && status == c_ExitOk && !options.recursive && !path.empty()) {
        bool parent = true, archive = false;
        long modified = 0, accessed = 0;
        unsigned long long size = 0;
        if (kx.ScanDataSetInfo(path.data(), name, sizeof name, nullptr, 0, &parent, &archive, &modified, &accessed,
                               &size) == 0 &&
            !parent) {
            std::optional<MemberDetails> exact;
            if (options.fullTime)
                exact = exactDetails(*session, path, false, sequence, buffer);
            show(name, parent, archive, modified, modified, accessed, size, exact);
        }
    }
    json.reset();
    if (!flushResults()) {
        fmt::print(stderr, "kxsms: cannot write the listing\n");
        return c_ExitStopped;
    }
    return status;
}

InfoCommand::InfoCommand() : Command("info", "show what the TSA reports of one data set") {}

void InfoCommand::define(OptionSet &options)
{
    options.value("PATH", options_.path, "the data set").required();
    options.flag("--json", options_.json, "a JSON object");
    options.examples(c_InfoExamples);
}

void InfoCommand::takeLocalNames(const GlobalOptions &globals, std::string_view cwd)
{
    takeLocalPath(options_.path, cwd, globals.tsa);
}

int InfoCommand::run(const GlobalOptions &globals)
{
    const InfoOptions &options = options_;
    std::unique_ptr<ModuleSession> session = ModuleSession::open(globals, globals.tsa);
    if (!session)
        return c_ExitStopped;
    CKXSMS &kx = session->kx();
    kx.SetScanStartTime(time(nullptr));
    std::string path = options.path;
    char name[KXSMS_NAME_BUFFER + 8];
    char child[KXSMS_NAME_BUFFER];
    bool parent = false, archive = false;
    long modified = 0, accessed = 0;
    unsigned long long size = 0;
    const unsigned int code = kx.ScanDataSetInfo(path.data(), name, sizeof name, child, sizeof child, &parent, &archive,
                                                 &modified, &accessed, &size);
    if (code != 0)
        return session->failureStatus("cannot look at " + printable(path, session->names()), code);

    // The exact times, mode and owner, where the TSA's stream tells them:
    // the scan's times are in the SMS packed form, in two-second steps.
    std::vector<unsigned char> buffer(KXSMS_MAX_BLOCK);
    unsigned int sequence = 0;
    const std::optional<MemberDetails> exact = exactDetails(*session, path, false, sequence, buffer);

    bufferResults();
    if (options.json) {
        nlohmann::json element = nameJson(name);
        nlohmann::json childName = nameJson(child);
        element["child"] = childName["name"];
        if (childName.contains("name_base64"))
            element["child_base64"] = childName["name_base64"];
        element.update(
            {{"parent", parent}, {"archive", archive}, {"modified", modified}, {"accessed", accessed}, {"size", size}});
        if (exact)
            addExactJson(element, *exact);
        writeJson(element);
    } else {
        writeLine("name:     " + printable(name, session->names()));
        writeLine("child:    " + printable(child, session->names()));
        writeLine(std::string("kind:     ") + (parent ? "parent" : "data set"));
        writeLine(fmt::format("size:     {}", size));
        if (exact) {
            const DataSetHeader &h = exact->header;
            writeLine("mode:     " + modeText(h.kind, h.mode));
            writeLine(fmt::format("owner:    {}/{} ({}/{})", printable(h.user, NameStyle::FileSystem),
                                  printable(h.group, NameStyle::FileSystem), h.uid, h.gid));
            writeLine(fmt::format("modified: {}.{:09}", formatTime(h.mtimeSeconds), h.mtimeNanoseconds));
            writeLine(fmt::format("accessed: {}.{:09}", formatTime(h.atimeSeconds), h.atimeNanoseconds));
            if (h.hasChangeTime)
                writeLine(fmt::format("changed:  {}.{:09}", formatTime(h.ctimeSeconds), h.ctimeNanoseconds));
        } else {
            writeLine("modified: " + formatTime(modified) + " (in two-second steps)");
            writeLine("accessed: " + formatTime(accessed) + " (in two-second steps)");
        }
        writeLine(std::string("archive:  ") + (archive ? "set (changed since its last backup)" : "clear"));
    }
    return flushResults() ? c_ExitOk : c_ExitStopped;
}

} // namespace kxsms
