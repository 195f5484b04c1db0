// A data set of the file-system TSA opened for restore. The untrusted stream
// is taken apart by the shared decoder (core/StreamDecoder.h); this data set
// settles the target once the header has come and commits each kind of data
// set at the close. File data is written straight from the caller's buffer
// into a temporary file beside the target, holes left as holes; only when the
// trailer has been checked (byte count and XXH3-64) is the temporary renamed
// over the target. Where the target does not exist and the process may link
// by descriptor, the temporary file is an unnamed one (O_TMPFILE) in the
// target's folder, linked under the target's name when complete. A broken
// stream answers NWSMTS_EXPECTING_HEADER or NWSMTS_EXPECTING_TRAILER, removes
// the temporary file and leaves the target as it was.
//
// FIFOs and devices are made under a temporary name (mkfifo, mknod) and
// renamed the same way; a hard link is linked to its first name as this
// connection restored it, or to the first name already there with the
// inode the stream names (HardLinks.h). Extended attributes and ACLs are
// applied with NWSM_RESTORE_XATTRS; those the file system refuses are named
// and answer NWSMTS_WRITE_ERROR at the close, after the data was put in
// place.
//
// What a code cannot say (the system's words for an error the code does not
// name, a link's first name, the attributes refused) goes to the host's log
// (HostLog.h), one line for the data set.
#pragma once

#include "filesystem/DirectoryTimes.h"
#include "filesystem/ErrnoCodes.h"
#include "filesystem/FsMeta.h"
#include "filesystem/FsNames.h"
#include "filesystem/HardLinks.h"
#include "filesystem/OwnerNames.h"
#include "filesystem/RestoreFolders.h"
#include "filesystem/Xattrs.h"
#include "core/StreamDecoder.h"
#include "core/UniqueFd.h"
#include "requester/Tsa.h"

#include <memory>
#include <span>
#include <string>

namespace smsemu {

class FsRestoreDataSet : public DataSet {
public:
    // `newName`: a one-name list naming the target, or null (the stream's
    // header names it). The resources and owner names outlive the data set
    // (they belong to the TSA).
    // `folders`: the connection's folders held open (RestoreFolders.h).
    static CCODE open(const std::vector<ResourceConfig> &resources, OwnerNames &owners,
                      std::shared_ptr<DirectoryTimes> directoryTimes, std::shared_ptr<HardLinks> links,
                      std::shared_ptr<RestoreFolders> folders,
                      const NWSM_DATA_SET_NAME_LIST *newName, UINT32 openMode, std::unique_ptr<DataSet> &dataSet);
    ~FsRestoreDataSet() override;

    CCODE write(const UINT8 *buffer, UINT32 size) override;
    CCODE close() override;

private:
    FsRestoreDataSet(const std::vector<ResourceConfig> &resources, OwnerNames &owners)
        : resources_(resources), owners_(owners)
    {
    }
    // Checks a target name and what is there now (before the header is known).
    CCODE chooseTarget(std::string_view name);
    // Finds the folder of the target (made when `create`) and what is there now.
    CCODE settleParent(bool create);
    int folder() const { return parent_ ? parent_->get() : -1; }
    // The folder held was removed: finds the one now at its name (made
    // again if missing) and applies the overwrite rules there.
    CCODE settleAgain();
    // The overwrite rules against what is at the target now.
    CCODE checkExisting() const;
    // The header is complete: settle the target and get ready for the data.
    CCODE prepare();
    // A piece of file data into the temporary file.
    CCODE writeData(std::uint64_t offset, std::span<const std::uint8_t> data);
    const stream::Header &header() const { return decoder_.header(); }
    CCODE commit();
    CCODE commitFile();
    // Gives the complete unnamed file its name; or, when the name was taken
    // meanwhile, a temporary name to be renamed over it.
    CCODE nameUnnamed(int fd);
    CCODE commitSymlink();
    CCODE commitDirectory();
    CCODE commitSpecial();
    CCODE commitHardLink();
    // Mode, owner, attributes and times of a new node that has no
    // descriptor (a FIFO or device under its temporary name).
    CCODE applyToNode(const char *name);
    // Applies the attribute section when asked; failures are kept for the close.
    void applyAttributesTo(const AttributeTarget &target);
    // Says in the host's log what the SMS code cannot (a link target, an errno).
    void tell(const std::string &what) const;
    // The code of a system error at a step, its words told where the code
    // does not say them.
    CCODE failedWith(FsStep step, int error) const;
    CCODE applyOwner(int fd, const char *name, int flags);
    // The owner and group the stream asks for, by name where known here.
    void wantedOwner(uid_t &uid, gid_t &gid) const;
    // The permission bits a restored file is to get (before safeMode).
    mode_t fileMode() const;
    // Whether a file made in the folder already has the owner asked for
    // (or none is asked), as learned from the folder's first file.
    bool ownerAsMade(const RestoreFolders::Creates &creates) const;
    // Learns from the folder's first file what the system gives new files
    // there: 0, or the errno of a look that failed.
    int learnCreates(int fd);
    // The mode to give a restored file: without setuid and setgid when the
    // file could not be given the stream's owner and group, so that a
    // restore by an unprivileged user makes no set-id program of its own.
    mode_t safeMode(mode_t mode) const;
    CCODE fail(CCODE rc);
    void discard();

    const std::vector<ResourceConfig> &resources_;
    OwnerNames &owners_;
    std::shared_ptr<DirectoryTimes> directoryTimes_;
    std::shared_ptr<HardLinks> links_;
    UINT32 openMode_ = 0;
    bool nameGiven_ = false;

    FsName target_;
    std::shared_ptr<RestoreFolders> folders_;
    RestoreFolders::Folder parent_;
    bool existed_ = false;
    bool ownerRestored_ = false; // the data set has the stream's owner and group
    bool ownerAsMade_ = false; // the temporary file was made with the owner asked: no chown
    bool madeWithMode_ = false; // ... and with its final mode: no chmod unless attributes change it
    FsMeta existing_;
    UniqueFd temporary_;
    std::string temporaryName_;
    std::uint64_t dataEnd_ = 0; // the end of the last extent written

    stream::Decoder decoder_;
    std::string attributeFailures_; // names the file system refused
    int attributeError_ = 0;
};

} // namespace smsemu
