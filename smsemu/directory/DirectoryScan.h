// Scans of the directory TSA. A scan lists, when it begins, the data sets it
// will stand on, in order:
//
//   start                 one level (scan type bit 0)      whole subtree
//   the tree resource     itself, the top, "Schema"        itself, the top and every object,
//                                                          "Schema" and its class definitions
//   the top or an object  itself and its children          itself and all below it, containers first
//   "Schema"              itself and the class definitions (both)
//   a class definition    itself                           itself
//
// The selection list is applied then: a resource excluded (its name with
// NWSM_TSA_DEFINED_RESOURCE_EXC: the tree resource alone, or ".[Root]" or
// "Schema" with all they hold), a parent excluded with everything below it,
// a child excluded by its full name; a start that is excluded is
// NWSMTS_DATA_SET_EXCLUDED. Each step describes the object as the store has
// it then, and passes over an object that has left the store since.
#pragma once

#include "directory/DirectoryEntry.h"
#include "requester/Tsa.h"

#include <vector>

namespace smsemu {

class DirectoryTsa;

class DirectoryScan : public Scan {
public:
    DirectoryScan(DirectoryTsa &tsa, UINT32 nameSpace, std::vector<EntryPtr> items)
        : tsa_(tsa), nameSpace_(nameSpace), items_(std::move(items))
    {
    }

    // Stands on the first data set (the start).
    CCODE first();
    CCODE next() override;
    // The data set the scan stands on, as it was listed.
    const EntryPtr &entry() const { return items_[position_]; }

private:
    // Describes the item at the position, or moves past items that left the
    // store; NWSMTS_NO_MORE_DATA_SETS after the last.
    CCODE settle();

    DirectoryTsa &tsa_;
    UINT32 nameSpace_;
    std::vector<EntryPtr> items_;
    std::size_t position_ = 0;
};

// Builds the list of a scan (the start first). NWSMTS_DATA_SET_EXCLUDED when
// the selection list leaves out the start.
CCODE listScan(DirectoryTsa &tsa, const EntryPtr &start, bool oneLevel, const NWSM_SELECTION_LIST *selection,
               std::vector<EntryPtr> &items);

} // namespace smsemu
