#include "filesystem/ErrnoCodes.h"

#include <cerrno>

namespace smsemu {

CCODE errnoCode(FsStep step, int error)
{
    const bool restoring = step == FsStep::Create || step == FsStep::Write || step == FsStep::SetInfo;
    switch (error) {
    case EACCES:
    case EPERM:
        // "No search privileges" and "Cannot create a directory entry" both
        // read as insufficient access rights: this data set fails, the job
        // goes on.
        return step == FsStep::Create || step == FsStep::Write ? NWSMTS_CANT_CREATE_DIR_ENTRY
                                                               : NWSMTS_NO_SEARCH_PRIVILEGES;
    case EROFS:
        return restoring ? NWSMTS_CANT_CREATE_DIR_ENTRY : NWSMTS_OPEN_ERROR;
    case ENOSPC:
    case EDQUOT:
        // "Cannot create a file" reads as out of disk space too.
        return step == FsStep::Create ? NWSMTS_CANT_CREATE_FILE : NWSMTS_OUT_OF_DISK_SPACE;
    case ENOMEM:
        return NWSMTS_OUT_OF_MEMORY;
    case ENOENT:
        return NWSMTS_NO_DATA_SETS_FOUND;
    case EEXIST:
    case ENOTEMPTY:
        return restoring ? NWSMTS_DATA_SET_ALREADY_EXISTS : NWSMTS_OPEN_ERROR;
    case ELOOP:
    case ENOTDIR:
    case EXDEV:
    case ENAMETOOLONG:
        return NWSMTS_INVALID_PATH;
    case EBUSY:
    case ETXTBSY:
        return NWSMTS_DATA_SET_IN_USE;
    default:
        break;
    }
    switch (step) {
    case FsStep::Open:
        return NWSMTS_OPEN_ERROR;
    case FsStep::Read:
        return NWSMTS_READ_ERROR;
    case FsStep::List:
        return NWSMTS_SCAN_FILE_ENTRY_ERR;
    case FsStep::Create:
    case FsStep::Write:
    case FsStep::SetInfo:
        return NWSMTS_WRITE_ERROR;
    }
    return NWSMTS_INTERNAL_ERROR;
}

bool codeSaysIt(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case ENOSPC:
    case EDQUOT:
    case ENOMEM:
    case ENOENT:
    case EEXIST:
    case ENOTEMPTY:
        return true;
    default:
        return false;
    }
}

} // namespace smsemu
