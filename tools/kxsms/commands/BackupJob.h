// The backup of the subtrees a job is given: each is scanned with
// traversal, every data set the scan returns is opened and streamed block by
// block into the archive. Exclude patterns are applied to what the scan
// returns; a signal stops the job at its next step.
#ifndef KXSMS_TOOLS_BACKUPJOB_H
#define KXSMS_TOOLS_BACKUPJOB_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

#include "archive/DataSetStream.h"
#include "commands/BackupCommand.h"
#include "commands/BackupOutput.h"
#include "frame/FailureText.h"
#include "frame/ModuleSession.h"
#include "frame/Selection.h"

namespace kxsms {

class NewArchive;

// The archive file being written, and the older one it replaces, so that a
// backup of a tree that holds them leaves them out.
// It is known by device and inode; the names the scan gives are looked at
// (lstat) only when their last component is the archive's, unless the file
// has other names (links) too.
class ArchiveIdentity {
public:
    ArchiveIdentity() = default; // no archive file (a dry run)
    // The file being written and the one it replaces when kept.
    ArchiveIdentity(const NewArchive &archive, KXSMS_TSA_TYPE type);

    // Whether the scan's name is one of them; shown is the name its notice
    // gives: the archive's own name for the file being written, nothing for
    // the older archive under that name (the same notice covers it).
    bool is(const char *name, std::string &shown) const;

private:
    struct File {
        bool anyName = false; // several names: the leaf says nothing
        dev_t device = 0;
        ino_t inode = 0;
        std::string leaf;
        bool is(const char *name) const;
        bool hasLeaf(const char *name, size_t length) const;
    };
    void add(const struct stat &st, const std::string &path);

    size_t hidden_ = 0; // the bytes the temporary name puts before the archive's name

    std::vector<File> files_;
};

// What the scan said of the data set it stands on.
struct Scanned {
    uint32_t nameSpace = 0;
    bool parent = false;
    bool archive = false;
    long created = 0;
    long modified = 0;
    long accessed = 0;
    unsigned long long size = 0;
};

class BackupJob {
public:
    // A dry run lists the names on stdout instead of saving them.
    BackupJob(const BackupOptions &options, ModuleSession &session, BackupOutput &out, bool dryRun,
              const ArchiveIdentity &archive);

    // Backs up everything below path; false when the job must stop.
    bool backUp(const std::string &given);

    // The owning name space of the data set a scan would start at.
    uint32_t nameSpaceOf(const std::string &start);
    // Backs up what a scan from start returns (its data sets recorded in
    // nameSpace); with oneLevel, the start and its children, each child
    // directory handed to the subtree callback (scanSubtreesElsewhere)
    // instead of being saved. False when the job must stop.
    bool backUpSubtree(const std::string &start, uint32_t nameSpace, bool oneLevel);

    // The directories below the start of a scan of one level go to
    // subtree, which returns false when the job must stop.
    using Subtree = std::function<bool(std::string_view name)>;
    void scanSubtreesElsewhere(Subtree subtree) { subtree_ = std::move(subtree); }

    // Hands each data set of the scan that is not a directory, and whose
    // size the scan gives as at least fromSize, to another job (by name)
    // instead of saving it here; the hand-over returns false when the job
    // must stop. Smaller ones are saved here, at the scan's position.
    using HandOver = std::function<bool(const Scanned &, std::string_view name, bool unchanged)>;
    void handOverFiles(HandOver handOver, unsigned long long fromSize = 0)
    {
        handOver_ = std::move(handOver);
        handOverFrom_ = fromSize;
    }

    // Backs up one data set by its name (from another job's scan), as
    // backUp would at the scan's position; false when the job must stop.
    bool backUpNamed(const Scanned &scanned, std::string_view name, bool unchanged);

    // A file with more than one name is not saved here: its stream is
    // closed unread after its header (so the connection does not count
    // its inode as saved) and forwarded() says so. Another job saves it,
    // one that gets every such file, so that its later names become links.
    void leaveFilesWithSeveralNames() { leavesLinks_ = true; }
    bool forwarded() const { return forwarded_; }
    // A file with several names that the scan of this job left goes here.
    using LeftLink = std::function<void(const Scanned &, std::string_view name, bool unchanged)>;
    void whenLinkLeft(LeftLink left) { leaveLink_ = std::move(left); }

    // Ends whatever is open after a stop or a failed write.
    void abandon();

private:
    // What a scan is for: all it returns; its start only (then it is
    // ended); the children of its start (one level).
    enum class Scope { Whole, Start, Children };
    // Scans from start; false when the job must stop.
    bool scan(const std::string &start, uint32_t nameSpace, Scope scope);
    // The data set the scan stands on (its name in name_); false when the
    // job must stop.
    bool atScanPosition(const Scanned &scanned, Scope scope);
    bool backUpOne(const Scanned &scanned, bool unchanged);
    // Saves the data set the module has open; false when the job must stop.
    bool save(const Scanned &scanned);
    // Lists a data set the backup passes over as unchanged, with what
    // identifies the version it is (read from its stream's header); false
    // when it turns out to have changed since the scan (it is then saved).
    bool listUnchanged(const Scanned &scanned);

    // A position where the scan reports on a directory saved before (what
    // it could not give of its contents); true when the job must stop.
    bool stopsAfterReport(unsigned int code, unsigned long long leftOut);
    // Reports the contents of a saved directory, or part of them, left out;
    // true when the module says the job must stop.
    bool stopsAfterContentsFailure(unsigned int code, const std::optional<SmsCause> &cause, unsigned long long leftOut);
    // A data set the backup could not open: named with the cause, listed
    // as not saved; true when the job must stop.
    bool stopsAfterOpenFailure(const Scanned &scanned, unsigned int code);
    void describe(format::MemberDescriptor &member, const Scanned &scanned, format::Listing listing) const;

    // --dry-run: lists the name that would be saved; false when the
    // listing's reader has gone.
    bool preview(bool parent, unsigned long long size);

    // Reports a failure; true when the module says the job must stop.
    bool stopsAfterFailure(const std::string &what, unsigned int code);

    // True (and said) when the module calls the code fatal.
    bool stopsTheJob(unsigned int code);

    const BackupOptions &options_;
    ModuleSession &session_;
    CKXSMS &kx_;
    BackupOutput &out_;
    bool dryRun_;
    bool atScan_ = true; // data sets are opened at this job's scan position, not by name
    bool leavesLinks_ = false;
    bool forwarded_ = false;
    HandOver handOver_;
    unsigned long long handOverFrom_ = 0;
    Subtree subtree_;
    LeftLink leaveLink_;
    std::string startName_; // the start of a scan of one level, as the scan names it
    const ArchiveIdentity &archive_;
    NameStyle style_;
    Selection selection_;
    std::vector<unsigned char> header_; // where a stream's header is read (listUnchanged)
    DataSetStream stream_; // the header of the stream being saved
    char name_[KXSMS_NAME_BUFFER + 8];
    size_t nameLength_ = 0;
    unsigned int sequence_ = 0;
    format::MemberDescriptor member_;
    format::MemberDescriptor listed_;
    std::string previewed_; // --dry-run: the name listed last
};

} // namespace kxsms

#endif
