// A scan of the file-system TSA over a real directory tree. The begin stands
// on the starting data set; with scan type bit 0 set the next steps give its
// immediate children, else its whole subtree depth-first, parents before
// their children. Children come in byte order of their names: each directory
// is read once (getdents64) and sorted, and each entry costs one statx. Only
// one sorted listing per directory level is held, so memory does not grow
// with the size of the tree. Symbolic links are data sets and never followed.
//
// What cannot be given fails alone, at a position of its own, and the walk
// goes on: opening such a position for backup answers its failure() code.
// - An entry that cannot be described (statx) is a position with that
//   entry's name, no metadata and the code of the error; one that is gone
//   since its directory was listed answers NWSMTS_NO_DATA_SETS_FOUND (it was
//   removed before it was read).
// - A directory that cannot be listed has been given with its metadata; the
//   scan then stands on it a second time, with the code of the error. One
//   that is gone, or no directory any more, when it is to be listed (removed
//   or renamed since it was given) answers NWSMTS_DATA_SET_IN_USE there.
// - A directory whose contents changed while the scan went through them (its
//   modification time moved: entries made, removed or renamed) is stood on
//   again after them with NWSMTS_DATA_SET_IN_USE.
// - Entries whose names would be longer than 1023 characters cannot be named
//   through the interface: after the rest of their directory, the scan stands
//   on that directory once more with NWSMTS_OVERFLOW, and the size it reports
//   there is the number of entries left out, everything below such a
//   directory included.
// - With scan type NWSM_SCAN_TYPE_ONE_FILE_SYSTEM a directory below the start
//   that is the root of a mount, or on another device, is given but not
//   descended into; the scan stands on it a second time with
//   NWSMTS_DATA_SET_EXCLUDED.
#pragma once

#include "filesystem/ArchiveFlag.h"
#include "requester/Config.h"
#include "filesystem/FsMeta.h"
#include "requester/SelectionFilter.h"
#include "requester/Tsa.h"
#include "core/UniqueFd.h"

#include <memory>
#include <string>
#include <vector>

namespace smsemu {

class FsScan : public Scan {
public:
    // Begins a scan at the name of the request's first name-list entry;
    // archive flags are read through `archive` (its resource is filled in).
    static CCODE begin(const std::vector<ResourceConfig> &resources, const ScanRequest &request, ArchiveContext archive,
                       std::unique_ptr<Scan> &scan);

    CCODE next() override;

    // The data set the scan stands on: its directory, its name there ("."
    // for a resource directory), its full name and what statx said of it.
    int parentDirectory() const { return currentParent_; }
    const char *leaf() const { return currentLeaf_; }
    const std::string &name() const { return name_; }
    const FsMeta &meta() const { return meta_; }
    bool atResourceRoot() const { return depth_ == 0 && startIsResourceRoot_; }
    // 0 for a data set; else the position reports what could not be given.
    CCODE failure() const { return failure_; }
    const ArchiveContext &archive() const { return archive_; }

private:
    struct Level {
        UniqueFd fd;                      // the directory listed
        std::size_t nameLength = 0;       // length of its data-set name (a prefix of name_)
        std::vector<char> pool;           // the entry names, each terminated
        std::vector<std::uint32_t> order; // offsets into pool, sorted by name
        std::size_t index = 0;
        FsMeta meta;               // of the directory listed
        std::uint64_t tooLong = 0; // entries passed over for the length of their names
        bool changeChecked = false;
    };

    FsScan() = default;
    CCODE describe();
    CCODE report(CCODE failure, std::uint64_t leftOut);
    CCODE descend();
    bool crossesMount(int directory) const;
    CCODE list(Level &level);
    bool inModifiedRange(const FsMeta &meta) const;
    // The entries below a directory whose name is too long to give, itself
    // included: all are left out.
    std::uint64_t countLeftOut(int directory, const char *leaf);

    std::vector<UINT32> nameTypes_; // name-space types of the listed names
    UINT32 creatorNameSpace_ = 0;
    bool oneLevel_ = false;
    bool oneFileSystem_ = false;
    std::uint64_t startDevice_ = 0;
    UINT32 firstModified_ = 0;
    UINT32 lastModified_ = 0;
    SelectionFilter filter_;

    UniqueFd startParent_;
    std::string startLeaf_;
    bool startIsResourceRoot_ = false;

    std::vector<std::unique_ptr<Level>> levels_; // reused as the walk goes up and down
    std::size_t depth_ = 0;
    std::vector<char> direntBuffer_;

    std::string name_;
    FsMeta meta_;
    int currentParent_ = -1;
    const char *currentLeaf_ = ".";
    bool descendNext_ = false;
    CCODE failure_ = 0;
    std::uint64_t leftOut_ = 0;
    ArchiveContext archive_;
    std::unique_ptr<ArchiveFlags::Sweep> sweep_; // a whole-resource scan: records of what it meets
};

} // namespace smsemu
