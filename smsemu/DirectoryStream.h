// The backup stream of a directory data set, in the framing of
// StreamFormat.h. The header payload and the data are JSON texts:
//
//   header  {"name": ".CN=Admin.O=Acme.[Root]", "type": "object"}
//   data    {"attributes": {"mail": ["admin@acme.example"]}, "class": "User"}
//
// "name" is the name the TSA gives the data set (tree-name form where
// configured); "type" is "object" (the top of the tree too), "resource" or
// "class definition".
#pragma once

#include "DirectoryEntry.h"
#include "SMSAPI.h"

#include <string>
#include <string_view>

namespace smsemu {

const char *streamType(EntryKind kind);

// Sets an entry's streamSize and fingerprint from its name and content.
void measureEntry(DirectoryEntry &entry);

// The whole backup stream of an entry.
std::string entryStream(const DirectoryEntry &entry);

// What a restore stream says.
struct StreamedEntry {
    std::string name;
    std::string type;
    std::string objectClass;
    Attributes attributes;
};

// NWSMTS_EXPECTING_HEADER when the payload is not such a header.
CCODE readStreamHeader(std::string_view payload, StreamedEntry &out);
// NWSMTS_INVALID_DATA_SET when the data is not such content (it passed the
// checksum, so it was written that way).
CCODE readStreamData(std::string_view data, StreamedEntry &out);

// Whether a text can be written into the store (JSON strings are UTF-8).
bool isUtf8(std::string_view text);

} // namespace smsemu
