// restore: read the archive member by member and write each member's stream
// back through BeginRestore / Restore / EndRestore. Damaged members are
// reported and skipped; the rest is restored. A signal abandons the member
// being written (the TSA discards it when it is closed unfinished) and ends
// the job after the summary so far.
#include <fmt/format.h>

#include "archive/ArchiveFiles.h"
#include "archive/ArchiveListing.h"
#include "archive/ArchiveReader.h"
#include "commands/Commands.h"
#include "FailureText.h"
#include "ModuleLog.h"
#include "NameRules.h"
#include "Progress.h"
#include "Results.h"
#include "Selection.h"
#include "Session.h"
#include "Signals.h"
#include "Text.h"

namespace kxsms {

namespace {

constexpr unsigned int c_NotNewer = 130015; // "The archive data is not newer than the data on disk"

class RestoreJob {
public:
    RestoreJob(const Options &options, Session &session, ArchiveReader &reader, Progress &progress)
        : options_(options), session_(session), kx_(session.kx()), reader_(reader), progress_(progress)
    {
    }

    // Restores one member; false when the job must stop.
    bool restore(const format::MemberDescriptor &member)
    {
        std::string target = member.name;
        if (!options_.to.empty()) {
            std::string error;
            const auto name = reroot(member.name, options_.to, session_.type(), error);
            if (!name) {
                progress_.message("not restoring " + printable(member.name) + ": " + error);
                progress_.failed();
                return true;
            }
            target = *name;
        } else if (const auto why = refuseName(member.name, session_.type())) {
            progress_.message("not restoring " + printable(member.name) + ": refused: " + *why);
            progress_.failed();
            return true;
        }

        if (options_.dryRun)
            return preview(member, target);
        if (options_.overwrite == Overwrite::Never && exists(target))
            return kept(member, target, "it exists");

        // The name is always passed: the name checked above is the name the
        // TSA writes, whatever the stream's own header says. The access
        // rights (owner, extended attributes, ACLs) come back unless
        // --no-xattrs; then the owner alone.
        const KXSMS_TRUSTEE_OPTION rights = options_.xattrs ? KXSMS_TRUSTEE_ACCESS : KXSMS_TRUSTEE_OWNER;
        takeModuleLog(); // what came before is not this data set's
        unsigned int code = kx_.BeginRestore(target.data(), member.nameSpace, options_.overwrite == Overwrite::Always,
                                             rights, false, false, true);
        if (code == c_NotNewer)
            return kept(member, target, c_NotOlder);
        if (code != 0)
            return !failed("cannot restore " + printable(target), code);

        progress_.begin(target);
        const unsigned char *data = nullptr;
        size_t size = 0;
        unsigned int writeCode = 0;
        bool cut = false;
        try {
            for (;;) {
                if (interrupted()) {
                    cut = true;
                    break;
                }
                if (!reader_.readBlock(data, size))
                    break;
                writeCode = kx_.Restore(const_cast<unsigned char *>(data), size);
                if (writeCode != 0)
                    break;
                progress_.add(size);
            }
        } catch (...) {
            abandon(target);
            throw;
        }
        if (cut) {
            abandon(target);
            return false;
        }
        // A damaged member has been reported by the reader; its stream went
        // to the TSA only up to the damage, so the TSA refuses it at the end
        // and leaves what was there before.
        const bool damaged = writeCode == 0 && reader_.memberState() != ArchiveReader::MemberState::Intact;
        // The cause of a failed write is in what the module logged then, not at the close.
        const std::string writeLog = writeCode != 0 ? takeModuleLog() : std::string();
        const unsigned int endCode = kx_.EndRestore();
        // With --overwrite newer the TSA may tell only once it has read the
        // stream's times that the data set on disk is not older.
        if (writeCode == c_NotNewer || (writeCode == 0 && !damaged && endCode == c_NotNewer))
            return kept(member, target, c_NotOlder);
        if (writeCode != 0)
            return !failed("cannot restore " + printable(target), writeCode, &writeLog);
        if (damaged) {
            progress_.failed();
            return true;
        }
        if (endCode != 0)
            return !failed("cannot restore " + printable(target), endCode);
        progress_.done();
        return true;
    }

private:
    static constexpr const char *c_NotOlder = "it is not older than the archive's copy";

    // An existing data set the overwrite rule keeps. Files are named; a
    // parent that exists already is only counted (its members still come).
    bool kept(const format::MemberDescriptor &member, const std::string &target, const char *why)
    {
        if (!member.parent || options_.verbosity > 0)
            progress_.message("kept " + printable(target) + ": " + why);
        progress_.kept();
        return true;
    }

    // The data set being written, closed unfinished: the TSA discards what it
    // received, and what was there before stays.
    void abandon(const std::string &target)
    {
        kx_.EndRestore();
        progress_.message("abandoned " + printable(target) + ": " + interruptText() + "; it was left as it was");
    }

    // --dry-run: what the member would do, on stdout; nothing is changed.
    bool preview(const format::MemberDescriptor &member, std::string &target)
    {
        long modified = 0;
        const bool present = lookUp(target, modified);
        const char *why = nullptr;
        if (present && options_.overwrite == Overwrite::Never)
            why = "it exists";
        else if (present && options_.overwrite == Overwrite::Newer && modified >= member.modified)
            why = c_NotOlder;
        if (why != nullptr) {
            writeLine("keep " + printable(target) + ": " + why);
            progress_.kept();
        } else {
            writeLine((present ? "replace " : "restore ") + printable(target));
            progress_.add(member.size);
            progress_.done();
        }
        return true;
    }

