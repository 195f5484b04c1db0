// The selection list of a file-system scan, read once at the scan begin.
// Entries match by name, a trailing '/' ignored:
//  - selection type 2 (exclude a resource): a resource name; nothing of that
//    resource is returned;
//  - 4 (exclude a parent) and 16 (exclude a child): a data-set name; that data
//    set is passed over, and when it is a directory its whole subtree too.
// Other selection types are ignored.
#pragma once

#include "SMSAPI.h"

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace smsemu {

class SelectionFilter {
public:
    // Reads a selection list (null: none). A damaged list reads as shorter.
    void load(const NWSM_SELECTION_LIST *list);

    bool excludesResource(std::string_view resourceName) const;
    // The data set itself is named.
    bool excludes(const std::string &name) const { return !names_.empty() && names_.count(name) != 0; }
    // The data set or one of the directories above it is named.
    bool excludesWithParents(std::string_view name) const;

private:
    std::unordered_set<std::string> names_;
    std::vector<std::string> resources_;
};

} // namespace smsemu
