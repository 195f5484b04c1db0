// backup: scan each given path with traversal, open every data set the scan
// returns and stream it block by block into the archive. Exclude patterns
// are applied to what the scan returns; a signal ends the job with an end
// record that says so.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <future>
#include <memory>
#include <ostream>
#include <vector>

#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "archive/ArchiveFiles.h"
#include "archive/ArchiveWriter.h"
#include "commands/BackupCommand.h"
#include "commands/BackupJob.h"
#include "commands/ChainState.h"
#include "commands/ParallelBackup.h"
#include "frame/ArchiveSecrets.h"
#include "frame/JobCount.h"
#include "frame/ModuleLog.h"
#include "frame/ModuleSession.h"
#include "frame/PathRules.h"
#include "frame/Progress.h"
#include "frame/Results.h"
#include "frame/ScanControl.h"
#include "frame/Selection.h"
#include "frame/Signals.h"
#include "frame/SinceTime.h"
#include "io/Sealed.h"
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
  kxsms backup -j 1 /srv -f srv.kxa            one module object, one connection, as before
  kxsms backup /srv --zstd --recipient vault.pub -f srv.kxa
      write-only: this machine cannot read srv.kxa back; restore it with --key vault.key
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

// The archive file's name as the state records it: absolute, or "-".
std::string archiveFileName(const std::string &archive)
{
    if (archive == "-" || archive.empty() || archive[0] == '/')
        return archive;
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + archive : archive;
}

std::string folderOf(const std::string &file)
{
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
}

std::string describeRun(const ClearingRun &run)
{
    return fmt::format("{:016x} made at {}", run.archiveId, formatTime(run.startedNanoseconds / 1000000000));
}

