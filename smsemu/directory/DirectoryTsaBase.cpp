#include "directory/DirectoryTsaBase.h"

#include "core/NameList.h"
#include "core/NameMatch.h"
#include "directory/DirectoryStream.h"
#include "requester/NameRules.h"

namespace smsemu {

DirectoryTsaBase::DirectoryTsaBase(const TsaConfig &config)
    : Tsa(config), naming_{config.targetService, config.treeNameRoot}
{
}

EntryPtr DirectoryTsaBase::makeResource(EntryKind kind, const std::string &key, const std::string &name)
{
    auto entry = std::make_shared<DirectoryEntry>();
    entry->kind = kind;
    entry->key = key;
    entry->dn = entry->name = name;
    entry->objectClass = "Resource";
    measureEntry(*entry);
    return entry;
}

CCODE DirectoryTsaBase::replaceable(UINT32 openMode)
{
    if ((openMode & NWSM_OVERWRITE_DATA_SET) != 0)
        return 0;
    return (openMode & NWSM_KEEP_NEWER_DATA_SET) != 0 ? NWSMTS_DATA_SET_IS_OLDER : NWSMTS_DATA_SET_ALREADY_EXISTS;
}

CCODE DirectoryTsaBase::restoreName(const NWSM_DATA_SET_NAME_LIST *list, std::optional<std::string> &name)
{
    name.reset();
    if (list == nullptr)
        return 0;
    const NWSM_NAME_ENTRY *entry = firstEntry(list);
    if (entry == nullptr)
        return NWSMTS_INVALID_PARAMETER;
    name.emplace(entry->name, entry->nameLength);
    return 0;
}

void DirectoryTsaBase::fileExclusion(EntryKind kind, const std::string &key, UINT32 selectionType,
                                     std::unordered_set<std::string> &alone, std::unordered_set<std::string> &withAll)
{
    if ((selectionType & NWSM_TSA_DEFINED_RESOURCE_EXC) != 0) {
        if (kind == EntryKind::TreeResource)
            alone.insert(key);
        else if (kind == EntryKind::Schema || kind == EntryKind::Top)
            withAll.insert(key);
    }
    if ((selectionType & NWSM_PARENT_TO_BE_EXCLUDED) != 0)
        withAll.insert(key);
    if ((selectionType & NWSM_CHILD_TO_BE_EXCLUDED) != 0)
        alone.insert(key);
}

std::string DirectoryTsaBase::topOfTree() const
{
    return naming_.treeForm ? ".T=" + treeName() : ".[Root]";
}

std::vector<std::string> DirectoryTsaBase::resourceNames() const
{
    return {treeName(), kSchemaName};
}

CCODE DirectoryTsaBase::nameSpaces(std::string_view resource, std::span<const UINT32> &types) const
{
    // The tree resource reports DOS, whose separators are '.', so that a
    // caller working in it can tell the components of the names it finds
    // there (and rewrite their top of the tree). The top of the tree has no
    // name-space scan: the caller falls back to the directory root. The
    // schema reports none.
    static constexpr UINT32 kTreeNameSpaces[] = {NWSM_NAME_SPACE_DOS};
    types = {};
    if (containsIgnoringCase(resource, "[Root]"))
        return NWSMTS_INVALID_NAME_SPACE_TYPE;
    if (equalsIgnoringCase(resource, treeName())) {
        types = kTreeNameSpaces;
        return 0;
    }
    if (equalsIgnoringCase(resource, kSchemaName))
        return 0;
    return NWSMTS_RESOURCE_NAME_NOT_FOUND;
}

CCODE DirectoryTsaBase::separateName(std::string_view name, std::string &parent, std::string &child) const
{
    return separateDirectoryName(name, parent, child);
}

CCODE DirectoryTsaBase::joinName(std::string_view parent, std::string_view child, std::string &joined) const
{
    return joinDirectoryName(parent, child, joined);
}

} // namespace smsemu
