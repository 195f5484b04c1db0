#include "DirectoryTsa.h"

#include "NameMatch.h"
#include "NameRules.h"

#include <array>

namespace smsemu {
namespace {

constexpr const char *kSchema = "Schema";

// The scan of the tree resource at one level: the tree resource itself, the
// top of the tree, then "Schema". A login probe uses it to learn how the TSA
// names the top of the tree.
class TreeResourceScan : public Scan {
public:
    TreeResourceScan(const DirectoryTsa &tsa, const NWSM_SCAN_CONTROL &control)
        : nameSpace_(returnedNameSpace(control, NWSM_NAME_SPACE_DOS)),
          names_{tsa.treeName(), tsa.topOfTree(), kSchema}
    {
    }

    CCODE first() { return describe(); }

    CCODE next() override
    {
        if (position_ + 1 >= names_.size())
            return NWSMTS_NO_MORE_DATA_SETS;
        ++position_;
        return describe();
    }

private:
    CCODE describe()
    {
        record_.clear();
        NWSM_SCAN_INFORMATION &info = *record_.information();
        // The tree resource and the top of the tree hold objects; the schema
        // is a resource without children of its own here.
        bool parent = position_ < 2;
        info.parentFlag = parent ? 1 : 0;
        info.attributes = parent ? NWSM_ATTR_DIRECTORY : 0;
        info.creatorNameSpaceNumber = nameSpace_;
        return record_.addName(NameFields{nameSpace_, 0, 0, ".", ".", names_[position_]});
    }

    UINT32 nameSpace_;
    std::array<std::string, 3> names_;
    std::size_t position_ = 0;
};

} // namespace

std::string DirectoryTsa::topOfTree() const { return config().treeNameRoot ? ".T=" + treeName() : ".[Root]"; }

std::vector<std::string> DirectoryTsa::resourceNames() const { return {treeName(), kSchema}; }

CCODE DirectoryTsa::nameSpaces(std::string_view resource, std::span<const UINT32> &types) const
{
    types = {};
    // The tree itself has no name-space scan: the caller falls back to the
    // directory root.
    if (containsIgnoringCase(resource, "[Root]"))
        return NWSMTS_INVALID_NAME_SPACE_TYPE;
    if (equalsIgnoringCase(resource, treeName()) || equalsIgnoringCase(resource, kSchema))
        return 0;
    return NWSMTS_RESOURCE_NAME_NOT_FOUND;
}

CCODE DirectoryTsa::separateName(std::string_view name, std::string &parent, std::string &child) const
{
    return separateDirectoryName(name, parent, child);
}

CCODE DirectoryTsa::joinName(std::string_view parent, std::string_view child, std::string &joined) const
{
    return joinDirectoryName(parent, child, joined);
}

CCODE DirectoryTsa::beginScan(Connection &connection, const ScanRequest &request, std::unique_ptr<Scan> &scan)
{
    const NWSM_NAME_ENTRY *entry = firstEntryOfType(request.resourceName, NWSM_TSA_DEFINED_RESOURCE);
    bool oneLevel = (request.control.scanType & NWSM_SCAN_TYPE_ONE_LEVEL) != 0;
    if (entry != nullptr && oneLevel && equalsIgnoringCase(entry->name, treeName())) {
        auto probe = std::make_unique<TreeResourceScan>(*this, request.control);
        if (CCODE rc = probe->first())
            return rc;
        scan = std::move(probe);
        return 0;
    }
    return Tsa::beginScan(connection, request, scan);
}

} // namespace smsemu
