// backup: scan each given path with traversal, open every data set the scan
// returns and stream it block by block into the archive. Exclude patterns
// are applied to what the scan returns; a signal ends the job with an end
// record that says so.
#include <climits>
#include <cstdlib>
#include <ctime>
#include <ostream>
#include <vector>

#include <sys/random.h>
#include <unistd.h>

#include <fmt/format.h>

#include "archive/ArchiveFiles.h"
#include "archive/ArchiveWriter.h"
#include "commands/BackupCommand.h"
#include "commands/BackupJob.h"
#include "frame/ModuleSession.h"
#include "frame/PathRules.h"
#include "frame/Progress.h"
#include "frame/Results.h"
#include "frame/ScanControl.h"
#include "frame/Selection.h"
#include "frame/Signals.h"
#include "frame/SinceTime.h"
#include "io/Text.h"

namespace kxsms {

namespace {

const char *const c_BackupExamples = R"(
Examples:
  kxsms backup /home /etc -f /backup/a.kxa
  kxsms backup /src --exclude '*.o' --exclude /src/cache -f src.kxa
  kxsms backup /srv --incremental --clear-archive --zstd -f - | ssh host 'cat > inc.kxa'
  kxsms backup -n /home --exclude '.cache'     what would be saved, without saving
  kxsms backup -x / -f /backup/root.kxa        the root file system alone (not /proc, /sys, ...)
)";

// A backup path given through symlinked directories ("/lib/terminfo" where
// /lib -> usr/lib) is refused by the TSA, which follows no symlinked parent;
// as tar follows it, kxsms names the path by its parent's real place and
// says so. The path itself stays as given (a symlink is backed up as one).
// Only a parent that exists here is looked at: with a resource that is not
// this machine's root, names that do not exist here are left alone.
void resolveSymlinkedParents(std::vector<std::string> &paths)
{
    for (std::string &path : paths) {
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos || slash == 0)
            continue;
        const std::string parent = path.substr(0, slash);
        char real[PATH_MAX];
        if (realpath(parent.c_str(), real) == nullptr || parent == real)
            continue;
        const std::string resolved = std::string(real) + path.substr(slash);
        fmt::print(stderr, "kxsms: {} is reached through a symbolic link: backing up {}\n",
                   printable(path, NameStyle::FileSystem), printable(resolved, NameStyle::FileSystem));
        path = resolved;
    }
}

uint64_t newArchiveId()
{
    uint64_t id = 0;
    if (getrandom(&id, sizeof id, 0) != static_cast<ssize_t>(sizeof id))
        id = static_cast<uint64_t>(time(nullptr)) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(getpid());
    return id;
}

// Puts the selection list of --exclude in force; false when the job cannot start.
bool applyExcludes(const BackupOptions &options, ModuleSession &session, Progress &progress)
{
    CKXSMS &kx = session.kx();
    kx.ClearScanFilters();
    const Selection selection({}, options.excludes, session.type());
    if (selection.exactExcludes().empty())
        return true;
    for (const std::string &exclude : selection.exactExcludes()) {
        std::string path = exclude;
        const unsigned int code = kx.AddScanFilter(path.data());
        if (code == 0xFFFFFFFFu) {
            progress.message("warning: --exclude " + printable(exclude, session.names()) +
                             ": no such data set; nothing excluded");
        } else if (code != 0) {
            progress.message("cannot exclude " + printable(exclude, session.names()) + ": " + session.text(code));
            return false;
        }
    }
    if (kx.EnableScanFilters() != 0) {
        progress.message("cannot put the exclusions in force");
        return false;
    }
    return true;
}

// --dry-run: the scan as a backup would make it, the names on stdout;
// nothing is written and no archive flag cleared.
int dryRun(const BackupOptions &options, ModuleSession &session, Progress &progress)
{
    bufferResults();
    const ArchiveIdentity noArchive;
    BackupJob job(options, session, nullptr, progress, noArchive);
    bool stopped = false;
    for (const std::string &path : independentPaths(options.paths, session.type())) {
        if (!job.backUp(path)) {
            stopped = true;
            break;
        }
    }
    if (stopped)
        job.abandon();
    if (!flushResults()) {
        progress.message("cannot write the listing");
        return c_ExitStopped;
    }
    if (interrupted()) {
        progress.summary(interruptText());
        return interruptedStatus();
    }
    progress.summary("dry run: nothing was saved");
    if (stopped && !readerGone())
        return c_ExitStopped;
    return progress.failures() > 0 ? c_ExitSomeFailed : c_ExitOk;
}

} // namespace

BackupCommand::BackupCommand() : Command("backup", "back up the subtrees at PATH... into an archive") {}

void BackupCommand::define(OptionSet &options)
{
    options.values("PATH", options_.paths, "data sets to back up, each with everything below it").required();
    // Not required: a dry run writes no archive.
    options.value("-f,--file", options_.archive, "the archive to write; - for standard output (not with -n)");
    options.values("--exclude", options_.excludes,
                   "leave out this data set, or what matches this shell pattern (with its subtree); repeatable");
    options.value("--since", since_, "only data sets modified since TIME (parents always)");
    options.flag("--incremental", options_.incremental, "only data sets whose archive flag is set (parents always)");
    options.flag("--clear-archive", options_.clearArchive, "clear the archive flag of each data set saved");
    options.flag("--zstd", options_.zstd, "compress the archive with zstd");
    options.flag("-n,--dry-run", options_.dryRun, "show what would be saved; write no archive, clear no flag");
    options.flag("-x,--one-file-system", options_.oneFileSystem,
                 "do not enter mount points below a PATH (each is saved as a directory and named)");
    options.examples(c_BackupExamples);
}

