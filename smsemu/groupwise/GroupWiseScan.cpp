#include "groupwise/GroupWiseScan.h"

#include "requester/Tsa.h"
#include "groupwise/GroupWiseNames.h"
#include "core/NameList.h"
#include "core/NameMatch.h"

namespace smsemu {
namespace {

// Separators of GroupWise names (NWSMTSGetNameSpaceTypeInfo answers the same).
constexpr const char *kFirstSeparator = ":";
constexpr const char *kSecondSeparator = "/";

using OwnedList = std::unique_ptr<NWSM_DATA_SET_NAME_LIST, void (*)(void *)>;

OwnedList oneName(const NWSM_NAME_ENTRY &entry, std::string_view name)
{
    return OwnedList(
        newNameList(NameFields{entry.nameSpaceType, entry.selectionType, entry.reverseOrder, "/", "/", name}),
        std::free);
}

// Whether a selection list excludes "GroupWise Mail Server".
bool excludesServer(const NWSM_SELECTION_LIST *list)
{
    NameEntries entries(list);
    while (const NWSM_NAME_ENTRY *entry = entries.next())
        if ((entry->selectionType &
             (NWSM_TSA_DEFINED_RESOURCE_EXC | NWSM_PARENT_TO_BE_EXCLUDED | NWSM_CHILD_TO_BE_EXCLUDED)) != 0 &&
            equalsIgnoringCase(std::string_view(entry->name, entry->nameLength), kGroupWiseMailServer))
            return true;
    return false;
}

// The entries of a selection list that name data sets of the domains, in
// file-system form; entries that name nothing there are left out.
CCODE translateSelection(const std::vector<ResourceConfig> &domains, const NWSM_SELECTION_LIST *list,
                         NWSM_SELECTION_LIST *&out)
{
    out = nullptr;
    NameEntries entries(list);
    std::string name;
    while (const NWSM_NAME_ENTRY *entry = entries.next()) {
        if (!toFileSystemName(domains, std::string_view(entry->name, entry->nameLength), name))
            continue;
        if (CCODE rc = appendName(
                out, NameFields{entry->nameSpaceType, entry->selectionType, entry->reverseOrder, "/", "/", name}))
            return rc;
    }
    return 0;
}

} // namespace

CCODE GroupWiseScan::begin(Tsa &fileSystem, const std::vector<ResourceConfig> &domains, Connection &connection,
                           const ScanRequest &request, std::unique_ptr<Scan> &scan)
{
    const NWSM_NAME_ENTRY *entry = firstEntry(request.resourceName);
    if (entry == nullptr)
        return NWSMTS_INVALID_PARAMETER;
    std::unique_ptr<GroupWiseScan> fresh(new GroupWiseScan(fileSystem, domains, connection));
    fresh->request_.control = request.control;
    fresh->oneLevel_ = (request.control.scanType & NWSM_SCAN_TYPE_ONE_LEVEL) != 0;
    NWSM_SELECTION_LIST *selection = nullptr;
    if (CCODE rc = translateSelection(domains, request.selectionList, selection))
        return rc;
    fresh->selection_.reset(selection);
    fresh->request_.selectionList = selection;

    std::string_view start(entry->name, entry->nameLength);
    if (equalsIgnoringCase(start, kGroupWiseMailServer)) {
        if (excludesServer(request.selectionList))
            return NWSMTS_DATA_SET_EXCLUDED;
        fresh->serverScan_ = true;
        if (CCODE rc = fresh->describeServer())
            return rc;
    } else {
        std::string name;
        if (!toFileSystemName(domains, start, name))
            return NWSMTS_INVALID_PATH;
        OwnedList list = oneName(*entry, name);
        if (list == nullptr)
            return NWSMTS_OUT_OF_MEMORY;
        fresh->request_.resourceName = list.get();
        CCODE rc = fileSystem.beginScan(connection, fresh->request_, fresh->inner_);
        fresh->request_.resourceName = nullptr;
        if (rc != 0)
            return rc;
        if (CCODE rc2 = fresh->translate())
            return rc2;
    }
    scan = std::move(fresh);
    return 0;
}

CCODE GroupWiseScan::describeServer()
{
    record_.clear();
    NWSM_SCAN_INFORMATION &info = *record_.information();
    info.parentFlag = 1; // it holds the domains
    info.attributes = NWSM_ATTR_DIRECTORY;
    info.creatorNameSpaceNumber = NWSM_TSA_DEFINED_RESOURCE;
    return record_.addName(
        NameFields{NWSM_TSA_DEFINED_RESOURCE, 0, 0, kFirstSeparator, kSecondSeparator, kGroupWiseMailServer});
}

CCODE GroupWiseScan::translate()
{
    record_.clear();
    *record_.information() = *inner_->record().information();
    NameEntries entries(inner_->record().names());
    while (const NWSM_NAME_ENTRY *entry = entries.next()) {
        if (!toGroupWiseName(domains_, std::string_view(entry->name, entry->nameLength), name_))
            return NWSMTS_INTERNAL_ERROR; // every name of a domain's scan lies in that domain
        if (CCODE rc = record_.addName(NameFields{entry->nameSpaceType, entry->selectionType, entry->reverseOrder,
                                                  kFirstSeparator, kSecondSeparator, name_}))
            return rc;
    }
    return 0;
}

CCODE GroupWiseScan::nextDomain()
{
    while (domain_ < domains_.size()) {
        const ResourceConfig &domain = domains_[domain_++];
        std::string name;
        toFileSystemName(domains_, domain.name, name);
        OwnedList list(newNameList(NameFields{NWSM_TSA_DEFINED_RESOURCE, 0, 0, nullptr, nullptr, name}), std::free);
        if (list == nullptr)
            return NWSMTS_OUT_OF_MEMORY;
        request_.resourceName = list.get();
        inner_.reset();
        CCODE rc = fileSystem_.beginScan(connection_, request_, inner_);
        request_.resourceName = nullptr;
        if (rc == NWSMTS_DATA_SET_EXCLUDED)
            continue;
        if (rc != 0)
            return rc;
        return translate();
    }
    inner_.reset();
    return NWSMTS_NO_MORE_DATA_SETS;
}

CCODE GroupWiseScan::next()
{
    // A server scan goes from the server to each domain, at one level to the
    // domain alone.
    if (inner_ == nullptr || (serverScan_ && oneLevel_))
        return nextDomain();
    CCODE rc = inner_->next();
    if (rc == 0)
        return translate();
    if (rc == NWSMTS_NO_MORE_DATA_SETS && serverScan_)
        return nextDomain();
    return rc;
}

} // namespace smsemu
