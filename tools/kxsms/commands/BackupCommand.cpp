// backup: scan each given path with traversal, open every data set the scan
// returns and stream it block by block into the archive. Exclude patterns
// are applied to what the scan returns; a signal ends the job with an end
// record that says so.
#include <cstring>
#include <strings.h>
#include <ctime>
#include <vector>

#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "archive/ArchiveFiles.h"
#include "archive/ArchiveWriter.h"
#include "commands/ArchiveFlagCheck.h"
#include "commands/Commands.h"
#include "frame/FailureText.h"
#include "frame/ModuleLog.h"
#include "frame/PathRules.h"
#include "frame/Progress.h"
#include "frame/Results.h"
#include "frame/Selection.h"
#include "frame/ModuleSession.h"
#include "frame/Signals.h"
#include "io/Text.h"

namespace kxsms {

namespace {

constexpr uint32_t c_UnknownNameSpace = 0xFFFFFFFFu;
// The TSA leaves the data set out (the file-system TSA: sockets).
constexpr unsigned int c_ExcludedByTsa = 130047;
// "Data in use" from a read: the file-system TSA gave the whole stream of
// the file as it was opened, and the file changed while it was read.
constexpr unsigned int c_InUse = 130016;

uint64_t newArchiveId()
{
    uint64_t id = 0;
    if (getrandom(&id, sizeof id, 0) != static_cast<ssize_t>(sizeof id))
        id = static_cast<uint64_t>(time(nullptr)) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(getpid());
    return id;
}

// The owning name space the TSA reports for the data set at path. A scan does
// not report it, so it is asked once per path given (by opening the start of
// the path for backup and closing it again) and recorded for every data set
// found below it.
uint32_t probeNameSpace(CKXSMS &kx, std::string &path)
{
    unsigned int sequence = 0;
    unsigned int nameSpace = c_UnknownNameSpace;
    if (kx.BeginBackup(path.data(), &sequence, nullptr, nullptr, nullptr, nullptr, &nameSpace, false) != 0)
        return c_UnknownNameSpace;
    kx.AbortBackup(&sequence);
    return nameSpace;
}

// The archive file, so that a backup of a tree that holds it leaves it out.
// It is known by device and inode; the names the scan gives are looked at
// (lstat) only when their last component is the archive's, unless the file
// has other names (links) too.
class ArchiveIdentity {
public:
    ArchiveIdentity() = default; // no archive file (a dry run)
    ArchiveIdentity(int fd, const std::string &path, KXSMS_TSA_TYPE type)
    {
        struct stat st;
        if (type != KXSMS_TSA_FILE_SYSTEM || path == "-" || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
            return;
        known_ = true;
        device_ = st.st_dev;
        inode_ = st.st_ino;
        anyName_ = st.st_nlink > 1;
        const size_t slash = path.rfind('/');
        leaf_ = slash == std::string::npos ? path : path.substr(slash + 1);
    }

    bool is(const char *name) const
    {
        if (!known_)
            return false;
        if (!anyName_) {
            const size_t length = strlen(name);
            if (length < leaf_.size() + 1 || name[length - leaf_.size() - 1] != '/' ||
                memcmp(name + length - leaf_.size(), leaf_.data(), leaf_.size()) != 0)
                return false;
        }
        struct stat st;
        return lstat(name, &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
    }

private:
    bool known_ = false;
    bool anyName_ = false;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    std::string leaf_;
};

class BackupJob {
public:
    // Without a writer (--dry-run) the names are listed on stdout instead.
    BackupJob(const Options &options, Session &session, ArchiveWriter *writer, Progress &progress,
              const ArchiveIdentity &archive)
        : options_(options), session_(session), kx_(session.kx()), writer_(writer), progress_(progress),
          archive_(archive), selection_({}, options.excludes, session.type()),
          block_(KXSMS_MAX_BLOCK * OutputStream::c_HeldChunks)
    {
    }

    // Backs up everything below path; false when the job must stop.
    bool backUp(const std::string &given)
    {
        // The module may rewrite the name it is given in place (a directory
        // "[Root]" comes back as "Root"): the probe gets a copy of its own.
        // The top of a directory tree, given as "[Root]" (as ls and info take
        // it), is scanned with traversal only in its full form ".[Root]".
        const std::string start =
            session_.type() == KXSMS_TSA_DIRECTORY && strcasecmp(given.c_str(), "[Root]") == 0 ? ".[Root]" : given;
        std::string probe = start;
        const uint32_t nameSpace = probeNameSpace(kx_, probe);
        std::string path = start;
        unsigned int failuresInRow = 0;
        for (;;) {
            if (interrupted())
                return false;
            bool parent = false, archive = false, end = false;
            long created = 0, modified = 0, accessed = 0;
            unsigned long long size = 0;
            takeModuleLog(); // what came before is not this data set's
            const unsigned int code = kx_.Scan(path.data(), &sequence_, name_, sizeof name_, nullptr, 0, &parent,
                                               &archive, &created, &modified, &accessed, &size, &end);
            if (code != 0) {
                if (failed("cannot scan " + printable(path), code))
                    return false;
                // A scan that ended cannot go on; one that did not may (the
                // module keeps its place), but not forever.
                if (sequence_ == 0 || ++failuresInRow > 100) {
                    kx_.AbortScan(&sequence_);
                    return true;
                }
                continue;
            }
            failuresInRow = 0;
            if (end)
                return true;
            if (!parent && archive_.is(name_)) {
                progress_.message(printable(name_) + ": file is the archive; not dumped");
                progress_.skipped();
                continue;
            }
            if (selection_.hasPatterns() && selection_.excluded(name_))
                continue;
            // Passed over as unchanged: an earlier archive holds its data;
            // this one lists it, so that it tells the whole tree.
            const bool unchanged = options_.incremental && !parent && !archive;
            if (unchanged && writer_ == nullptr)
                continue;
            if (!backUpOne(nameSpace, parent, archive, created, modified, accessed, size, unchanged))
                return false;
        }
    }

    const LastSaved &lastSaved() const { return lastSaved_; }

    // Ends whatever is open after a stop or a failed write.
    void abandon()
    {
        kx_.AbortBackup(&sequence_);
        kx_.AbortScan(&sequence_);
    }

private:
    bool backUpOne(uint32_t nameSpace, bool parent, bool archive, long created, long modified, long accessed,
                   unsigned long long size, bool unchanged)
    {
        const size_t length = strnlen(name_, sizeof name_);
        if (length == 0 || length > format::c_MaxNameLength) {
            progress_.message("cannot back up " + printable(std::string_view(name_, length)) +
                              ": the name is longer than an archive holds (1023 bytes)");
            progress_.failed();
            return true;
        }
        if (writer_ == nullptr)
            return preview(parent, size);
        // member_ stays the last data set saved (a parent that reports on
        // its contents is matched against it); what is only listed goes
        // through listed_.
        auto describe = [&](format::MemberDescriptor &member, format::Listing listing) {
            member.name.assign(name_, length);
            member.tsaType = static_cast<uint16_t>(session_.type());
            member.nameSpace = nameSpace;
            member.parent = parent;
            member.archive = archive;
            member.listing = listing;
            member.created = created;
            member.modified = modified;
            member.accessed = accessed;
            member.size = size;
        };
        if (unchanged) {
            describe(listed_, format::Listing::Unchanged);
            writer_->listMember(listed_);
            progress_.unchanged();
            return true;
        }
        unsigned int code = kx_.BeginBackupNoScan(name_, &sequence_, false);
        if (code != 0 && parent && reportsOn(std::string_view(name_, length), member_.name))
            return !contentsFailed(code, size);
        if (code == c_ExcludedByTsa) {
            // Not data: a socket is made again by the program that listens on it.
            progress_.message(printable(name_) + ": ignored: the TSA has no backup of it (a socket)");
            progress_.skipped();
            return true;
        }
        if (code != 0) {
            // Listed all the same: a restore of a chain then knows it was
            // there, takes an earlier copy and does not remove it.
            describe(listed_, format::Listing::NotSaved);
            writer_->listMember(listed_);
            return !failed("cannot back up " + printable(name_), code);
        }

        describe(member_, format::Listing::Saved);
        writer_->beginMember(member_);
        progress_.begin(member_.name);

        bool complete = true;
        for (;;) {
            if (interrupted()) {
                complete = false;
                break;
            }
            unsigned int read = 0;
            bool endOfData = false;
            // The archive may still hold the last blocks: each goes to the next buffer.
            unsigned char *block = block_.data() + (blocks_++ % OutputStream::c_HeldChunks) * KXSMS_MAX_BLOCK;
            code = kx_.Backup(&sequence_, block, KXSMS_MAX_BLOCK, &read, &endOfData);
            if (code == c_InUse && read == 0) {
                // The stream is whole (the copy as the file was when opened);
                // the file is not that copy any more.
                writer_->endMember(true);
                progress_.message("warning: " + printable(member_.name) + ": changed while it was being read");
                progress_.failed();
                return true;
            }
            if (code != 0) {
                complete = false;
                break;
            }
            writer_->writeBlock(block, read);
            progress_.add(read);
            if (endOfData)
                break;
        }
        writer_->endMember(complete);
        if (interrupted()) {
            progress_.message("stopped inside " + printable(member_.name) + ": it is marked incomplete");
            return false;
        }
        if (!complete)
            return !failed("cannot read " + printable(member_.name), code);
        progress_.done();
        lastSaved_.saved(member_.name, size);
        return true;
    }

    // The contents of a saved directory, or part of them, left out.
    bool contentsFailed(unsigned int code, unsigned long long leftOut)
    {
        const std::optional<SmsCause> cause = lastSmsCause(takeModuleLog());
        if (cause && cause->code == c_SmsOverflow && leftOut > 0) {
            progress_.message("cannot back up " + std::to_string(leftOut) + (leftOut == 1 ? " entry" : " entries") +
                              " in " + printable(name_) +
                              ": the names are longer than 1023 bytes (they are left out with all they hold)");
            progress_.failed(leftOut);
            return stopsTheJob(code);
        }
        progress_.message("cannot read the contents of " + printable(name_) +
                          " (the directory itself is saved): " + describeFailure(session_.text(code), cause));
        progress_.failed();
        return stopsTheJob(code);
    }

    // --dry-run: the name that would be saved.
    bool preview(bool parent, unsigned long long size)
    {
        writeLine(printable(name_));
        if (!parent)
            progress_.add(size);
        progress_.done();
        return !readerGone();
    }

    // Reports a failure; true when the module says the job must stop.
    bool failed(const std::string &what, unsigned int code)
    {
        progress_.message(what + ": " + describeFailure(session_.text(code), lastSmsCause(takeModuleLog())));
        progress_.failed();
        return stopsTheJob(code);
    }

    bool stopsTheJob(unsigned int code)
    {
        if (!session_.fatal(code))
            return false;
        progress_.message("backup stopped");
        return true;
    }

    const Options &options_;
    Session &session_;
    CKXSMS &kx_;
    ArchiveWriter *writer_;
    Progress &progress_;
    const ArchiveIdentity &archive_;
    Selection selection_;
    std::vector<unsigned char> block_; // the buffers every block passes through, used in turn
    uint64_t blocks_ = 0;
    char name_[KXSMS_NAME_BUFFER + 8];
    unsigned int sequence_ = 0;
    format::MemberDescriptor member_;
    format::MemberDescriptor listed_;
    LastSaved lastSaved_;
};

// Puts the selection list of --exclude in force; false when the job cannot start.
bool applyExcludes(const Options &options, Session &session, Progress &progress)
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
            progress.message("warning: --exclude " + printable(exclude) + ": no such data set; nothing excluded");
        } else if (code != 0) {
            progress.message("cannot exclude " + printable(exclude) + ": " + session.text(code));
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
int dryRun(const Options &options, Session &session, Progress &progress)
{
    bufferResults();
    const ArchiveIdentity noArchive;
    BackupJob job(options, session, nullptr, progress, noArchive);
    bool stopped = false;
    for (const std::string &path : independentPaths(options.paths, options.tsa)) {
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

int runBackup(const Options &options)
{
    Progress progress("backup", options.verbosity);
    std::unique_ptr<Session> session = Session::open(options, options.tsa);
    if (!session)
        return c_ExitStopped;

    CKXSMS &kx = session->kx();
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t started = now.tv_sec;
    const int64_t startedNanoseconds = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
    kx.SetScanStartTime(options.since ? *options.since : started);
    kx.SetScanTraverse(true);
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
    record.paths = independentPaths(options.paths, options.tsa);
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
        const uint32_t flags = (options.incremental ? format::c_HeaderIncremental : 0) |
                               (options.since ? format::c_HeaderPartial : 0);
        ArchiveWriter writer(out, static_cast<uint16_t>(options.tsa), newArchiveId(), started, flags, record);
        const ArchiveIdentity archive(fd, options.archive, options.tsa);
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
    const bool cleared = !options.clearArchive || archiveFlagsCleared(kx, lastSaved.name(), progress);
    return progress.failures() > 0 || !cleared ? c_ExitSomeFailed : c_ExitOk;
}

} // namespace kxsms