bool BackupCommand::check(std::ostream &err, int64_t now)
{
    if (options_.archive.empty() && !options_.dryRun) {
        err << "kxsms: backup: --file is required (the archive to write; -n shows what would be saved without one)\n";
        return false;
    }
    if (since_.empty())
        return true;
    std::string error;
    options_.since = parseTime(since_, now, error);
    if (!options_.since) {
        err << "kxsms: --since: " << error << "\n";
        return false;
    }
    return true;
}

void BackupCommand::takeLocalNames(const GlobalOptions &globals, std::string_view cwd)
{
    if (globals.tsa != KXSMS_TSA_FILE_SYSTEM)
        return;
    for (std::string &path : options_.paths)
        takeLocalPath(path, cwd, globals.tsa);
    // An exclude without a '/' is a pattern of one component (tar's rule),
    // and a pattern is matched as written.
    for (std::string &path : options_.excludes)
        if (path.find('/') != std::string::npos && !isPattern(path))
            takeLocalPath(path, cwd, globals.tsa);
    resolveSymlinkedParents(options_.paths);
}

int BackupCommand::run(const GlobalOptions &globals)
{
    const BackupOptions &options = options_;
    Progress progress("backup", globals.verbosity);
    progress.showNamesAs(nameStyle(globals.tsa));
    // Traversal (and -x) travel in the scan-control record, set before the login.
    const NWSM_SCAN_CONTROL control = traversingScanControl(options.oneFileSystem);
    std::unique_ptr<ModuleSession> session = ModuleSession::open(globals, globals.tsa, &control);
    if (!session)
        return c_ExitStopped;

    CKXSMS &kx = session->kx();
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t started = now.tv_sec;
    const int64_t startedNanoseconds = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
    kx.SetScanStartTime(options.since ? *options.since : started);
    if (options.since)
        kx.SetScanModifiedDateTimeRange(*options.since, 0);
    kx.SetClearArchiveBitFlag(options.clearArchive && !options.dryRun);
    if (!applyExcludes(options, *session, progress))
        return c_ExitStopped;
    if (options.dryRun)
        return dryRun(options, *session, progress);

    // The archive records what the backup was asked for, so that a chain of
    // archives can be checked for belonging together.
    format::BackupRecord record;
    record.paths = independentPaths(options.paths, globals.tsa);
    record.excludes = options.excludes;
    record.startedNanoseconds = startedNanoseconds;
    if (std::vector<unsigned char> encoded; !format::encodeBackupRecord(record, encoded)) {
        progress.message("the paths and excludes given take more than an archive holds (256 KiB)");
        return c_ExitStopped;
    }

    std::string error;
    const int fd = openArchiveForWriting(options.archive, error);
    if (fd < 0) {
        progress.message(error);
        return c_ExitStopped;
    }

    FdOutput file(fd);
    std::unique_ptr<ZstdOutput> compressed;
    bool stopped = false;
    LastSaved lastSaved;
    try {
        if (options.zstd)
            compressed = std::make_unique<ZstdOutput>(file);
        OutputStream &out = compressed ? static_cast<OutputStream &>(*compressed) : file;
        const uint32_t flags =
            (options.incremental ? format::c_HeaderIncremental : 0) | (options.since ? format::c_HeaderPartial : 0);
        ArchiveWriter writer(out, static_cast<uint16_t>(globals.tsa), newArchiveId(), started, flags, record);
        const ArchiveIdentity archive(fd, options.archive, globals.tsa);
        BackupJob job(options, *session, &writer, progress, archive);
        for (const std::string &path : record.paths) {
            try {
                if (!job.backUp(path)) {
                    stopped = true;
                    break;
                }
            } catch (...) {
                job.abandon();
                throw;
            }
        }
        if (stopped)
            job.abandon();
        lastSaved = job.lastSaved();
        writer.finish(stopped && !interrupted(), interrupted());
    } catch (const IoError &e) {
        progress.message(std::string(e.what()) + "; backup stopped");
        closeArchive(fd, error);
        return c_ExitStopped;
    }
    if (!closeArchive(fd, error)) {
        progress.message(error);
        return c_ExitStopped;
    }
    if (interrupted()) {
        progress.summary("archive " + formatBytes(file.bytesWritten()) + "; " + interruptText() +
                         ": the archive holds the data sets saved before");
        return interruptedStatus();
    }
    progress.summary("archive " + formatBytes(file.bytesWritten()));
    if (stopped)
        return c_ExitStopped;
    // Asked once the archive is written, so the TSA has every clear it will get.
    const bool cleared = !options.clearArchive || archiveFlagsCleared(kx, lastSaved.name(), session->names(), progress);
    return progress.failures() > 0 || !cleared ? c_ExitSomeFailed : c_ExitOk;
}

} // namespace kxsms