// An incremental backup lists as unchanged what is unchanged since the last
// backup of these paths that cleared the archive flags: it records that
// archive as the one it follows, and warns when that run looks like another
// schedule's (its archive is gone, or was written elsewhere than this one),
// since a chain of this schedule's archives lacks it.
void follow(const ChainState &state, const std::string &scope, const std::string &archive, format::BackupRecord &record,
            Progress &progress)
{
    std::string error;
    const std::optional<ClearingRun> last = state.lastClearing(scope, error);
    if (!error.empty()) {
        progress.message("warning: cannot read " + error + "; this archive records no archive it follows");
        return;
    }
    if (!last)
        return;
    record.followsId = last->archiveId;
    record.followsStartedNanoseconds = last->startedNanoseconds;
    if (last->archive == "-" || archive == "-")
        return;
    const std::string where = printable(last->archive, NameStyle::FileSystem);
    struct stat st;
    if (stat(last->archive.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        progress.message("warning: this backup follows archive " + describeRun(*last) + ", the last to clear the " +
                         "archive flags of these paths, written to " + where +
                         ", which is no longer there: a chain restore of this archive lacks what that one saved");
    else if (folderOf(last->archive) != folderOf(archive))
        progress.message("warning: this backup follows archive " + describeRun(*last) + ", the last to clear the " +
                         "archive flags of these paths, written to " + where +
                         " (another schedule's?): a chain restore of this archive needs that one");
}

uint64_t newArchiveId()
{
    uint64_t id = 0;
    if (getrandom(&id, sizeof id, 0) != static_cast<ssize_t>(sizeof id))
        id = static_cast<uint64_t>(time(nullptr)) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(getpid());
    return id;
}

// Puts the selection list of --exclude in force; false when the job cannot
// start. quiet: the warnings were given for another object.
bool applyExcludes(const BackupOptions &options, ModuleSession &session, Progress &progress, bool quiet = false)
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
            if (!quiet)
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

// An encrypted archive's key, and its header: made on a thread of its own
// while the backup begins when a passphrase's key derivation (Argon2id) is
// in it.
struct Sealing {
    sealed::Cipher cipher;
    sealed::LockedBytes key;
    std::shared_ptr<sealed::PendingHeader> header;
};

std::optional<Sealing> prepareSealing(const BackupOptions &options, std::string &error)
{
    std::vector<std::vector<unsigned char>> recipients;
    for (const std::string &path : options.recipients) {
        if (!readPublicKey(path, recipients.emplace_back(), error))
            return std::nullopt;
    }
    Sealing sealing{sealed::preferredCipher(), sealed::newArchiveKey(), {}};
    if (!options.encrypt) {
        sealing.header = std::make_shared<sealed::PendingHeader>(
            sealed::makeHeader(sealing.key, sealing.cipher, nullptr, recipients));
        return sealing;
    }
    std::optional<Secret> passphrase = obtainPassphrase(options.passphraseFile, true, error);
    if (!passphrase)
        return std::nullopt;
    // The thread's own copy of the key, locked and wiped as the first.
    sealed::LockedBytes key(sealing.key.size());
    memcpy(key.data(), sealing.key.data(), key.size());
    const size_t size = sealed::headerSize(true, recipients.size());
    std::packaged_task<std::vector<unsigned char>()> make(
        [key = std::make_shared<sealed::LockedBytes>(std::move(key)),
         passphrase = std::make_shared<Secret>(std::move(*passphrase)), recipients = std::move(recipients),
         cipher = sealing.cipher] { return sealed::makeHeader(*key, cipher, &passphrase->buffer(), recipients); });
    sealing.header = std::make_shared<sealed::PendingHeader>(size, std::move(make));
    return sealing;
}

// Ends the job at once with the connection not logged out, so that the TSA
// commits no clear of an archive flag (see endWithoutLogout), and with the
// archive's temporary file removed when it is not kept.
[[noreturn]] void stopWithoutClears(NewArchive &archive, const std::string &why, Progress &progress)
{
    const std::string left = archive.unwritten();
    archive.discard();
    progress.message(why + (left.empty() ? "" : "; " + left) + "; backup stopped, no archive flag cleared");
    ModuleSession::endWithoutLogout(c_ExitStopped);
}

// Makes what the archive holds so far durable (--no-sync: nothing); a sync
// that fails stops the job.
void makeDurable(OutputStream &out, NewArchive &archive, const BackupOptions &options, Progress &progress)
{
    if (options.noSync)
        return;
    out.flush();
    std::string error;
    if (!archive.sync(error))
        stopWithoutClears(archive, error, progress);
}

// With several objects: logs out every object but the first, and has the
// first look at the first path, so that each TSA connection takes its
// clears into effect (the first object's, of directories, at a look at a
// directory); false (and a warning) when a TSA says it could not record
// them.
bool clearsTakenIntoEffect(std::vector<std::unique_ptr<ModuleSession>> &sessions, const std::string &path,
                           Progress &progress)
{
    bool cleared = true;
    for (size_t i = 1; i < sessions.size(); ++i)
        cleared = clearsRecorded(sessions[i]->close(), progress) && cleared;
    takeModuleLog();
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    sessions[0]->kx().ScanDataSetInfo(name.data(), nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
    return clearsRecorded(takeModuleLog(), progress) && cleared;
}

// --dry-run: the scan as a backup would make it, the names on stdout;
// nothing is written and no archive flag cleared.
int dryRun(const BackupOptions &options, ModuleSession &session, Progress &progress)
{
    bufferResults();
    const ArchiveIdentity noArchive;
    DirectOutput out(nullptr, progress);
    BackupJob job(options, session, out, true, noArchive);
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
    options.flag("--no-sync", options_.noSync, "do not make the archive durable (fsync) before ending");
    options.flag("--encrypt", options_.encrypt,
                 "encrypt the archive with a passphrase (--passphrase-file, KXSMS_PASSPHRASE or asked twice)");
    options.values("--recipient", options_.recipients,
                   "encrypt the archive to this public key (NAME.pub): only NAME.key reads it; repeatable");
    options.value("--passphrase-file", options_.passphraseFile,
                  "with --encrypt: the passphrase is the first line of this file; - for standard input");
    defineJobCount(options, jobs_);
    options.examples(c_BackupExamples);
}

bool BackupCommand::check(std::ostream &err, int64_t now)
{
    if (options_.archive.empty() && !options_.dryRun) {
        err << "kxsms: backup: --file is required (the archive to write; -n shows what would be saved without one)\n";
        return false;
    }
    if (!options_.passphraseFile.empty() && !options_.encrypt) {
        err << "kxsms: backup: --passphrase-file goes with --encrypt\n";
        return false;
    }
    std::string error;
    const std::optional<unsigned> jobs = jobs_.empty() ? defaultJobCount() : parseJobCount(jobs_, error);
    if (!jobs) {
        err << "kxsms: backup: " << error << "\n";
        return false;
    }
    options_.jobs = *jobs;
    if (since_.empty())
        return true;
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
    // A dry run reads no data set: one object scans, whatever -j says.
    // The file-system TSA holds the clears of archive flags a reader makes
    // until the command says the archive is durable (it does not take them
    // into effect when a file is opened by name); the other TSAs write
    // theirs whenever a scan begins, so a backup there that clears them
    // keeps to one object.
    const bool oneObject = options.dryRun || (options.clearArchive && globals.tsa != KXSMS_TSA_FILE_SYSTEM);
    std::vector<std::unique_ptr<ModuleSession>> sessions =
        ModuleSession::openSeveral(globals, globals.tsa, &control, oneObject ? 1 : options.jobs);
    if (sessions.empty())
        return c_ExitStopped;
    ModuleSession *session = sessions.front().get();

    CKXSMS &kx = session->kx();
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t started = now.tv_sec;
    const int64_t startedNanoseconds = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
    // The others open the data sets the first one's scan finds, by name.
    for (std::unique_ptr<ModuleSession> &each : sessions) {
        each->kx().SetScanStartTime(options.since ? *options.since : started);
        each->kx().SetClearArchiveBitFlag(options.clearArchive && !options.dryRun);
    }
    // Every object scans, or only the first.
    const size_t scanning =
        sessions.size() > 1 && ParallelBackup::scansInParallel(options, globals.tsa) ? sessions.size() : 1;
    for (size_t i = 0; i < scanning; ++i) {
        if (options.since)
            sessions[i]->kx().SetScanModifiedDateTimeRange(*options.since, 0);
        if (!applyExcludes(options, *sessions[i], progress, i > 0))
            return c_ExitStopped;
    }
    if (options.dryRun)
        return dryRun(options, *session, progress);

    // The archive records what the backup was asked for, so that a chain of
    // archives can be checked for belonging together; an incremental backup
    // also what it follows.
    format::BackupRecord record;
    record.paths = independentPaths(options.paths, globals.tsa);
    record.excludes = options.excludes;
    record.startedNanoseconds = startedNanoseconds;
    const ChainState state;
    const std::string scope = ChainState::scopeOf(globals.tsa, record.paths);
    if (options.incremental)
        follow(state, scope, archiveFileName(options.archive), record, progress);
    if (std::vector<unsigned char> encoded; !format::encodeBackupRecord(record, encoded)) {
        progress.message("the paths and excludes given take more than an archive holds (256 KiB)");
        return c_ExitStopped;
    }

    std::string error;
    std::optional<Sealing> sealing;
    if (options.encrypt || !options.recipients.empty()) {
        sealing = prepareSealing(options, error);
        if (!sealing) {
            progress.message(error);
            return c_ExitStopped;
        }
    }
    // Written under a temporary name, it takes its own once its end record
    // is written: a job that cannot finish it leaves an older archive of
    // that name as it was.
    NewArchive archiveFile;
    if (!archiveFile.create(options.archive, error)) {
        progress.message(error);
        return c_ExitStopped;
    }
    const int fd = archiveFile.fd();

    FdOutput file(fd);
    if (archiveFile.temporary()) {
        file.fromFileStart();
        if (!options.noSync)
            file.writeBackEarly();
    }
    progress.trackArchive([&file] { return file.bytesWritten(); });
    const uint64_t archiveId = newArchiveId();
    std::unique_ptr<sealed::SealedOutput> encrypted;
    std::unique_ptr<ZstdOutput> compressed;
    bool stopped = false;
    LastSaved lastSaved;
    try {
        OutputStream *below = &file;
        if (sealing) {
            encrypted =
                std::make_unique<sealed::SealedOutput>(file, sealing->header, std::move(sealing->key), sealing->cipher);
            below = encrypted.get();
        }
        if (options.zstd)
            compressed = std::make_unique<ZstdOutput>(*below);
        OutputStream &out = compressed ? static_cast<OutputStream &>(*compressed) : *below;
        const uint32_t flags =
            (options.incremental ? format::c_HeaderIncremental : 0) | (options.since ? format::c_HeaderPartial : 0);
        ArchiveWriter writer(out, static_cast<uint16_t>(globals.tsa), archiveId, started, flags, record);
        const ArchiveIdentity archive(archiveFile, globals.tsa);
        // Each path goes into the archive whole before the next one's scan
        // begins. The TSA commits the clears of a connection when a scan of
        // a directory begins on it (and the readers of several objects are
        // made to look at the path done): what they are for must be
        // durable before.
        const auto eachPath = [&](auto &job) {
            const std::string *previous = nullptr;
            for (const std::string &path : record.paths) {
                if (previous != nullptr && options.clearArchive) {
                    makeDurable(out, archiveFile, options, progress);
                    if constexpr (requires { job.settle(path); })
                        job.settle(*previous);
                }
                previous = &path;
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
        };
        if (sessions.size() == 1) {
            DirectOutput direct(&writer, progress);
            BackupJob job(options, *session, direct, false, archive);
            eachPath(job);
            if (stopped)
                job.abandon();
            lastSaved = direct.lastSaved();
        } else {
            ParallelBackup job(options, sessions, writer, progress, archive);
            eachPath(job);
            job.finish();
            lastSaved = job.lastSaved();
        }
        writer.finish(stopped && !interrupted(), interrupted());
        out.flush();
    } catch (const IoError &e) {
        // An archive without its end record is not kept, and whatever it
        // lacks must keep its archive flag.
        stopWithoutClears(archiveFile, e.what(), progress);
    }
    // Renamed and made durable before the logout commits the clears.
    if (!archiveFile.keep(!options.noSync, error))
        stopWithoutClears(archiveFile, error, progress);
    // With several objects, data sets were read (and their clears made)
    // ahead of the archive: a job that ended early logs none of them out,
    // so that no flag is cleared for what the archive may lack.
    const bool readAhead = options.clearArchive && sessions.size() > 1;
    if (interrupted()) {
        progress.summary(interruptText() + ": the archive holds the data sets saved before");
        if (readAhead)
            ModuleSession::endWithoutLogout(interruptedStatus());
        return interruptedStatus();
    }
    // The archive is complete: the archives after it follow it.
    bool recorded = true;
    if (!stopped && options.clearArchive) {
        const ClearingRun run{archiveId, startedNanoseconds, archiveFileName(options.archive), options.incremental};
        if (!state.recordClearing(scope, run, error)) {
            progress.message("warning: cannot record this backup in " + error +
                             "; the next incremental backup will not know that it follows this archive");
            recorded = false;
        }
    }
    progress.summary();
    if (stopped && readAhead)
        ModuleSession::endWithoutLogout(c_ExitStopped);
    if (stopped)
        return c_ExitStopped;
    // The reading objects log out first: their clears take effect. Then
    // the check, once the archive is written and durable, so that the TSA
    // has every clear it will get.
    bool cleared = !readAhead || clearsTakenIntoEffect(sessions, record.paths.front(), progress);
    cleared = (!options.clearArchive || archiveFlagsCleared(kx, lastSaved.name(), session->names(), progress)) &&
              cleared;
    return progress.failures() > 0 || !cleared || !recorded ? c_ExitSomeFailed : c_ExitOk;
}

} // namespace kxsms
