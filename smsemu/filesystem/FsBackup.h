// A data set of the file-system TSA opened for backup: it reads the backup
// stream (StreamFormat.h) straight into the caller's buffer. File data goes
// from pread into the buffer without a copy; the holes of a sparse file are
// found with SEEK_DATA / SEEK_HOLE and never read.
//
// The stream holds the data up to the size seen at the open: a file that
// grows is cut there, one that shrinks is padded with zeros to it. When the
// file changed while it was read (it shrank, or its size or modification
// time differ at the end), the trailer is put at the end of a full read
// (after a pad record) and the read after it answers
// NWSMTS_DATA_SET_IN_USE: the host has the whole, restorable stream and
// learns that it is not the file as it is now.
//
// FIFOs and devices are never opened: their streams are a header only.
// Sockets have no stream (NWSMTS_DATA_SET_EXCLUDED). A file whose inode this
// connection saved already under another name is a hard-link stream that
// names the first (HardLinks.h).
#pragma once

#include "filesystem/HardLinks.h"
#include "filesystem/FsMeta.h"
#include "filesystem/FsScan.h"
#include "filesystem/OwnerNames.h"
#include "core/StreamFormat.h"
#include "requester/Tsa.h"
#include "core/UniqueFd.h"

#include <memory>
#include <string>

struct XXH3_state_s;

namespace smsemu {

class FsBackupDataSet : public DataSet {
public:
    // Opens the data set the scan stands on. `openMode` is checked by the
    // caller.
    // `links` is the connection's table (null: every name is saved whole).
    static CCODE open(const FsScan &at, UINT32 openMode, OwnerNames &owners, std::shared_ptr<HardLinks> links,
                      std::unique_ptr<DataSet> &dataSet);
    ~FsBackupDataSet() override;

    CCODE read(UINT8 *buffer, UINT32 size, UINT32 &bytesRead) override;
    CCODE setArchiveStatus(UINT32 setFlag, UINT32 archivedDateAndTime) override;
    CCODE close() override;

private:
    enum class Phase {
        Header,
        Attributes,
        AttributeData,
        NextExtent,
        ExtentData,
        PadData,
        Trailer,
        Changed,
        Done,
        Failed
    };

    FsBackupDataSet() = default;
    CCODE findExtent();
    void checkUnchanged();
    // Puts the pad record that makes the trailer end the caller's buffer.
    void padBeforeTrailer(UINT8 *buffer, UINT32 size, UINT32 &filled);
    // Puts a piece of stream structure out: straight into the caller's buffer
    // when it fits there, else through the staging buffer.
    template <class Encode>
    void emit(std::size_t length, UINT8 *buffer, UINT32 size, UINT32 &filled, Encode &&encode);

    UniqueFd fd_; // files and directories
    FsMeta meta_; // as opened: the state the header describes
    std::string name_, target_, user_, group_;
    stream::Header header_;
    Phase phase_ = Phase::Header;
    std::uint64_t position_ = 0; // where the next extent is looked for
    std::uint64_t extentOffset_ = 0;
    std::uint64_t extentLeft_ = 0;
    std::uint64_t dataBytes_ = 0;
    bool seekHoles_ = true;
    bool changed_ = false; // the file is no longer what the header describes
    int lookError_ = 0;    // why the look after the data failed (errno), or 0
    bool padded_ = false;
    std::uint64_t padLeft_ = 0;
    std::string attributes_; // the attribute section's entries
    std::uint64_t attributeCount_ = 0;
    std::size_t attributesSent_ = 0;
    std::shared_ptr<HardLinks> links_;
    bool firstOfInode_ = false; // registered as the inode's saved name once complete
    XXH3_state_s *hash_ = nullptr;
    ArchiveContext archive_;  // the flags, connection and resource of the data set
    bool clearAtEnd_ = false; // a clear asked before the end was read
    std::uint8_t staging_[stream::kMaxHeader];
    std::size_t stagingLength_ = 0;
    std::size_t stagingSent_ = 0;
};

} // namespace smsemu
