// restore: one archive, or a chain of them (a full backup and the
// incremental backups after it, oldest first), written back through the
// module. A chain is read newest first, each archive once: every data set
// comes from the newest archive that holds its data and is written once;
// then what the earlier archives list and the newest does not (deleted or
// renamed before the newest backup) is removed. Damaged members are
// reported and skipped; the rest is restored.
#include <algorithm>
#include <memory>
#include <ostream>
#include <string_view>
#include <unordered_set>

#include <fmt/format.h>

#include "frame/ArchiveSecrets.h"
#include "archive/ArchiveChain.h"
#include "archive/ArchiveReader.h"
#include "commands/ArchiveListing.h"
#include "commands/ArchiveSource.h"
#include "commands/ChainCheck.h"
#include "commands/RestoreCommand.h"
#include "commands/RestoreJob.h"
#include "commands/RestoreWorkers.h"
#include "frame/FileSystemSync.h"
#include "frame/JobCount.h"
#include "frame/ModuleSession.h"
#include "frame/PathRules.h"
#include "frame/Progress.h"
#include "frame/Results.h"
#include "frame/Selection.h"
#include "frame/Signals.h"
#include "io/Text.h"

namespace kxsms {

namespace {

const char *const c_RestoreExamples = R"(
Examples:
  kxsms restore -f a.kxa --to /tmp/r           below /tmp/r (/etc/x -> /tmp/r/etc/x)
  kxsms restore -f a.kxa --in-place /etc/ssh   /etc/ssh back in its place, newer files kept
  kxsms restore -n -f a.kxa --in-place         what would be written and what kept
  kxsms restore -f full.kxa -f inc1.kxa -f inc2.kxa --to /tmp/r
                                               a chain, oldest first: the tree as inc2 lists it
  kxsms restore -f a.kxa --to /tmp/r --strip-components 2 /home/ann
                                               /home/ann/x -> /tmp/r/x

A restore needs --to DIR or --in-place. --to replaces what exists below DIR
(--overwrite always); --in-place keeps data sets that are not older than the
archive's copies (--overwrite newer). PATH selects members at or below it.
A chain also removes what the newest archive no longer lists, by the same rule.
)";

// Why the archives cannot be restored here; nothing when they can.
std::optional<std::string> refusal(const RestoreOptions &options, const GlobalOptions &globals,
                                   const Archives &archives, Progress &progress)
{
    const std::vector<ChainLink> links = chainLinks(archives);
    if (auto why = chainRefusal(links))
        return why;
    // Links that do not meet: what the newer one lists as unchanged may have
    // been saved by an archive not given. With --allow-gaps each such data
    // set is checked against the copy the chain holds (ChainRestore).
    if (auto gap = chainGap(links)) {
        if (!options.allowGaps)
            return *gap + "; give the chain with the archive it follows, or --allow-gaps to restore what the "
                          "chain holds of the versions it lists";
        progress.message("warning: " + *gap + "; restoring only the copies that are the versions listed");
    }
    const ArchiveSource &newest = *archives.back();
    const auto archived = static_cast<KXSMS_TSA_TYPE>(newest.reader().tsaType());
    if (archived > KXSMS_TSA_GROUPWISE || (globals.tsaGiven && globals.tsa != archived))
        return fmt::format("{} holds data of the {} TSA; it cannot be restored to the {} TSA", newest.label(),
                           format::tsaName(newest.reader().tsaType()), tsaDescription(globals.tsa));
    // The module opens directory objects for restore with fixed options:
    // an existing object is always replaced. never is done by kxsms
    // itself (it looks first); newer cannot be kept, so it is refused.
    if (archived == KXSMS_TSA_DIRECTORY && options.overwrite == Overwrite::Newer)
        return std::string("--overwrite newer cannot hold on the directory TSA: the module always replaces "
                           "existing directory objects; choose --overwrite always or --overwrite never");
    if (!options.to.empty())
        return refuseTarget(options.to, archived);
    return std::nullopt;
}

// --to must name a parent where it exists (a missing one is made).
bool targetIsParent(ModuleSession &session, const std::string &to, Progress &progress)
{
    std::string name = to;
    bool parent = true, archive = false;
    long modified = 0, accessed = 0;
    unsigned long long size = 0;
    if (session.kx().ScanDataSetInfo(name.data(), nullptr, 0, nullptr, 0, &parent, &archive, &modified, &accessed,
                                     &size) == 0 &&
        !parent) {
        progress.message("--to " + printable(to, session.names()) + ": not a directory");
        return false;
    }
    return true;
}

// A child's name is its parent's, a separator and more ('/' on the file
// system, '\\' in GroupWise, '.' in directory names), so it counts at least
// one separator more than its parent, whichever TSA made it.
size_t depth(const std::string &name)
{
    return static_cast<size_t>(
        std::count_if(name.begin(), name.end(), [](char c) { return c == '/' || c == '\\' || c == '.'; }));
}

// What the TSA could not do as the connection was released (the modes and
// times of restored directories): each line the TSA wrote then names the
// data set and the cause, and counts as a failure.
void releaseFailures(const std::string &log, Progress &progress)
{
    constexpr std::string_view c_Tsa = " ERROR smsemu: ";
    size_t at = 0;
    while (at < log.size()) {
        size_t end = log.find('\n', at);
        if (end == std::string::npos)
            end = log.size();
        const std::string_view line(log.data() + at, end - at);
        if (const size_t found = line.find(c_Tsa); found != std::string_view::npos) {
            progress.message("after the restore: " + std::string(line.substr(found + c_Tsa.size())));
            progress.failed();
        }
        at = end + 1;
    }
}

class ChainRestore {
public:
    // workers: null, or those that write the members that are not directories.
    ChainRestore(const RestoreOptions &options, int verbosity, ModuleSession &session, Archives &archives,
                 Progress &progress, std::unique_ptr<RestoreWorkers> workers)
        : options_(options), archives_(archives), progress_(progress), job_(options, verbosity, session, progress),
          workers_(std::move(workers)), selection_(options.paths, options.excludes, session.type()),
          type_(session.type()), style_(session.names())
    {
    }

