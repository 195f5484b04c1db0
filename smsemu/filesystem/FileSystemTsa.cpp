#include "filesystem/FileSystemTsa.h"

#include "requester/Connection.h"
#include "filesystem/FsBackup.h"
#include "filesystem/FsRestore.h"
#include "filesystem/FsScan.h"
#include "filesystem/HostLog.h"
#include "requester/NameRules.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace smsemu {
namespace {

constexpr UINT32 kBackupModes = NWSM_OPEN_FOR_BACKUP | NWSM_OPEN_KEEP_ACCESS_TIME | NWSM_OPEN_UNPROTECTED;

} // namespace

FileSystemTsa::FileSystemTsa(const TsaConfig &config) : Tsa(config), archiveFlags_(makeArchiveFlags(config)) {}

std::vector<std::string> FileSystemTsa::resourceNames() const
{
    return configuredResourceNames();
}

CCODE FileSystemTsa::nameSpaces(std::string_view resource, std::span<const UINT32> &types) const
{
    return configuredNameSpaces(resource, types);
}

CCODE FileSystemTsa::separateName(std::string_view name, std::string &parent, std::string &child) const
{
    return separatePosixName(name, parent, child);
}

CCODE FileSystemTsa::joinName(std::string_view parent, std::string_view child, std::string &joined) const
{
    return joinPosixName(parent, child, joined);
}

CCODE FileSystemTsa::beginScan(Connection &connection, const ScanRequest &request, std::unique_ptr<Scan> &scan)
{
    // The scan takes the connection's clears into effect where they are
    // safe (FsScan::begin).
    return FsScan::begin(config().resources, request, ArchiveContext{archiveFlags_.get(), connection.handle, 0}, scan);
}

std::shared_ptr<HardLinks> FileSystemTsa::hardLinksOf(const Connection &connection)
{
    std::lock_guard lock(timesMutex_);
    std::shared_ptr<HardLinks> &slot = hardLinks_[connection.handle];
    if (!slot)
        slot = std::make_shared<HardLinks>();
    return slot;
}

std::shared_ptr<RestoreFolders> FileSystemTsa::restoreFoldersOf(const Connection &connection)
{
    std::lock_guard lock(timesMutex_);
    std::shared_ptr<RestoreFolders> &slot = restoreFolders_[connection.handle];
    if (!slot)
        slot = std::make_shared<RestoreFolders>(removals_);
    return slot;
}

CCODE FileSystemTsa::openForBackup(Connection &connection, Scan &at, UINT32 openMode, std::unique_ptr<DataSet> &dataSet)
{
    auto *position = dynamic_cast<FsScan *>(&at);
    if (position == nullptr)
        return NWSMTS_INVALID_SEQUENCE_NUMBER;
    if ((openMode & ~kBackupModes) != 0)
        return NWSMTS_INVALID_OPEN_MODE_TYPE;
    // A position that reports what the scan could not give has nothing to open.
    if (CCODE rc = position->failure())
        return rc;
    return FsBackupDataSet::open(*position, openMode, owners_, hardLinksOf(connection), dataSet);
}

CCODE FileSystemTsa::openForRestore(Connection &connection, DataSet *parent, const NWSM_DATA_SET_NAME_LIST *newName,
                                    UINT32 openMode, std::unique_ptr<DataSet> &dataSet)
{
    if (parent != nullptr)
        return NWSMTS_INVALID_HANDLE;
    std::shared_ptr<DirectoryTimes> times;
    {
        std::lock_guard lock(timesMutex_);
        std::shared_ptr<DirectoryTimes> &slot = directoryTimes_[connection.handle];
        if (!slot)
            slot = std::make_shared<DirectoryTimes>();
        times = slot;
    }
    return FsRestoreDataSet::open(config().resources, owners_, std::move(times), hardLinksOf(connection),
                                  restoreFoldersOf(connection), newName, openMode, dataSet);
}

CCODE FileSystemTsa::deleteDataSet(Connection &, Scan &at)
{
    auto *position = dynamic_cast<FsScan *>(&at);
    if (position == nullptr)
        return NWSMTS_INVALID_SEQUENCE_NUMBER;
    if (position->atResourceRoot() || position->failure() != 0)
        return NWSMTS_DELETE_ERR;
    int flags = position->meta().isDirectory() ? AT_REMOVEDIR : 0;
    removals_.fetch_add(1, std::memory_order_acq_rel);
    if (unlinkat(position->parentDirectory(), position->leaf(), flags) != 0) {
        // A directory that is not empty, no permission, a busy mount point, a
        // failing disk: the code is one, the system's words say which.
        tellHost(position->name(), std::strerror(errno));
        return NWSMTS_DELETE_ERR;
    }
    return 0;
}

void FileSystemTsa::loggingOut(Connection &connection)
{
    archiveFlags_->commit(connection.handle);
    std::shared_ptr<DirectoryTimes> times;
    {
        std::lock_guard lock(timesMutex_);
        hardLinks_.erase(connection.handle);
        restoreFolders_.erase(connection.handle);
        auto found = directoryTimes_.find(connection.handle);
        if (found == directoryTimes_.end())
            return;
        times = std::move(found->second);
        directoryTimes_.erase(found);
    }
    times->apply(config().resources);
    // Modes given to directories at the end: another connection's folders
    // are looked at again.
    removals_.fetch_add(1, std::memory_order_acq_rel);
}

} // namespace smsemu
