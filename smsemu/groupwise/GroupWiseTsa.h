// The GroupWise TSA ("GroupWise System"): the resource "GroupWise Mail
// Server" and domain resources such as "DOM1:", each backed by a folder;
// data-set names are "DOM1:dir/sub". The domains' data sets are served by a
// file-system TSA of its own whose resources are the domains
// (GroupWiseNames.h): scans (GroupWiseScan.h), backup and restore
// (GroupWiseDataSet.h), archive flags, delete and confinement are the file
// system's, with the names mapped on the way in and out.
#pragma once

#include "requester/Tsa.h"

#include <memory>

namespace smsemu {

class GroupWiseTsa : public Tsa {
public:
    explicit GroupWiseTsa(const TsaConfig &config);

    std::vector<std::string> resourceNames() const override;
    CCODE nameSpaces(std::string_view resource, std::span<const UINT32> &types) const override;
    Separators separators() const override { return {":", "/"}; }
    CCODE separateName(std::string_view name, std::string &parent, std::string &child) const override;
    CCODE joinName(std::string_view parent, std::string_view child, std::string &joined) const override;

    CCODE beginScan(Connection &connection, const ScanRequest &request, std::unique_ptr<Scan> &scan) override;
    CCODE openForBackup(Connection &connection, Scan &at, UINT32 openMode, std::unique_ptr<DataSet> &dataSet) override;
    CCODE openForRestore(Connection &connection, DataSet *parent, const NWSM_DATA_SET_NAME_LIST *newName,
                         UINT32 openMode, std::unique_ptr<DataSet> &dataSet) override;
    CCODE deleteDataSet(Connection &connection, Scan &at) override;
    void loggingOut(Connection &connection) override;

private:
    // The domains as the resources of a file-system TSA, reached through the
    // TSA interface alone.
    std::unique_ptr<Tsa> domains_;
};

} // namespace smsemu
