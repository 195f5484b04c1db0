// Data sets of the directory TSA: the backup of one data set (its whole
// stream is made at the open; entries are small) and a restore, which takes
// the stream in blocks of any size, keeps the object's data (at most 16 MiB)
// and changes the store only at the close, once the trailer has been
// checked.
#pragma once

#include "core/HeldStream.h"
#include "directory/DirectoryStream.h"
#include "requester/Tsa.h"

#include <optional>
#include <string>

namespace smsemu {

class DirectoryTsa;

class DirectoryBackup : public DataSet {
public:
    DirectoryBackup(DirectoryTsa &tsa, const DirectoryEntry &entry);
    CCODE read(UINT8 *buffer, UINT32 size, UINT32 &bytesRead) override;
    // A non-zero flag marks the content backed up as archived (the archive
    // flag clears); 0 sets the flag again. The date is not used.
    CCODE setArchiveStatus(UINT32 setFlag, UINT32 archivedDateAndTime) override;

private:
    DirectoryTsa &tsa_;
    std::string key_;
    std::uint64_t fingerprint_;
    HeldStream stream_;
};

// The data set is named by the open's name list when it had one, else by the
// stream's header. A failed write sticks: the close answers it again and
// changes nothing.
class DirectoryRestore : public DataSet {
public:
    DirectoryRestore(DirectoryTsa &tsa, UINT32 openMode, std::optional<std::string> name)
        : tsa_(tsa), openMode_(openMode), name_(std::move(name))
    {
    }
    CCODE write(const UINT8 *buffer, UINT32 size) override;
    CCODE close() override;

private:
    DirectoryTsa &tsa_;
    UINT32 openMode_;
    std::optional<std::string> name_;
    DirectoryStreamReader reader_;
};

} // namespace smsemu
