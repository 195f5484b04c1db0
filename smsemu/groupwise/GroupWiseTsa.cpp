#include "groupwise/GroupWiseTsa.h"

#include "groupwise/GroupWiseDataSet.h"
#include "groupwise/GroupWiseNames.h"
#include "groupwise/GroupWiseScan.h"
#include "core/NameList.h"
#include "core/NameMatch.h"
#include "requester/NameRules.h"

namespace smsemu {
namespace {

// The configuration of the file-system TSA that serves the domains.
TsaConfig domainsConfig(const TsaConfig &config)
{
    TsaConfig fileSystem = config;
    fileSystem.kind = TsaKind::FileSystem;
    fileSystem.resources = domainResources(config.resources);
    return fileSystem;
}

} // namespace

GroupWiseTsa::GroupWiseTsa(const TsaConfig &config) : Tsa(config), domains_(createTsa(domainsConfig(config))) {}

std::vector<std::string> GroupWiseTsa::resourceNames() const
{
    std::vector<std::string> names = configuredResourceNames();
    names.insert(names.begin(), kGroupWiseMailServer);
    return names;
}

CCODE GroupWiseTsa::nameSpaces(std::string_view resource, std::span<const UINT32> &types) const
{
    if (equalsIgnoringCase(resource, kGroupWiseMailServer)) {
        types = {};
        return 0;
    }
    return configuredNameSpaces(resource, types);
}

CCODE GroupWiseTsa::separateName(std::string_view name, std::string &parent, std::string &child) const
{
    return separateGroupWiseName(name, parent, child);
}

CCODE GroupWiseTsa::joinName(std::string_view parent, std::string_view child, std::string &joined) const
{
    return joinGroupWiseName(parent, child, joined);
}

CCODE GroupWiseTsa::beginScan(Connection &connection, const ScanRequest &request, std::unique_ptr<Scan> &scan)
{
    return GroupWiseScan::begin(*domains_, config().resources, connection, request, scan);
}

CCODE GroupWiseTsa::openForBackup(Connection &connection, Scan &at, UINT32 openMode, std::unique_ptr<DataSet> &dataSet)
{
    auto *position = dynamic_cast<GroupWiseScan *>(&at);
    if (position == nullptr)
        return NWSMTS_INVALID_SEQUENCE_NUMBER;
    if (position->inner() == nullptr) {
        dataSet = std::make_unique<GroupWiseServerBackup>();
        return 0;
    }
    std::unique_ptr<DataSet> inner;
    if (CCODE rc = domains_->openForBackup(connection, *position->inner(), openMode, inner))
        return rc;
    dataSet = std::make_unique<GroupWiseBackup>(std::move(inner), config().resources);
    return 0;
}

CCODE GroupWiseTsa::openForRestore(Connection &connection, DataSet *parent, const NWSM_DATA_SET_NAME_LIST *newName,
                                   UINT32 openMode, std::unique_ptr<DataSet> &dataSet)
{
    if (parent != nullptr)
        return NWSMTS_INVALID_HANDLE;
    std::unique_ptr<DataSet> inner;
    bool server = false;
    if (newName != nullptr) {
        const NWSM_NAME_ENTRY *entry = firstEntry(newName);
        if (entry == nullptr)
            return NWSMTS_INVALID_DATA_SET_NAME;
        std::string_view name(entry->name, entry->nameLength);
        std::string fileSystemName;
        if (equalsIgnoringCase(name, kGroupWiseMailServer)) {
            server = true;
        } else {
            if (!toFileSystemName(config().resources, name, fileSystemName))
                return NWSMTS_INVALID_PATH;
            NWSM_DATA_SET_NAME_LIST *list =
                newNameList(NameFields{entry->nameSpaceType, 0, 0, "/", "/", fileSystemName});
            if (list == nullptr)
                return NWSMTS_OUT_OF_MEMORY;
            CCODE rc = domains_->openForRestore(connection, nullptr, list, openMode, inner);
            std::free(list);
            if (rc != 0)
                return rc;
        }
    }
    dataSet = std::make_unique<GroupWiseRestore>(*domains_, config().resources, connection, openMode, std::move(inner),
                                                 server);
    return 0;
}

CCODE GroupWiseTsa::deleteDataSet(Connection &connection, Scan &at)
{
    auto *position = dynamic_cast<GroupWiseScan *>(&at);
    if (position == nullptr)
        return NWSMTS_INVALID_SEQUENCE_NUMBER;
    if (position->inner() == nullptr)
        return NWSMTS_DELETE_ERR; // "GroupWise Mail Server"
    return domains_->deleteDataSet(connection, *position->inner());
}

void GroupWiseTsa::loggingOut(Connection &connection)
{
    domains_->loggingOut(connection);
}

} // namespace smsemu