    // False when the job stopped.
    bool run()
    {
        const bool chain = archives_.size() > 1;
        ArchiveSource &newest = *archives_.back();
        if (!restoreNewest(newest, chain) || !written())
            return false;
        for (size_t i = archives_.size() - 1; i-- > 0;)
            if (interrupted() || !restoreEarlier(*archives_[i], newest.label()) || !written())
                return false;
        check_.report(newest.label(), progress_, style_);
        return removeGone(newest);
    }

    bool missing() { return reportUnused(selection_, archives_.back()->label(), progress_, style_); }
    bool refusedRemovals() const { return refusedRemovals_; }

private:
    // A directory is made by the command's own object before its members
    // are handed to the workers; everything else goes to a worker.
    bool write(const format::MemberDescriptor &member, ArchiveReader &reader, const std::string &source)
    {
        if (workers_ && !member.parent)
            return workers_->restore(member, reader, source);
        return job_.restore(member, reader, source);
    }

    // Every member handed to the workers is written (before the next
    // archive of a chain, and before anything is removed).
    bool written() { return !workers_ || workers_->finish(); }

    // Selected, and something of its name left below --to.
    bool takes(const std::string &name) { return selection_.takes(name) && !job_.stripsAway(name); }

    bool restoreNewest(ArchiveSource &newest, bool chain)
    {
        format::MemberDescriptor member;
        const std::string source = chain && options_.dryRun ? newest.label() : std::string();
        while (!interrupted() && newest.reader().nextMember(member)) {
            if (!takes(member.name))
                continue;
            if (chain)
                check_.listNewest(member);
            if (member.listing == format::Listing::Saved) {
                if (!write(member, newest.reader(), source))
                    return false;
            } else if (!chain) {
                notInArchive(member, newest.label());
            }
        }
        return true;
    }

