// Data-set name lists and selection lists: one malloc block holding an
// NWSM_DATA_SET_NAME_LIST header and NWSM_NAME_ENTRY records, each record
// starting on an 8-byte boundary. The caller releases a list with free().
#pragma once

#include "SMSAPI.h"

#include <cstddef>
#include <string_view>

namespace smsemu {

struct NameFields {
    UINT32 nameSpaceType = 0;
    UINT32 selectionType = 0;
    INT16 reverseOrder = 0;
    const char *firstSeparator = nullptr;  // null: none
    const char *secondSeparator = nullptr; // null: none
    std::string_view name;
};

// Checks what a caller hands in: a name present and at most NWSM_MAX_NAME
// characters, separators of at most 3 characters.
CCODE checkNameFields(const char *name, const char *firstSeparator, const char *secondSeparator);

// A new list with one entry; null when memory runs out.
NWSM_DATA_SET_NAME_LIST *newNameList(const NameFields &fields);

// Appends an entry, growing the block geometrically with realloc. On failure
// (out of memory, a damaged header: NWSMTS_INVALID_SELECTION_LIST) `list` is
// unchanged. `list` may be null: a new list.
CCODE appendName(NWSM_DATA_SET_NAME_LIST *&list, const NameFields &fields);

// Empties a list, keeping its block for reuse.
void clearNameList(NWSM_DATA_SET_NAME_LIST *list);

// Walks the entries of a list, checking each against the list's used size so
// that a damaged list ends the walk instead of reading past it.
class NameEntries {
public:
    explicit NameEntries(const NWSM_DATA_SET_NAME_LIST *list);
    // The next entry, or null at the end.
    const NWSM_NAME_ENTRY *next();

private:
    const unsigned char *base_;
    std::size_t used_ = 0;
    std::size_t offset_ = 0;
    UINT32 left_ = 0;
};

// The first entry, or the first of exactly that name-space type; null if none.
const NWSM_NAME_ENTRY *firstEntry(const NWSM_DATA_SET_NAME_LIST *list);
const NWSM_NAME_ENTRY *firstEntryOfType(const NWSM_DATA_SET_NAME_LIST *list, UINT32 nameSpaceType);

void describeEntry(const NWSM_NAME_ENTRY &entry, NWSM_DATA_SET_NAME &name);

// A copy of a caller's list (the used part); null for a null or damaged list.
NWSM_DATA_SET_NAME_LIST *copyNameList(const NWSM_DATA_SET_NAME_LIST *list, CCODE &rc);

} // namespace smsemu
