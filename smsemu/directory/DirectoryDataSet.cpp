#include "directory/DirectoryDataSet.h"

#include "directory/DirectoryTsa.h"

#include <algorithm>
#include <cstring>

namespace smsemu {
DirectoryBackup::DirectoryBackup(DirectoryTsa &tsa, const DirectoryEntry &entry)
    : tsa_(tsa), key_(entry.key), fingerprint_(entry.fingerprint), stream_(entryStream(entry))
{
}

CCODE DirectoryBackup::read(UINT8 *buffer, UINT32 size, UINT32 &bytesRead)
{
    bytesRead = stream_.read(buffer, size);
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
    return reader_.write(std::span<const UINT8>(buffer, size));
}

CCODE DirectoryRestore::close()
{
    if (CCODE rc = reader_.finish())
        return rc;
    StreamedEntry content;
    if (CCODE rc = readStreamData(reader_.data(), content))
        return rc;
    auto guard = tsa_.lock();
    return tsa_.commitRestore(name_ ? *name_ : reader_.name(), content, openMode_);
}

} // namespace smsemu
