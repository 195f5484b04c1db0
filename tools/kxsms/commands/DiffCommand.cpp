// diff: what the archive (or a chain's newest archive, with the data of
// what it lists as unchanged from the earlier ones) holds, against the live
// tree. The archive is read first, each member's stream reduced to a
// DataSetState; then the backup's paths (or the PATHs given) are scanned and
// every data set the archive knows is read for backup and compared. A data
// set only the scan meets is new, one only the archive holds is missing.
#include <algorithm>
#include <cstring>
#include <optional>
#include <memory>
#include <unordered_map>

#include <fmt/format.h>

#include "KXSMSErr.h"
#include "archive/ArchiveChain.h"
#include "commands/ArchiveSource.h"
#include "commands/ChainCheck.h"
#include "commands/DataSetState.h"
#include "commands/DiffCommand.h"
#include "frame/ArchiveSecrets.h"
#include "frame/FailureText.h"
#include "frame/ModuleLog.h"
#include "frame/ModuleSession.h"
#include "frame/PathRules.h"
#include "frame/Progress.h"
#include "frame/Results.h"
#include "frame/Selection.h"
#include "frame/Signals.h"
#include "io/Text.h"

namespace kxsms {

namespace {

const char *const c_DiffExamples = R"(
Examples:
  kxsms diff -f a.kxa                          what changed since the backup
  kxsms diff -f full.kxa -f inc1.kxa /etc      the chain's newest view of /etc, against /etc
  kxsms diff -f a.kxa --json | jq '.[] | select(.change == "changed")'

Each line names one data set: "changed NAME: FIELDS" (content, kind, mode,
owner, size, modification time, link target), "missing NAME" (in the archive,
not here) or "new NAME" (here, not in the archive). Exit status 0 when the
tree is as the archive holds it, 1 when it differs, 2 when something could
not be compared.
)";

class Diff {
public:
    Diff(const DiffOptions &options, ModuleSession &session, Archives &archives, Progress &progress)
        : options_(options), session_(session), kx_(session.kx()), archives_(archives), progress_(progress),
          style_(session.names()), selection_(options.paths, {}, session.type()),
          excluded_({}, archives.back()->reader().backupRecord().excludes, session.type()),
          block_(KXSMS_MAX_BLOCK)
    {
        if (options.json)
            json_ = std::make_unique<JsonArray>(); // "[]" when nothing differs
    }

    // False when the job stopped.
    bool run()
    {
        readNewest();
        for (size_t i = archives_.size() - 1; i-- > 0 && pending_ > 0;)
            readEarlier(*archives_[i]);
        std::vector<std::string> paths = options_.paths;
        if (paths.empty())
            paths = archives_.back()->reader().backupRecord().paths;
        if (paths.empty()) {
            progress_.message(archives_.back()->label() + " does not say which paths it was made of; give the PATHs "
                                                          "to compare");
            return false;
        }
        kx_.SetScanTraverse(true);
        for (const std::string &path : independentPaths(paths, session_.type()))
            if (!scan(path))
                return false;
        // A PATH neither the archive nor the scan knows compares nothing: a mistake.
        for (const std::string &path : selection_.unused())
            if (std::find(metNothing_.begin(), metNothing_.end(), path) != metNothing_.end()) {
                progress_.message(printable(path, style_) + ": neither in " + archives_.back()->label() + " nor here");
                trouble_ = true;
            }
        std::vector<std::string> missing;
        for (const auto &[name, state] : archived_)
            missing.push_back(name);
        std::sort(missing.begin(), missing.end());
        for (const std::string &name : missing)
            report("missing", name, {});
        return true;
    }

    bool differs() const { return changes_ > 0; }
    bool trouble() const { return trouble_; }
    void finish() { json_.reset(); }
    uint64_t changes() const { return changes_; }

private:
    // The newest archive: what it holds, and what it lists without data.
    void readNewest()
    {
        ArchiveSource &newest = *archives_.back();
        format::MemberDescriptor member;
        while (!interrupted() && newest.reader().nextMember(member)) {
            if (!selection_.takes(member.name))
                continue;
            if (member.listing == format::Listing::Saved) {
                if (auto state = digestMember(member, newest))
                    archived_[member.name] = {*state, false};
            } else {
                archived_[member.name] = {DataSetState::listed(member), true};
                ++pending_;
            }
        }
    }

    // An earlier archive: the data of what the newest lists without data.
    void readEarlier(ArchiveSource &archive)
    {
        format::MemberDescriptor member;
        while (!interrupted() && pending_ > 0 && archive.reader().nextMember(member)) {
            const auto found = archived_.find(member.name);
            if (found == archived_.end() || !found->second.pending || member.listing != format::Listing::Saved)
                continue;
            if (auto state = digestMember(member, archive)) {
                found->second = {*state, false};
                --pending_;
            }
        }
    }