    // An earlier archive: the data sets the newest lists without data, and
    // the names it no longer lists.
    bool restoreEarlier(ArchiveSource &archive, const std::string &newestLabel)
    {
        format::MemberDescriptor member;
        const std::string source = options_.dryRun ? archive.label() : std::string();
        while (!interrupted() && archive.reader().nextMember(member)) {
            if (!takes(member.name))
                continue;
            const ChainCheck::Copy copy = check_.offer(member);
            if (copy == ChainCheck::Copy::Unlisted) {
                gone_.insert(member.name);
                continue;
            }
            if (copy == ChainCheck::Copy::Pass)
                continue;
            if (copy == ChainCheck::Copy::Instead)
                progress_.message("restoring the copy of " + printable(member.name, style_) + " in " + archive.label() +
                                  ": " + newestLabel + " could not save it");
            if (!write(member, archive.reader(), source))
                return false;
        }
        return true;
    }

    // A single archive's member without data. Restored over what an
    // earlier archive brought back, an unchanged data set is there already;
    // one that is missing is a failure.
    void notInArchive(const format::MemberDescriptor &member, const std::string &label)
    {
        const bool there = !options_.dryRun && job_.present(member.name);
        if (member.listing == format::Listing::Unchanged) {
            if (there) {
                progress_.unchanged();
                return;
            }
            progress_.message("not restoring " + printable(member.name, style_) + ": " + label +
                              " lists it as unchanged; its data is in an archive before it (give the chain with "
                              "-f, oldest first)");
        } else {
            progress_.message("not restoring " + printable(member.name, style_) + ": the backup of " + label +
                              " could not save it" + (there ? "; what is there is left as it is" : ""));
            if (there)
                return;
        }
        progress_.failed();
    }

    // Removes, deepest first, what earlier archives list and the newest
    // does not. Only a newest archive read whole shows what was gone; what
    // its backup excluded is not gone.
    bool removeGone(const ArchiveSource &newest)
    {
        if (gone_.empty())
            return true;
        if (!newest.whole()) {
            progress_.message(fmt::format("not removing the {} that earlier archives list and {} does not: it is "
                                          "damaged or incomplete, so it may not list all there was",
                                          counted(gone_.size(), "data set"), newest.label()));
            refusedRemovals_ = true;
            return true;
        }
        const Selection excluded({}, newest.reader().backupRecord().excludes, type_);
        std::vector<std::string> names;
        names.reserve(gone_.size());
        for (const std::string &name : gone_)
            if (!excluded.excluded(name))
                names.push_back(name);
        std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
            const size_t da = depth(a), db = depth(b);
            return da != db ? da > db : a < b;
        });
        std::vector<RestoreJob::Removal> plan;
        for (const std::string &name : names)
            if (auto removal = job_.planRemoval(name, newest.reader().header().created))
                plan.push_back(std::move(*removal));
        for (const RestoreJob::Removal &removal : plan)
            if (interrupted() || !job_.remove(removal, newest.label()))
                return false;
        return true;
    }

    const RestoreOptions &options_;
    Archives &archives_;
    Progress &progress_;
    RestoreJob job_;
    std::unique_ptr<RestoreWorkers> workers_;
    Selection selection_;
    KXSMS_TSA_TYPE type_;
    NameStyle style_;
    ChainCheck check_;                              // what the newest archive lists (a chain only)
    std::unordered_set<std::string> gone_;          // what only earlier archives list
    bool refusedRemovals_ = false;
};

// How much is restored between two syncs in the background: enough that a
// sync has a good share to write, small enough that little is left for the
// last one.
constexpr uint64_t c_EarlySyncStep = 32ull << 20;