    bool lookUp(std::string &target, long &modified)
    {
        bool parent = false, archive = false;
        long accessed = 0;
        unsigned long long size = 0;
        return kx_.ScanDataSetInfo(target.data(), nullptr, 0, nullptr, 0, &parent, &archive, &modified, &accessed,
                                   &size) == 0;
    }

    bool exists(std::string &target)
    {
        return kx_.ScanDataSetInfo(target.data(), nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr,
                                   nullptr) == 0;
    }

    // log: what the module logged at the failure, when it was taken already.
    bool failed(const std::string &what, unsigned int code, const std::string *log = nullptr)
    {
        const std::string logged = takeModuleLog();
        progress_.message(what + ": " + describeFailure(session_.text(code), lastSmsCause(log ? *log : logged)));
        progress_.failed();
        if (!session_.fatal(code))
            return false;
        progress_.message("restore stopped");
        return true;
    }

    const Options &options_;
    Session &session_;
    CKXSMS &kx_;
    ArchiveReader &reader_;
    Progress &progress_;
};

// --to must name a parent where it exists (a missing one is made).
bool targetIsParent(Session &session, const std::string &to, Progress &progress)
{
    std::string name = to;
    bool parent = true, archive = false;
    long modified = 0, accessed = 0;
    unsigned long long size = 0;
    if (session.kx().ScanDataSetInfo(name.data(), nullptr, 0, nullptr, 0, &parent, &archive, &modified, &accessed,
                                     &size) == 0 &&
        !parent) {
        progress.message("--to " + printable(to) + ": not a directory");
        return false;
    }
    return true;
}

} // namespace

int runRestore(const Options &options)
{
    Progress progress("restore", options.verbosity);
    std::string error;
    const int fd = openArchiveForReading(options.archive, error);
    if (fd < 0) {
        progress.message(error);
        return c_ExitStopped;
    }
    const std::string label = archiveLabel(options.archive);
    auto report = [&](const ArchiveReader::Problem &problem) {
        if (problem.member.empty())
            progress.message(label + ": " + problem.what);
        else
            progress.message(label + ": member " + printable(problem.member) + ": " + problem.what);
    };

    int status = c_ExitOk;
    uint64_t streamDamage = 0;
    try {
        FdInput file(fd, &interrupted);
        ArchiveInput input(file, [&](const std::string &what) {
            ++streamDamage;
            progress.message(label + ": " + what);
        });
        ArchiveReader reader(input, report);
        if (!reader.open()) {
            closeArchive(fd, error);
            return c_ExitStopped;
        }

        const auto archived = static_cast<KXSMS_TSA_TYPE>(reader.tsaType());
        setNameStyle(archived == KXSMS_TSA_FILE_SYSTEM);
        if (archived > KXSMS_TSA_GROUPWISE || (options.tsaGiven && options.tsa != archived)) {
            progress.message(fmt::format("{} holds data of the {} TSA; it cannot be restored to the {} TSA", label,
                                         archived > KXSMS_TSA_GROUPWISE ? "unknown" : tsaDescription(archived),
                                         tsaDescription(options.tsa)));
            closeArchive(fd, error);
            return c_ExitStopped;
        }
        // The module opens directory objects for restore with fixed options:
        // an existing object is always replaced. never is done by kxsms
        // itself (it looks first); newer cannot be kept, so it is refused.
        if (archived == KXSMS_TSA_DIRECTORY && options.overwrite == Overwrite::Newer) {
            progress.message("--overwrite newer cannot hold on the directory TSA: the module always replaces "
                             "existing directory objects; choose --overwrite always or --overwrite never");
            closeArchive(fd, error);
            return c_ExitStopped;
        }
        if (!options.to.empty()) {
            if (const auto why = refuseTarget(options.to, archived)) {
                progress.message(*why);
                closeArchive(fd, error);
                return c_ExitStopped;
            }
        }

        std::unique_ptr<Session> session = Session::open(options, archived);
        if (!session) {
            closeArchive(fd, error);
            return c_ExitStopped;
        }
        if (!options.to.empty() && !targetIsParent(*session, options.to, progress)) {
            closeArchive(fd, error);
            return c_ExitStopped;
        }
        RestoreJob job(options, *session, reader, progress);
        Selection selection(options.paths, options.excludes, archived);
        if (options.dryRun)
            bufferResults();
        format::MemberDescriptor member;
        bool stopped = false;
        while (!interrupted() && reader.nextMember(member)) {
            if (!selection.takes(member.name))
                continue;
            if (!job.restore(member)) {
                stopped = true;
                break;
            }
        }
        const bool missing = reportUnused(selection, label, progress);
        // Damage outside any member (lost members, a truncated archive) counts as a failure too.
        if (stopped)
            status = c_ExitStopped;
        else if (progress.failures() > 0 || reader.problems() > 0 || streamDamage > 0 || missing)
            status = c_ExitSomeFailed;
    } catch (const Interrupted &) {
        // Reported below.
    } catch (const IoError &e) {
        progress.message(std::string(e.what()) + "; restore stopped");
        status = c_ExitStopped;
    }
    closeArchive(fd, error);
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
