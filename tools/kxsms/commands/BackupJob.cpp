// The backup of one subtree after another into one archive.
#include "commands/BackupJob.h"

#include <cstring>
#include <strings.h>

#include <sys/stat.h>

#include "KXSMSErr.h"
#include "archive/ArchiveFiles.h"
#include "commands/StreamHeader.h"
#include "frame/FailureText.h"
#include "frame/ModuleLog.h"
#include "frame/Results.h"
#include "frame/Signals.h"
#include "io/Text.h"

namespace kxsms {

namespace {

constexpr uint32_t c_UnknownNameSpace = 0xFFFFFFFFu;

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

} // namespace

ArchiveIdentity::ArchiveIdentity(const NewArchive &archive, KXSMS_TSA_TYPE type)
{
    struct stat st;
    if (type != KXSMS_TSA_FILE_SYSTEM || archive.writing() == "-" || fstat(archive.fd(), &st) != 0 ||
        !S_ISREG(st.st_mode))
        return;
    add(st, archive.writing());
    if (archive.temporary())
        hidden_ = NewArchive::c_TemporaryPrefix;
    // The file it replaces would be saved into its successor.
    if (!archive.replaces().empty() && stat(archive.replaces().c_str(), &st) == 0 && S_ISREG(st.st_mode))
        add(st, archive.replaces());
}

void ArchiveIdentity::add(const struct stat &st, const std::string &path)
{
    const size_t slash = path.rfind('/');
    files_.push_back(File{st.st_nlink > 1, st.st_dev, st.st_ino,
                          slash == std::string::npos ? path : path.substr(slash + 1)});
}

bool ArchiveIdentity::is(const char *name, std::string &shown) const
{
    for (size_t i = 0; i < files_.size(); ++i) {
        if (!files_[i].is(name))
            continue;
        shown = name;
        const size_t length = shown.size();
        if (i == 0 && hidden_ > 0 && files_[0].hasLeaf(name, length))
            shown.erase(length - files_[0].leaf.size(), hidden_);
        else if (i == 1 && files_[1].hasLeaf(name, length))
            shown.clear();
        return true;
    }
    return false;
}

bool ArchiveIdentity::File::hasLeaf(const char *name, size_t length) const
{
    return length >= leaf.size() + 1 && name[length - leaf.size() - 1] == '/' &&
           memcmp(name + length - leaf.size(), leaf.data(), leaf.size()) == 0;
}

bool ArchiveIdentity::File::is(const char *name) const
{
    if (!anyName && !hasLeaf(name, strlen(name)))
        return false;
    struct stat st;
    return lstat(name, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

BackupJob::BackupJob(const BackupOptions &options, ModuleSession &session, BackupOutput &out, bool dryRun,
                     const ArchiveIdentity &archive)
    : options_(options), session_(session), kx_(session.kx()), out_(out), dryRun_(dryRun), archive_(archive),
      style_(session.names()), selection_({}, options.excludes, session.type()), header_(KXSMS_MAX_BLOCK)
{
}

uint32_t BackupJob::nameSpaceOf(const std::string &start)
{
    std::string probe = start;
    return probeNameSpace(kx_, probe);
}

bool BackupJob::backUp(const std::string &given)
{
    // The module may rewrite the name it is given in place (a directory
    // "[Root]" comes back as "Root"): the probe gets a copy of its own.
    // The top of a directory tree, given as "[Root]" (as ls and info take
    // it), is scanned with traversal only in its full form ".[Root]".
    const std::string start =
        session_.type() == KXSMS_TSA_DIRECTORY && strcasecmp(given.c_str(), "[Root]") == 0 ? ".[Root]" : given;
    atScan_ = true;
    return scan(start, nameSpaceOf(start), Scope::Whole);
}

bool BackupJob::backUpSubtree(const std::string &start, uint32_t nameSpace, bool oneLevel)
{
    atScan_ = true;
    kx_.SetScanTraverse(true);
    if (!oneLevel)
        return scan(start, nameSpace, Scope::Whole);
    // A scan of one level returns the children of its start, not the start
    // itself: that is the first data set of a scan that traverses, ended
    // once the start is saved.
    startName_.clear();
    if (!scan(start, nameSpace, Scope::Start))
        return false;
    if (startName_.empty())
        return true; // the scan could not begin: said
    kx_.SetScanTraverse(false);
    const bool goOn = scan(start, nameSpace, Scope::Children);
    kx_.SetScanTraverse(true);
    return goOn;
}

bool BackupJob::scan(const std::string &start, uint32_t nameSpace, Scope scope)
{
    Scanned scanned;
    scanned.nameSpace = nameSpace;
    std::string path = start;
    unsigned int failuresInRow = 0;
    for (;;) {
        if (out_.stopping())
            return false;
        bool end = false;
        takeModuleLog(); // what came before is not this data set's
        const unsigned int code =
            kx_.Scan(path.data(), &sequence_, name_, sizeof name_, nullptr, 0, &scanned.parent, &scanned.archive,
                     &scanned.created, &scanned.modified, &scanned.accessed, &scanned.size, &end);
        if (code != 0) {
            if (stopsAfterFailure("cannot scan " + printable(path, style_), code))
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
        nameLength_ = strnlen(name_, sizeof name_);
        if (scope == Scope::Start)
            startName_.assign(name_, nameLength_);
        if (!atScanPosition(scanned, scope))
            return false;
        if (scope == Scope::Start) {
            kx_.AbortScan(&sequence_);
            return true;
        }
    }
}

bool BackupJob::atScanPosition(const Scanned &scanned, Scope scope)
{
    if (std::string shown; !scanned.parent && archive_.is(name_, shown)) {
        if (!shown.empty())
            out_.message(printable(shown, style_) + ": file is the archive; not dumped");
        out_.count(BackupOutput::Count::Skipped);
        return true;
    }
    if (selection_.hasPatterns() && selection_.excluded(name_))
        return true;
    // A directory below the start of a scan of one level (not the start
    // again, where the scan reports on it): another scan takes it, with
    // all it holds.
    if (scope == Scope::Children && scanned.parent && std::string_view(name_, nameLength_) != startName_)
        return subtree_(std::string_view(name_, nameLength_));
    // Passed over as unchanged: an earlier archive holds its data;
    // this one lists it, so that it tells the whole tree.
    const bool unchanged = options_.incremental && !scanned.parent && !scanned.archive;
    if (unchanged && dryRun_)
        return true;
    // A data set another job can take (not a directory, whose report of
    // what the scan could not give is this connection's, nor a file so
    // small that opening it by name costs more than saving it here).
    if (handOver_ && !scanned.parent && !dryRun_ && scanned.size >= handOverFrom_)
        return handOver_(scanned, std::string_view(name_, nameLength_), unchanged);
    forwarded_ = false;
    if (!backUpOne(scanned, unchanged))
        return false;
    if (forwarded_ && leaveLink_)
        leaveLink_(scanned, std::string_view(name_, nameLength_), unchanged);
    out_.betweenDataSets();
    return true;
}

bool BackupJob::backUpNamed(const Scanned &scanned, std::string_view name, bool unchanged)
{
    atScan_ = false;
    forwarded_ = false;
    nameLength_ = name.size() < sizeof name_ - 1 ? name.size() : sizeof name_ - 1;
    memcpy(name_, name.data(), nameLength_);
    name_[nameLength_] = '\0';
    return backUpOne(scanned, unchanged);
}

void BackupJob::abandon()
{
    kx_.AbortBackup(&sequence_);
    kx_.AbortScan(&sequence_);
}

void BackupJob::describe(format::MemberDescriptor &member, const Scanned &scanned, format::Listing listing) const
{
    member.name.assign(name_, nameLength_);
    member.tsaType = static_cast<uint16_t>(session_.type());
    member.nameSpace = scanned.nameSpace;
    member.parent = scanned.parent;
    member.archive = scanned.archive;
    member.listing = listing;
    member.created = scanned.created;
    member.modified = scanned.modified;
    member.accessed = scanned.accessed;
    member.size = scanned.size;
    // What the scan tells; the stream's header tells more, where it is read.
    member.identity = format::Identity{};
    member.identity.kind = static_cast<uint8_t>(scanned.parent ? DataSetKind::Directory : DataSetKind::Unknown);
    member.identity.size = scanned.parent ? 0 : scanned.size;
}

bool BackupJob::backUpOne(const Scanned &scanned, bool unchanged)
{
    if (nameLength_ == 0 || nameLength_ > format::c_MaxNameLength) {
        out_.message("cannot back up " + printable(std::string_view(name_, nameLength_), style_) +
                     ": the name is longer than an archive holds (1023 bytes)");
        out_.count(BackupOutput::Count::Failed);
        return true;
    }
    if (dryRun_) {
        // A dry run reports what the scan could not give, as the backup would.
        if (scanned.parent && reportsOn(std::string_view(name_, nameLength_), previewed_)) {
            takeModuleLog();
            if (const unsigned int code = kx_.BeginBackupNoScan(name_, &sequence_, false); code != 0)
                return !stopsAfterReport(code, scanned.size);
            kx_.AbortBackup(&sequence_);
        }
        return preview(scanned.parent, scanned.size);
    }
    if (unchanged && listUnchanged(scanned))
        return true;
    takeModuleLog();
    // The data set the scan stands on, or (a job given names by another's
    // scan) the one the name gives.
    const unsigned int code = atScan_ ? kx_.BeginBackupNoScan(name_, &sequence_, false)
                                      : kx_.BeginBackup(name_, &sequence_, nullptr, nullptr, nullptr, nullptr, nullptr, false);
    if (code != 0 && scanned.parent && reportsOn(std::string_view(name_, nameLength_), member_.name))
        return !stopsAfterReport(code, scanned.size);
    // The TSA leaves the data set out (the file-system TSA: sockets).
    if (code == KXSMS_ERR_EXCLUDED_BY_TSA) {
        // Not data: a socket is made again by the program that listens on it.
        out_.message(printable(name_, style_) + ": ignored: the TSA has no backup of it (a socket)");
        out_.count(BackupOutput::Count::Skipped);
        return true;
    }
    if (code != 0)
        return !stopsAfterOpenFailure(scanned, code);
    return save(scanned);
}

bool BackupJob::listUnchanged(const Scanned &scanned)
{
    DataSetHeader header;
    takeModuleLog();
    const unsigned int code = readStreamHeader(kx_, std::string(name_, nameLength_), atScan_, sequence_,
                                               options_.clearArchive, header_, stream_, header);
    // Changed since the scan read its flag (another kind, another size): it is saved.
    if (code == 0 && header.kind != DataSetKind::Unknown &&
        ((header.kind == DataSetKind::Directory) != scanned.parent ||
         (header.kind == DataSetKind::File && header.size != scanned.size)))
        return false;
    // A data set that cannot be opened any more is saved the usual way,
    // which names it with the cause; so is a file-system data set whose
    // header did not read whole (its version would be unknown).
    if (code != 0 || (header.kind == DataSetKind::Unknown && session_.type() == KXSMS_TSA_FILE_SYSTEM))
        return false;
    describe(listed_, scanned, format::Listing::Unchanged);
    if (header.kind != DataSetKind::Unknown)
        listed_.identity = identityOf(header);
    out_.listMember(listed_);
    out_.count(BackupOutput::Count::Unchanged);
    return true;
}

bool BackupJob::save(const Scanned &scanned)
{
    describe(member_, scanned, format::Listing::Saved);
    out_.showing(member_.name);
    stream_.reset();
    // The member's header is written with the first block, which holds the
    // stream's header: what identifies the version saved.
    bool begun = false;
    auto begin = [&] {
        if (begun)
            return;
        out_.classified();
        if (stream_.headerKnown())
            member_.identity = identityOf(stream_.header());
        out_.beginMember(member_);
        begun = true;
    };

    bool complete = true;
    unsigned int code = 0;
    for (;;) {
        unsigned char *block = out_.stopping() ? nullptr : out_.nextBlock();
        if (block == nullptr) {
            complete = false;
            break;
        }
        unsigned int read = 0;
        bool endOfData = false;
        code = kx_.Backup(&sequence_, block, KXSMS_MAX_BLOCK, &read, &endOfData);
        // "Data in use" from a read: the file-system TSA gave the whole stream of
        // the file as it was opened, and the file changed while it was read.
        // A failed read's block is not written: back to the pool, or a job
        // whose reads keep failing would run out of blocks.
        if (code != 0)
            out_.unused(block);
        if (code == KXSMS_ERR_DATA_IN_USE && read == 0) {
            // The stream is whole (the copy as the file was when opened);
            // the file is not that copy any more.
            begin();
            out_.endMember(true);
            // The TSA says why when it could not look at the file again.
            const std::string why = tsaDetail(takeModuleLog());
            out_.message("warning: " + printable(member_.name, style_) + ": " +
                         (why.empty() ? "changed while it was being read" : why));
            out_.count(BackupOutput::Count::FileData, fileDataOf(member_));
            out_.count(BackupOutput::Count::DoneButFailed);
            return true;
        }
        if (code != 0) {
            complete = false;
            break;
        }
        if (!begun && !stream_.headerKnown()) {
            stream_.feed(block, read);
            if (leavesLinks_ && stream_.headerKnown() && stream_.header().inode != 0) {
                out_.unused(block);
                kx_.AbortBackup(&sequence_);
                forwarded_ = true;
                return true;
            }
        }
        begin();
        out_.writeBlock(block, read);
        out_.count(BackupOutput::Count::Bytes, read);
        if (endOfData)
            break;
    }
    begin();
    out_.endMember(complete);
    if (out_.stopping()) {
        // In the archive, but not whole: counted as failed, not as saved,
        // and its data not as file data, as verify and list count the member.
        out_.count(BackupOutput::Count::Failed);
        out_.message("stopped inside " + printable(member_.name, style_) + ": it is marked incomplete");
        return false;
    }
    if (!complete)
        return !stopsAfterFailure("cannot read " + printable(member_.name, style_), code);
    // File data counts members saved whole (for a stream kxsms does not
    // read, another TSA's, the scan's size).
    out_.count(BackupOutput::Count::FileData, fileDataOf(member_));
    out_.count(BackupOutput::Count::Done);
    out_.saved(member_.name, scanned.size);
    return true;
}

bool BackupJob::stopsAfterOpenFailure(const Scanned &scanned, unsigned int code)
{
    // Listed all the same: a restore of a chain then knows it was there,
    // takes an earlier copy and does not remove it.
    describe(listed_, scanned, format::Listing::NotSaved);
    out_.listMember(listed_);
    const std::string log = takeModuleLog();
    const std::optional<SmsCause> cause = lastSmsCause(log);
    // Gone between the scan and the open (tar: "File removed before we read it").
    if (cause && cause->code == c_SmsNoDataSetsFound) {
        out_.message(printable(name_, style_) + ": removed before it was read");
        out_.count(BackupOutput::Count::Failed);
        return stopsTheJob(code);
    }
    out_.message("cannot back up " + printable(name_, style_) + ": " +
                 describeFailure(session_.text(code), cause, tsaDetail(log)));
    out_.count(BackupOutput::Count::Failed);
    return stopsTheJob(code);
}

bool BackupJob::stopsAfterReport(unsigned int code, unsigned long long leftOut)
{
    const std::string log = takeModuleLog();
    const std::optional<SmsCause> cause = lastSmsCause(log);
    const std::optional<uint32_t> sms = cause ? cause->code : std::nullopt;
    if (sms == c_SmsDataSetInUse) {
        // Entries made, removed or renamed while the scan went through it.
        out_.message("warning: " + printable(name_, style_) + ": changed while it was being read");
        out_.count(BackupOutput::Count::Failed);
        return stopsTheJob(code);
    }
    return stopsAfterContentsFailure(code, cause, leftOut);
}

bool BackupJob::stopsAfterContentsFailure(unsigned int code, const std::optional<SmsCause> &cause,
                                          unsigned long long leftOut)
{
    // -x: the TSA gave a mount point below the path, and did not enter it.
    if (code == KXSMS_ERR_EXCLUDED_BY_TSA) {
        out_.message(printable(name_, style_) + ": on a different file system; not dumped");
        out_.count(BackupOutput::Count::Skipped);
        return false;
    }
    if (cause && cause->code == c_SmsOverflow && leftOut > 0) {
        out_.message("cannot back up " + std::to_string(leftOut) + (leftOut == 1 ? " entry" : " entries") + " in " +
                     printable(name_, style_) +
                     ": the names are longer than 1023 bytes (they are left out with all they hold)");
        out_.count(BackupOutput::Count::Failed, leftOut);
        return stopsTheJob(code);
    }
    out_.message("cannot read the contents of " + printable(name_, style_) +
                 " (the directory itself is saved): " + describeFailure(session_.text(code), cause));
    out_.count(BackupOutput::Count::Failed);
    return stopsTheJob(code);
}

bool BackupJob::preview(bool parent, unsigned long long size)
{
    writeLine(printable(name_, style_));
    previewed_.assign(name_);
    if (!parent)
        out_.count(BackupOutput::Count::FileData, size);
    out_.count(BackupOutput::Count::Done);
    return !readerGone();
}

bool BackupJob::stopsAfterFailure(const std::string &what, unsigned int code)
{
    const std::string log = takeModuleLog();
    out_.message(what + ": " + failureWords(session_.text(code), log));
    out_.count(BackupOutput::Count::Failed);
    return stopsTheJob(code);
}

bool BackupJob::stopsTheJob(unsigned int code)
{
    if (!session_.fatal(code))
        return false;
    out_.message("backup stopped");
    out_.stopsHere();
    return true;
}

} // namespace kxsms
