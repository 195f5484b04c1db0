#include "directory/LdapDataSet.h"

namespace smsemu {

CCODE LdapBackup::read(UINT8 *buffer, UINT32 size, UINT32 &bytesRead)
{
    bytesRead = stream_.read(buffer, size);
    if (bytesRead < size && !ended_) {
        ended_ = true;
        if (clearAtEnd_)
            return tsa_.archiveFlags().record(connection_, uuid_, stamp_, false);
    }
    return 0;
}

CCODE LdapBackup::setArchiveStatus(UINT32 setFlag, UINT32)
{
    if (setFlag == 0) {
        clearAtEnd_ = false;
        return tsa_.archiveFlags().record(connection_, uuid_, stamp_, true);
    }
    if (!ended_) {
        clearAtEnd_ = true; // once the stream has been read to its end
        return 0;
    }
    return tsa_.archiveFlags().record(connection_, uuid_, stamp_, false);
}

CCODE LdapRestore::write(const UINT8 *buffer, UINT32 size)
{
    return reader_.write(std::span<const UINT8>(buffer, size));
}

CCODE LdapRestore::close()
{
    if (CCODE rc = reader_.finish())
        return rc;
    return tsa_.commitRestore(*session_, name_ ? *name_ : reader_.name(), reader_.data(), openMode_);
}

} // namespace smsemu