    std::optional<DataSetState> digestMember(const format::MemberDescriptor &member, ArchiveSource &archive)
    {
        digest_.begin(archive.reader().tsaType(), member.parent);
        const unsigned char *data = nullptr;
        size_t size = 0;
        while (archive.reader().readBlock(data, size))
            digest_.add(data, size);
        DataSetState state;
        if (archive.reader().memberState() != ArchiveReader::MemberState::Intact || !digest_.finish(state)) {
            progress_.message("cannot compare " + printable(member.name, style_) + ": its copy in " + archive.label() +
                              " is damaged");
            trouble_ = true;
            progress_.failed();
            return std::nullopt;
        }
        return state;
    }

    // Scans one path and compares what it meets; false when the job stopped.
    bool scan(std::string path)
    {
        unsigned int sequence = 0, failuresInRow = 0;
        std::string previous;
        for (;;) {
            if (interrupted())
                return false;
            bool parent = false, archive = false, end = false;
            long created = 0, modified = 0, accessed = 0;
            unsigned long long size = 0;
            takeModuleLog();
            const unsigned int code = kx_.Scan(path.data(), &sequence, name_, sizeof name_, nullptr, 0, &parent,
                                               &archive, &created, &modified, &accessed, &size, &end);
            if (code != 0) {
                // A path that is not there: what the archive holds below it is missing.
                if (sequence == 0 && previous.empty() && code == KXSMS_ERR_DATA_NOT_FOUND) {
                    metNothing_.push_back(path);
                    return true;
                }
                if (failed("cannot scan " + printable(path, style_), code))
                    return false;
                if (sequence == 0 || ++failuresInRow > 100) {
                    kx_.AbortScan(&sequence);
                    return true;
                }
                continue;
            }
            failuresInRow = 0;
            if (end)
                return true;
            const std::string name(name_, strnlen(name_, sizeof name_));
            if (parent && reportsOn(name, previous)) {
                // The TSA stands on a directory again to say what it could not give below it.
                const unsigned int why = kx_.BeginBackupNoScan(name_, &sequence, false);
                if (why == 0)
                    kx_.AbortBackup(&sequence);
                else if (why != KXSMS_ERR_EXCLUDED_BY_TSA && failed("cannot compare what " + printable(name, style_) +
                                                                        " holds", why))
                    return false;
                continue;
            }
            previous = name;
            if (excluded_.excluded(name))
                continue;
            const auto found = archived_.find(name);
            if (found == archived_.end()) {
                if (!parent && leftOutByTheTsa(sequence))
                    continue;
                report("new", name, {});
                continue;
            }
            const DataSetState before = found->second.state;
            archived_.erase(found);
            std::optional<DataSetState> now = readLive(name, parent, sequence);
            if (!now) {
                if (stop_)
                    return false;
                continue;
            }
            progress_.done();
            if (const auto fields = differences(before, *now); !fields.empty())
                report("changed", name, fields);
        }
    }

    // A data set the TSA keeps out of every backup (the file system's sockets).
    bool leftOutByTheTsa(unsigned int &sequence)
    {
        const unsigned int code = kx_.BeginBackupNoScan(name_, &sequence, false);
        if (code == 0)
            kx_.AbortBackup(&sequence);
        return code == KXSMS_ERR_EXCLUDED_BY_TSA;
    }

    std::optional<DataSetState> readLive(const std::string &name, bool parent, unsigned int &sequence)
    {
        unsigned int code = kx_.BeginBackupNoScan(name_, &sequence, false);
        if (code != 0) {
            stop_ = failed("cannot read " + printable(name, style_), code);
            return std::nullopt;
        }
        progress_.begin(name);
        digest_.begin(static_cast<uint16_t>(session_.type()), parent);
        for (;;) {
            unsigned int read = 0;
            bool endOfData = false;
            code = kx_.Backup(&sequence, block_.data(), KXSMS_MAX_BLOCK, &read, &endOfData);
            // The file changed while it was read: the stream (as it was opened) is whole.
            if (code == KXSMS_ERR_DATA_IN_USE && read == 0)
                break;
            if (code != 0) {
                stop_ = failed("cannot read " + printable(name, style_), code);
                return std::nullopt;
            }
            digest_.add(block_.data(), read);
            progress_.add(read);
            if (endOfData)
                break;
        }
        DataSetState state;
        if (!digest_.finish(state)) {
            progress_.message("cannot compare " + printable(name, style_) + ": the TSA's stream of it is not one "
                                                                            "kxsms reads");
            trouble_ = true;
            progress_.failed();
            return std::nullopt;
        }
        return state;
    }

