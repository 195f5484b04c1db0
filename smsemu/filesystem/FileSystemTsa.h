// The file-system TSA ("Linux File System"): data sets are absolute POSIX
// paths under the directories of its resources (FsNames.h). It scans real
// directories (FsScan.h), streams backups (FsBackup.h), restores
// (FsRestore.h), clears archive flags (ArchiveFlag.h) and deletes files and
// empty directories.
#pragma once

#include "filesystem/ArchiveFlag.h"
#include "filesystem/DirectoryTimes.h"
#include "filesystem/HardLinks.h"
#include "filesystem/OwnerNames.h"
#include "filesystem/RestoreFolders.h"
#include "requester/Tsa.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace smsemu {

class FileSystemTsa : public Tsa {
public:
    explicit FileSystemTsa(const TsaConfig &config);

    std::vector<std::string> resourceNames() const override;
    CCODE nameSpaces(std::string_view resource, std::span<const UINT32> &types) const override;
    Separators separators() const override { return {"/", "/"}; }
    CCODE separateName(std::string_view name, std::string &parent, std::string &child) const override;
    CCODE joinName(std::string_view parent, std::string_view child, std::string &joined) const override;
    bool hasCachingMode() const override { return true; }

    CCODE beginScan(Connection &connection, const ScanRequest &request, std::unique_ptr<Scan> &scan) override;
    CCODE openForBackup(Connection &connection, Scan &at, UINT32 openMode, std::unique_ptr<DataSet> &dataSet) override;
    CCODE openForRestore(Connection &connection, DataSet *parent, const NWSM_DATA_SET_NAME_LIST *newName,
                         UINT32 openMode, std::unique_ptr<DataSet> &dataSet) override;
    CCODE deleteDataSet(Connection &connection, Scan &at) override;
    // Applies the times of the directories the connection restored and
    // commits its archive-flag clears.
    void loggingOut(Connection &connection) override;

private:
    // The connection's hard-link table, made at its first use.
    std::shared_ptr<HardLinks> hardLinksOf(const Connection &connection);

    // The connection's folders held open for restores, made at its first use.
    std::shared_ptr<RestoreFolders> restoreFoldersOf(const Connection &connection);

    OwnerNames owners_;
    std::unique_ptr<ArchiveFlags> archiveFlags_;
    std::mutex timesMutex_;
    std::map<UINT32, std::shared_ptr<DirectoryTimes>> directoryTimes_; // by connection handle
    std::map<UINT32, std::shared_ptr<HardLinks>> hardLinks_;           // by connection handle, under timesMutex_
    std::map<UINT32, std::shared_ptr<RestoreFolders>> restoreFolders_; // by connection handle, under timesMutex_
    std::atomic<unsigned long> removals_{0}; // data sets removed, directories changed: folders held open are found again
};

} // namespace smsemu
