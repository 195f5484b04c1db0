// The directory TSA ("Directory"): the objects of a directory tree, kept in a
// JSON store (DirectoryStore.h), named by typed distinguished names ending in
// the top of the tree (DirectoryNames.h). Its target service is the tree; it
// lists the tree resource (named as the tree) and "Schema". It scans
// (DirectoryScan.h), backs up, restores and deletes objects
// (DirectoryDataSet.h).
//
// The store is read again when it changed on disk (at a scan begin and a
// restore open, and before each change), so processes sharing a store see
// each other's changes. The archive flag of a data set is set unless its
// archive status was set (NWSMTSSetArchiveStatus with a non-zero flag) after
// a backup of the content it has now: the marks live in this process only,
// and a change of the class or attributes, by whatever process, sets the flag
// again.
#pragma once

#include "directory/DirectoryEntry.h"
#include "directory/DirectoryStore.h"
#include "directory/DirectoryStream.h"
#include "directory/DirectoryTsaBase.h"

#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace smsemu {

class DirectoryTsa : public DirectoryTsaBase {
public:
    explicit DirectoryTsa(const TsaConfig &config);

    CCODE beginScan(Connection &connection, const ScanRequest &request, std::unique_ptr<Scan> &scan) override;
    CCODE openForBackup(Connection &connection, Scan &at, UINT32 openMode, std::unique_ptr<DataSet> &dataSet) override;
    CCODE openForRestore(Connection &connection, DataSet *parent, const NWSM_DATA_SET_NAME_LIST *newName,
                         UINT32 openMode, std::unique_ptr<DataSet> &dataSet) override;
    CCODE deleteDataSet(Connection &connection, Scan &at) override;

    // ---- For its scans and data sets, each with lock() held.
    std::unique_lock<std::mutex> lock() const { return std::unique_lock(mutex_); }
    const DirectoryTree &tree() const { return store_.tree(); }
    const EntryPtr &schema() const { return schema_; }
    // The entry now standing for one listed before: objects and the top as
    // the store has them (null when gone), the others as they are.
    EntryPtr current(const EntryPtr &listed) const;
    bool archiveFlag(const DirectoryEntry &entry) const;
    void setArchived(const std::string &key, std::uint64_t fingerprint, bool archived);
    // Creates or replaces what `name` names with a restored stream's content.
    CCODE commitRestore(const std::string &name, const StreamedEntry &content, UINT32 openMode);

private:
    static CCODE placement(const DirectoryTree &tree, const DirectoryName &name, UINT32 openMode);
    CCODE refresh();
    void report(const std::string &problem);
    // What a name denotes now; null when nothing.
    EntryPtr resolve(const DirectoryName &name) const;
    // A name a restore may write to: NWSMTS_INVALID_PATH when it cannot be.
    CCODE restoreTarget(const std::string &name, DirectoryName &parsed) const;

    mutable std::mutex mutex_;
    DirectoryStore store_;
    EntryPtr treeResource_;
    EntryPtr schema_;
    std::unordered_map<std::string, std::uint64_t> archived_; // key -> fingerprint backed up
    std::string lastProblem_;
};

} // namespace smsemu