    void report(const char *change, const std::string &name, const std::vector<const char *> &fields)
    {
        ++changes_;
        if (json_) {
            nlohmann::json element = nameJson(name);
            element["change"] = change;
            element["fields"] = nlohmann::json::array();
            for (const char *field : fields)
                element["fields"].push_back(field);
            json_->add(element);
            return;
        }
        std::string line = std::string(change) + " " + printable(name, style_);
        for (size_t i = 0; i < fields.size(); ++i)
            line += (i == 0 ? ": " : ", ") + std::string(fields[i]);
        writeLine(line);
    }

    // Reports trouble; true when the module says the job must stop.
    bool failed(const std::string &what, unsigned int code)
    {
        progress_.message(what + ": " + describeFailure(session_.text(code), lastSmsCause(takeModuleLog())));
        trouble_ = true;
        progress_.failed();
        if (!session_.fatal(code))
            return false;
        progress_.message("diff stopped");
        return true;
    }

    struct Archived {
        DataSetState state;
        bool pending = false; // listed without data: its data is sought in earlier archives
    };

    const DiffOptions &options_;
    ModuleSession &session_;
    CKXSMS &kx_;
    Archives &archives_;
    Progress &progress_;
    NameStyle style_;
    Selection selection_;
    Selection excluded_; // what the newest backup left out
    std::vector<unsigned char> block_;
    char name_[KXSMS_NAME_BUFFER + 8] = {};
    StreamDigest digest_;
    std::unordered_map<std::string, Archived> archived_;
    size_t pending_ = 0;
    std::vector<std::string> metNothing_; // paths whose scan found nothing
    uint64_t changes_ = 0;
    bool trouble_ = false;
    bool stop_ = false;
    std::unique_ptr<JsonArray> json_;
};

} // namespace

DiffCommand::DiffCommand() : Command("diff", "compare an archive (or a chain's newest view) with the live data sets")
{
}

void DiffCommand::define(OptionSet &options)
{
    options.values("PATH", options_.paths, "compare only these members and what lies below them");
    options
        .values("-f,--file", options_.archives,
                "the archive to compare with; - for standard input; again for a chain, oldest first")
        .required();
    options.flag("--json", options_.json, "a JSON array of the differences");
    defineReadingSecrets(options);
    options.examples(c_DiffExamples);
}

// PATHs name the live tree: on the file system a relative one is taken
// from the working directory, as backup takes it (once the archive tells
// that its TSA is the file system's).
void DiffCommand::takeLocalNames(const GlobalOptions &, std::string_view cwd)
{
    cwd_ = cwd;
}

int DiffCommand::run(const GlobalOptions &globals)
{
    Progress progress("diff", globals.verbosity, !options_.json);
    Archives archives;
    int status = c_ExitOk;
    try {
        if (!openChain(options_.archives, archives, progress))
            return c_ExitStopped;
        if (auto why = chainRefusal(chainLinks(archives))) {
            progress.message(*why);
            return c_ExitStopped;
        }
        const auto archived = static_cast<KXSMS_TSA_TYPE>(archives.back()->reader().tsaType());
        if (archived > KXSMS_TSA_GROUPWISE || (globals.tsaGiven && globals.tsa != archived)) {
            progress.message(fmt::format("{} holds data of the {} TSA; it cannot be compared with the {} TSA",
                                         archives.back()->label(), format::tsaName(archives.back()->reader().tsaType()),
                                         tsaDescription(globals.tsa)));
            return c_ExitStopped;
        }
        progress.showNamesAs(nameStyle(archived));
        if (archived == KXSMS_TSA_FILE_SYSTEM)
            for (std::string &path : options_.paths)
                takeLocalPath(path, cwd_, archived);
        std::unique_ptr<ModuleSession> session = ModuleSession::open(globals, archived);
        if (!session)
            return c_ExitStopped;
        bufferResults();
        Diff diff(options_, *session, archives, progress);
        const bool stopped = !diff.run();
        diff.finish();
        const bool damaged =
            std::any_of(archives.begin(), archives.end(), [](const auto &archive) { return archive->damaged(); });
        status = stopped || diff.trouble() || damaged ? c_ExitStopped
                 : diff.differs()                     ? c_ExitSomeFailed
                                                      : c_ExitOk;
        progress.summary(diff.changes() == 0 ? "no differences" : counted(diff.changes(), "difference"));
    } catch (const Interrupted &) {
        // Reported below.
    } catch (const IoError &e) {
        progress.message(std::string(e.what()) + "; diff stopped");
        status = c_ExitStopped;
    }
    archives.clear();
    if (!flushResults() && !interrupted())
        status = c_ExitStopped;
    if (interrupted()) {
        progress.summary(interruptText());
        return interruptedStatus();
    }
    return status;
}

} // namespace kxsms
