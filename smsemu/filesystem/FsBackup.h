// A data set of the file-system TSA opened for backup: it reads the backup
// stream (StreamFormat.h) straight into the caller's buffer. File data goes
// from pread into the buffer without a copy; the holes of a sparse file are
// found with SEEK_DATA / SEEK_HOLE and never read. A file that changes while
// it is read (fewer bytes than its header promised, or another size or
// modification time at the end) fails the read with NWSMTS_READ_ERROR.
#pragma once

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
    static CCODE open(const FsScan &at, UINT32 openMode, OwnerNames &owners, std::unique_ptr<DataSet> &dataSet);
    ~FsBackupDataSet() override;

    CCODE read(UINT8 *buffer, UINT32 size, UINT32 &bytesRead) override;
    CCODE setArchiveStatus(UINT32 setFlag, UINT32 archivedDateAndTime) override;
    CCODE close() override;

private:
    enum class Phase { Header, NextExtent, ExtentData, Trailer, Done, Failed };

    FsBackupDataSet() = default;
    CCODE findExtent();
    CCODE checkUnchanged();
    // Puts a piece of stream structure out: straight into the caller's buffer
    // when it fits there, else through the staging buffer.
    template <class Encode> void emit(std::size_t length, UINT8 *buffer, UINT32 size, UINT32 &filled, Encode &&encode);

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
    XXH3_state_s *hash_ = nullptr;
    ArchiveContext archive_;  // the flags, connection and resource of the data set
    bool clearAtEnd_ = false; // a clear asked before the end was read
    std::uint8_t staging_[stream::kMaxHeader];
    std::size_t stagingLength_ = 0;
    std::size_t stagingSent_ = 0;
};

} // namespace smsemu
