#include "DirectoryDataSet.h"

#include "DirectoryTsa.h"

#include <algorithm>
#include <cstring>

namespace smsemu {
DirectoryBackup::DirectoryBackup(DirectoryTsa &tsa, const DirectoryEntry &entry)
    : tsa_(tsa), key_(entry.key), fingerprint_(entry.fingerprint), stream_(entryStream(entry))
{
}

CCODE DirectoryBackup::read(UINT8 *buffer, UINT32 size, UINT32 &bytesRead)
{
    std::size_t take = std::min<std::size_t>(size, stream_.size() - offset_);
    if (take != 0)
        std::memcpy(buffer, stream_.data() + offset_, take);
    offset_ += take;
    bytesRead = static_cast<UINT32>(take);
    return 0;
}

CCODE DirectoryBackup::setArchiveStatus(UINT32 setFlag, UINT32)
{
    auto guard = tsa_.lock();
    tsa_.setArchived(key_, fingerprint_, setFlag != 0);
    return 0;
}

CCODE DirectoryRestore::write(const UINT8 *buffer, UINT32 size)
{
    if (failure_ == 0)
        failure_ = parser_.feed(std::span<const UINT8>(buffer, size), *this);
    return failure_;
}

CCODE DirectoryRestore::close()
{
    if (failure_ != 0)
        return failure_;
    if (CCODE rc = parser_.finish())
        return rc;
    if (CCODE rc = readStreamData(data_, content_))
        return rc;
    auto guard = tsa_.lock();
    return tsa_.commitRestore(name_ ? *name_ : content_.name, content_, openMode_);
}

CCODE DirectoryRestore::onHeader(std::string_view payload) { return readStreamHeader(payload, content_); }

CCODE DirectoryRestore::onData(std::span<const UINT8> bytes)
{
    if (data_.size() + bytes.size() > kMaxEntryData)
        return NWSMTS_INVALID_DATA_SET;
    data_.append(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    return 0;
}

} // namespace smsemu
