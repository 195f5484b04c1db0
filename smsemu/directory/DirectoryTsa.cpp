#include "directory/DirectoryTsa.h"

#include "requester/Connection.h"
#include "directory/DirectoryDataSet.h"
#include "directory/DirectoryScan.h"
#include "directory/DirectorySchema.h"

#include <cstdio>

namespace smsemu {
// Whether an object (or the top) can be created or replaced in a tree.
CCODE DirectoryTsa::placement(const DirectoryTree &tree, const DirectoryName &name, UINT32 openMode)
{
    if (tree.find(name.key) != nullptr)
        return replaceable(openMode);
    return tree.find(parentKey(name.key)) != nullptr ? 0 : NWSMTS_INVALID_PATH;
}

DirectoryTsa::DirectoryTsa(const TsaConfig &config)
    : DirectoryTsaBase(config), store_(config.store, naming()),
      treeResource_(makeResource(EntryKind::TreeResource, kTreeResourceKey, treeName())),
      schema_(makeResource(EntryKind::Schema, kSchemaKey, kSchemaName))
{
    auto guard = lock();
    refresh();
}

void DirectoryTsa::report(const std::string &problem)
{
    // Each problem once, while it lasts.
    if (problem == lastProblem_)
        return;
    lastProblem_ = problem;
    if (!problem.empty())
        std::fprintf(stderr, "smsemu: %s\n", problem.c_str());
}

CCODE DirectoryTsa::refresh()
{
    std::string problem;
    CCODE rc = store_.refresh(problem);
    report(problem);
    return rc;
}

EntryPtr DirectoryTsa::resolve(const DirectoryName &name) const
{
    switch (name.kind) {
    case EntryKind::TreeResource:
        return treeResource_;
    case EntryKind::Schema:
        return schema_;
    case EntryKind::ClassDefinition:
        return classDefinition(tree(), name.className);
    case EntryKind::Top:
    case EntryKind::Object:
        return tree().find(name.key);
    }
    return nullptr;
}

EntryPtr DirectoryTsa::current(const EntryPtr &listed) const
{
    if (listed->kind == EntryKind::Top || listed->kind == EntryKind::Object)
        return tree().find(listed->key);
    return listed;
}

bool DirectoryTsa::archiveFlag(const DirectoryEntry &entry) const
{
    auto mark = archived_.find(entry.key);
    return mark == archived_.end() || mark->second != entry.fingerprint;
}

void DirectoryTsa::setArchived(const std::string &key, std::uint64_t fingerprint, bool archived)
{
    if (archived)
        archived_[key] = fingerprint;
    else
        archived_.erase(key);
}

CCODE DirectoryTsa::beginScan(Connection &, const ScanRequest &request, std::unique_ptr<Scan> &scan)
{
    const NWSM_NAME_ENTRY *entry = firstEntry(request.resourceName);
    if (entry == nullptr)
        return NWSMTS_INVALID_PARAMETER;
    auto guard = lock();
    if (CCODE rc = refresh())
        return rc;
    DirectoryName name;
    EntryPtr start;
    if (parseDirectoryName(std::string_view(entry->name, entry->nameLength), treeName(), name))
        start = resolve(name);
    if (start == nullptr)
        return NWSMTS_NO_DATA_SETS_FOUND;
    std::vector<EntryPtr> items;
    bool oneLevel = (request.control.scanType & NWSM_SCAN_TYPE_ONE_LEVEL) != 0;
    if (CCODE rc = listScan(*this, start, oneLevel, request.selectionList, items))
        return rc;
    auto made = std::make_unique<DirectoryScan>(*this, returnedNameSpace(request.control, NWSM_NAME_SPACE_DOS),
                                                std::move(items));
    if (CCODE rc = made->first())
        return rc;
    scan = std::move(made);
    return 0;
}

CCODE DirectoryTsa::openForBackup(Connection &, Scan &at, UINT32, std::unique_ptr<DataSet> &dataSet)
{
    auto *scan = dynamic_cast<DirectoryScan *>(&at);
    if (scan == nullptr)
        return NWSMTS_INVALID_SEQUENCE_NUMBER;
    auto guard = lock();
    EntryPtr entry = current(scan->entry());
    if (entry == nullptr)
        return NWSMTS_NO_DATA_SETS_FOUND;
    dataSet = std::make_unique<DirectoryBackup>(*this, *entry);
    return 0;
}

CCODE DirectoryTsa::restoreTarget(const std::string &name, DirectoryName &parsed) const
{
    if (name.find('\0') != std::string::npos || !isUtf8(name) || !parseDirectoryName(name, treeName(), parsed))
        return NWSMTS_INVALID_PATH;
    if (parsed.kind == EntryKind::Object || parsed.kind == EntryKind::Top) {
        std::string rootForm = rootFormName(parsed.components);
        if (rootForm.size() > NWSM_MAX_NAME || shownName(rootForm, naming()).size() > NWSM_MAX_NAME)
            return NWSMTS_INVALID_PATH;
    }
    return 0;
}

CCODE DirectoryTsa::openForRestore(Connection &, DataSet *, const NWSM_DATA_SET_NAME_LIST *newName, UINT32 openMode,
                                   std::unique_ptr<DataSet> &dataSet)
{
    auto guard = lock();
    if (CCODE rc = refresh())
        return rc;
    std::optional<std::string> name;
    if (CCODE rc = restoreName(newName, name))
        return rc;
    if (name) {
        // Refused now what would be refused at the close: the caller learns
        // it before sending the stream.
        DirectoryName parsed;
        if (CCODE rc = restoreTarget(*name, parsed))
            return rc;
        if (parsed.kind == EntryKind::ClassDefinition && resolve(parsed) == nullptr)
            return NWSMTS_INVALID_PATH;
        if (parsed.kind == EntryKind::Top || parsed.kind == EntryKind::Object)
            if (CCODE rc = placement(tree(), parsed, openMode))
                return rc;
    }
    dataSet = std::make_unique<DirectoryRestore>(*this, openMode, std::move(name));
    return 0;
}

CCODE DirectoryTsa::commitRestore(const std::string &name, const StreamedEntry &content, UINT32 openMode)
{
    DirectoryName parsed;
    if (CCODE rc = restoreTarget(name, parsed))
        return rc;
    if (content.type != streamType(parsed.kind))
        return NWSMTS_INVALID_DATA_SET;
    switch (parsed.kind) {
    case EntryKind::TreeResource:
    case EntryKind::Schema:
        return 0; // resources hold no data of their own
    case EntryKind::ClassDefinition:
        return resolve(parsed) != nullptr ? 0 : NWSMTS_INVALID_PATH;
    case EntryKind::Top:
    case EntryKind::Object:
        break;
    }
    std::string problem;
    CCODE rc = store_.change(
        [&](DirectoryTree &tree) -> CCODE {
            if (CCODE refused = placement(tree, parsed, openMode))
                return refused;
            if (EntryPtr existing = tree.find(parsed.key))
                tree.setContent(*existing, content.objectClass, content.attributes);
            else
                tree.add(parsed.key, parsed.components, content.objectClass, content.attributes);
            return 0;
        },
        problem);
    report(problem);
    return rc;
}

CCODE DirectoryTsa::deleteDataSet(Connection &, Scan &at)
{
    auto *scan = dynamic_cast<DirectoryScan *>(&at);
    if (scan == nullptr)
        return NWSMTS_INVALID_SEQUENCE_NUMBER;
    auto guard = lock();
    const EntryPtr &listed = scan->entry();
    // The top, the resources and the schema's class definitions stay.
    if (listed->kind != EntryKind::Object)
        return NWSMTS_DELETE_ERR;
    std::string problem;
    CCODE rc = store_.change(
        [&](DirectoryTree &tree) -> CCODE {
            EntryPtr now = tree.find(listed->key);
            if (now == nullptr)
                return NWSMTS_NO_DATA_SETS_FOUND;
            if (!now->children.empty())
                return NWSMTS_DELETE_ERR;
            tree.remove(now);
            return 0;
        },
        problem);
    report(problem);
    if (rc == 0)
        archived_.erase(listed->key);
    return rc;
}

} // namespace smsemu
