// What the directory TSA's two kinds have in common, whether the objects
// are kept in a JSON store (DirectoryTsa) or on an LDAP server (LdapTsa):
// the tree as target service, its resources (the tree, named as the target
// service, and "Schema"), their name spaces, and the typed names with their
// split and join.
#pragma once

#include "directory/DirectoryEntry.h"
#include "directory/DirectoryNames.h"
#include "requester/Tsa.h"

#include <optional>
#include <string>
#include <unordered_set>

namespace smsemu {

class DirectoryTsaBase : public Tsa {
public:
    explicit DirectoryTsaBase(const TsaConfig &config);

    const std::string &treeName() const { return naming_.tree; }
    const DirectoryNaming &naming() const { return naming_; }
    // ".[Root]", or ".T=<tree>" in the tree-name form.
    std::string topOfTree() const;

    std::vector<std::string> resourceNames() const override;
    CCODE nameSpaces(std::string_view resource, std::span<const UINT32> &types) const override;
    Separators separators() const override { return {".", "."}; }
    CCODE separateName(std::string_view name, std::string &parent, std::string &child) const override;
    CCODE joinName(std::string_view parent, std::string_view child, std::string &joined) const override;

protected:
    // A data set the TSA makes itself: the tree resource, the schema.
    static EntryPtr makeResource(EntryKind kind, const std::string &key, const std::string &name);
    // Whether an existing data set may be replaced under an open mode: with
    // NWSM_OVERWRITE_DATA_SET only (directory objects carry no times, so
    // NWSM_KEEP_NEWER_DATA_SET keeps every existing one).
    static CCODE replaceable(UINT32 openMode);

public:
    // The name a restore's name list gives (none for no list);
    // NWSMTS_INVALID_PARAMETER for a list without a name.
    static CCODE restoreName(const NWSM_DATA_SET_NAME_LIST *list, std::optional<std::string> &name);
    // Files one entry of a selection list by the key of what it names: left
    // out alone (NWSM_CHILD_TO_BE_EXCLUDED, the tree resource as a resource)
    // or with everything below it (NWSM_PARENT_TO_BE_EXCLUDED, the top or
    // "Schema" as a resource).
    static void fileExclusion(EntryKind kind, const std::string &key, UINT32 selectionType,
                              std::unordered_set<std::string> &alone, std::unordered_set<std::string> &withAll);

private:
    DirectoryNaming naming_;
};

} // namespace smsemu
