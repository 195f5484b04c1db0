#include "directory/DirectoryScan.h"

#include "directory/DirectorySchema.h"
#include "directory/DirectoryTsa.h"
#include "directory/DirectoryTsaBase.h"
#include "core/NameList.h"

#include <unordered_set>

namespace smsemu {
namespace {

// The selection list by keys: data sets left out alone, and data sets left
// out with everything below them.
class Exclusions {
public:
    Exclusions(const NWSM_SELECTION_LIST *list, const std::string &tree)
    {
        NameEntries entries(list);
        while (const NWSM_NAME_ENTRY *entry = entries.next()) {
            DirectoryName name;
            if (!parseDirectoryName(std::string_view(entry->name, entry->nameLength), tree, name))
                continue;
            DirectoryTsaBase::fileExclusion(name.kind, name.key, entry->selectionType, alone_, withAll_);
        }
    }

    bool alone(const DirectoryEntry &entry) const { return alone_.count(entry.key) != 0; }
    bool withAll(const DirectoryEntry &entry) const { return withAll_.count(entry.key) != 0; }

    // Whether the start of a scan is left out, by itself or by what holds it.
    bool start(const DirectoryEntry &entry) const
    {
        if (alone(entry) || withAll(entry))
            return true;
        if (entry.kind == EntryKind::ClassDefinition)
            return withAll_.count(kSchemaKey) != 0;
        if (entry.kind == EntryKind::Object)
            for (std::string_view up : ancestorKeys(entry.key))
                if (withAll_.count(std::string(up)) != 0)
                    return true;
        return false;
    }

private:
    std::unordered_set<std::string> alone_;
    std::unordered_set<std::string> withAll_;
};

} // namespace

CCODE listScan(DirectoryTsa &tsa, const EntryPtr &start, bool oneLevel, const NWSM_SELECTION_LIST *selection,
               std::vector<EntryPtr> &items)
{
    const DirectoryTree &tree = tsa.tree();
    Exclusions excluded(selection, tree.naming().tree);
    if (excluded.start(*start))
        return NWSMTS_DATA_SET_EXCLUDED;
    items.push_back(start);

    auto below = [&](const EntryPtr &from, bool allLevels) {
        tree.preorder(from, [&](const EntryPtr &entry) {
            if (entry == from)
                return true;
            if (excluded.withAll(*entry))
                return false;
            if (!excluded.alone(*entry))
                items.push_back(entry);
            return allLevels;
        });
    };
    auto schema = [&] {
        for (const EntryPtr &definition : classDefinitions(tree))
            if (!excluded.alone(*definition) && !excluded.withAll(*definition))
                items.push_back(definition);
    };

    switch (start->kind) {
    case EntryKind::TreeResource:
        if (!excluded.withAll(*tree.top())) {
            if (!excluded.alone(*tree.top()))
                items.push_back(tree.top());
            if (!oneLevel)
                below(tree.top(), true);
        }
        if (!excluded.withAll(*tsa.schema())) {
            if (!excluded.alone(*tsa.schema()))
                items.push_back(tsa.schema());
            if (!oneLevel)
                schema();
        }
        break;
    case EntryKind::Schema:
        schema();
        break;
    case EntryKind::ClassDefinition:
        break;
    case EntryKind::Top:
    case EntryKind::Object:
        below(start, !oneLevel);
        break;
    }
    return 0;
}

CCODE DirectoryScan::first()
{
    return settle();
}

CCODE DirectoryScan::next()
{
    auto guard = tsa_.lock();
    if (position_ < items_.size())
        ++position_;
    return settle();
}

CCODE DirectoryScan::settle()
{
    for (; position_ < items_.size(); ++position_) {
        EntryPtr entry = tsa_.current(items_[position_]);
        if (entry == nullptr)
            continue; // deleted since the scan began
        record_.clear();
        NWSM_SCAN_INFORMATION &info = *record_.information();
        bool parent = isParent(*entry);
        info.parentFlag = parent ? 1 : 0;
        info.attributes = (parent ? NWSM_ATTR_DIRECTORY : 0u) | (tsa_.archiveFlag(*entry) ? NWSM_ATTR_ARCHIVE : 0u);
        info.creatorNameSpaceNumber = nameSpace_;
        info.primaryDataStreamSize = entry->streamSize <= 0xFFFFFFFFu ? static_cast<UINT32>(entry->streamSize) : 0u;
        info.totalStreamsDataSize = static_cast<UINT32>((entry->streamSize + 4095) / 4096);
        return record_.addName(NameFields{nameSpace_, 0, 0, ".", ".", entry->name});
    }
    return NWSMTS_NO_MORE_DATA_SETS;
}

} // namespace smsemu