// What makes a restore to the file system durable: its file systems
// (--to's, or those of the paths restored in place), synced in the
// background as the restore goes and once at its end. Null when there is
// nothing to sync: --no-sync, a dry run, or another TSA (they keep their own
// stores).
std::unique_ptr<FileSystemSync> durability(const RestoreOptions &options, KXSMS_TSA_TYPE type,
                                           const ArchiveSource &newest, Progress &progress)
{
    if (options.noSync || options.dryRun || type != KXSMS_TSA_FILE_SYSTEM)
        return nullptr;
    std::vector<std::string> targets;
    if (!options.to.empty())
        targets.push_back(options.to);
    else if (!options.paths.empty())
        targets = options.paths;
    else
        targets = newest.reader().backupRecord().paths;
    auto sync = std::make_unique<FileSystemSync>(targets);
    sync->startEarly([&progress] { return progress.bytes(); }, c_EarlySyncStep);
    return sync;
}

} // namespace

RestoreCommand::RestoreCommand() : Command("restore", "restore the data sets of an archive (--to DIR or --in-place)") {}

void RestoreCommand::define(OptionSet &options)
{
    options.values("PATH", options_.paths, "restore only these members and what lies below them");
    options
        .values("-f,--file", options_.archives,
                "the archive to read; - for standard input; again for a chain: the full backup, then each "
                "incremental backup after it, oldest first")
        .required();
    const DefinedOption to = options.value("--to", options_.to, "restore below this directory");
    options.flag("--in-place", options_.inPlace, "restore over the original names").excludes(to);
    options.value("--strip-components", strip_,
                  "with --to: leave out the first N components of each name; names with no more are not restored");
    options
        .value("--overwrite", overwrite_,
               "existing data sets: always (default with --to), newer (default with --in-place), never")
        .oneOf({"always", "newer", "never"});
    options.flag("--no-xattrs", noXattrs_, "do not restore extended attributes and ACLs");
    options.values("--exclude", options_.excludes, "leave out this member or what matches this shell pattern");
    options.flag("-n,--dry-run", options_.dryRun, "show what would be written and what kept; change nothing");
    options.flag("--allow-gaps", options_.allowGaps,
                 "restore a chain whose archives do not follow each other, taking only the copies that are the "
                 "versions its newest archive lists");
    options.flag("--no-sync", options_.noSync, "do not make what was restored durable (syncfs) before ending");
    defineJobCount(options, jobs_);
    defineReadingSecrets(options);
    options.examples(c_RestoreExamples);
}

bool RestoreCommand::check(std::ostream &err, int64_t)
{
    options_.xattrs = !noXattrs_;
    const std::string overwrite = overwrite_.empty() ? (options_.inPlace ? "newer" : "always") : overwrite_;
    options_.overwrite = overwrite == "never"   ? Overwrite::Never
                         : overwrite == "newer" ? Overwrite::Newer
                                                : Overwrite::Always;
    if (!strip_.empty()) {
        unsigned long strip = 0;
        const bool number = strip_.find_first_not_of("0123456789") == std::string::npos && strip_.size() <= 4;
        if (number)
            strip = std::stoul(strip_);
        if (!number || strip > 1023) {
            err << "kxsms: restore: --strip-components takes a number of components (0 to 1023), not " << strip_
                << "\n";
            return false;
        }
        if (options_.to.empty()) {
            err << "kxsms: restore: --strip-components needs --to DIR (the names in place are the archive's)\n";
            return false;
        }
        options_.strip = static_cast<unsigned int>(strip);
    }
    options_.jobs = defaultJobCount();
    if (!jobs_.empty()) {
        std::string error;
        const std::optional<unsigned> jobs = parseJobCount(jobs_, error);
        if (!jobs) {
            err << "kxsms: restore: " << error << "\n";
            return false;
        }
        options_.jobs = *jobs;
    }
    if (options_.to.empty() && !options_.inPlace) {
        err << "kxsms: restore: say where to restore: --to DIR (below DIR) or --in-place (over the original "
               "names, keeping data that is not older than the archive's)\n";
        return false;
    }
    return true;
}

