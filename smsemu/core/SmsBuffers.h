// Memory that SMS hands out and takes back: string buffers (STRING_BUFFER) and
// plain name lists (NWSM_NAME_LIST). Both are malloc blocks, so that the
// utilities' NWSMFreeString / NWSMFreeNameList and a caller's free() release
// them alike.
#pragma once

#include "SMSAPI.h"

#include <string_view>

namespace smsemu {

// One block: the 16-bit size of the text area (text and terminator), then the
// text. Null when memory runs out.
STRING_BUFFER *newStringBuffer(std::string_view text);

// Builds a name list node by node; each node is one block holding the node
// and its name. The list is released on destruction unless taken.
class NameListBuilder {
public:
    NameListBuilder() = default;
    NameListBuilder(const NameListBuilder &) = delete;
    NameListBuilder &operator=(const NameListBuilder &) = delete;
    ~NameListBuilder();

    bool add(std::string_view name); // false when memory runs out
    NWSM_NAME_LIST *take();

private:
    NWSM_NAME_LIST *head_ = nullptr;
    NWSM_NAME_LIST *tail_ = nullptr;
};

void freeNameList(NWSM_NAME_LIST *list);

} // namespace smsemu