// Restore goes to the archive's TSA: a target that is neither absolute nor
// in another TSA's form (with a ':', a "DOM1:\dir") is a local folder.
void RestoreCommand::takeLocalNames(const GlobalOptions &globals, std::string_view cwd)
{
    std::string &to = options_.to;
    if (!to.empty() && (globals.tsa == KXSMS_TSA_FILE_SYSTEM || !globals.tsaGiven) && to[0] != '/' &&
        to.find(':') == std::string::npos)
        takeLocalPath(to, cwd, KXSMS_TSA_FILE_SYSTEM);
}

int RestoreCommand::run(const GlobalOptions &globals)
{
    const RestoreOptions &options = options_;
    Progress progress("restore", globals.verbosity);
    Archives archives;
    int status = c_ExitOk;
    try {
        if (!openChain(options.archives, archives, progress))
            return c_ExitStopped;
        const auto archived = static_cast<KXSMS_TSA_TYPE>(archives.back()->reader().tsaType());
        progress.showNamesAs(nameStyle(archived));
        if (const auto why = refusal(options, globals, archives, progress)) {
            progress.message(*why);
            return c_ExitStopped;
        }
        // Several objects write at once on the file system; a dry run changes
        // nothing and the other TSAs' objects restore one at a time.
        const bool parallel = options.jobs > 1 && !options.dryRun && archived == KXSMS_TSA_FILE_SYSTEM;
        // The command's own object, then one for each worker.
        std::vector<std::unique_ptr<ModuleSession>> sessions =
            ModuleSession::openSeveral(globals, archived, nullptr, parallel ? options.jobs + 1 : 1);
        if (sessions.empty())
            return c_ExitStopped;
        std::unique_ptr<ModuleSession> session = std::move(sessions.front());
        sessions.erase(sessions.begin());
        if (!options.to.empty() && !targetIsParent(*session, options.to, progress))
            return c_ExitStopped;
        if (options.dryRun)
            bufferResults();
        // How far the job is: the archives' bytes read of all their bytes,
        // where every one is a file of known size.
        uint64_t total = 0;
        for (const auto &archive : archives)
            total += archive->fileSize();
        const bool sized = std::all_of(archives.begin(), archives.end(),
                                       [](const auto &archive) { return archive->fileSize() > 0; });
        progress.trackArchive(
            [&archives] {
                uint64_t read = 0;
                for (const auto &archive : archives)
                    read += archive->bytesRead();
                return read;
            },
            sized ? total : 0);
        std::unique_ptr<FileSystemSync> sync = durability(options, archived, *archives.back(), progress);
        std::unique_ptr<RestoreWorkers> workers;
        if (parallel) {
            workers = RestoreWorkers::start(std::move(sessions), options, globals.verbosity, progress);
        }
        bool stopped = false, missing = false, refusedRemovals = false;
        {
            ChainRestore restore(options, globals.verbosity, *session, archives, progress, std::move(workers));
            stopped = !restore.run() && !interrupted();
            missing = !stopped && !interrupted() && restore.missing();
            refusedRemovals = restore.refusedRemovals();
        } // the workers have logged out
        releaseFailures(session->close(), progress);
        const bool damaged =
            std::any_of(archives.begin(), archives.end(), [](const auto &archive) { return archive->damaged(); });
        std::string syncError;
        const bool synced = !sync || sync->finish(syncError);
        if (!synced)
            progress.message(syncError);
        if (!synced || stopped)
            status = c_ExitStopped;
        else if (progress.failures() > 0 || damaged || missing || refusedRemovals)
            status = c_ExitSomeFailed;
    } catch (const Interrupted &) {
        // Reported below.
    } catch (const IoError &e) {
        progress.message(std::string(e.what()) + "; restore stopped");
        status = c_ExitStopped;
    }
    uint64_t read = 0;
    for (const auto &archive : archives)
        read += archive->bytesRead();
    progress.trackArchive([read] { return read; });
    archives.clear(); // closed before the results are flushed
    if (options.dryRun && !flushResults() && !interrupted())
        status = c_ExitStopped;
    if (interrupted()) {
        progress.summary(interruptText());
        return interruptedStatus();
    }
    progress.summary(options.dryRun ? "dry run: nothing was changed" : "");
    return status;
}

} // namespace kxsms
