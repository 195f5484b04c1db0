// The backup stream of a directory data set, in the framing of the
// file-system stream (StreamFormat.h): a header of kind "file" whose name is
// the data set's name (as the TSA gives it) and whose size is the data's
// length, one extent at offset 0 holding the data, and the trailer. The data
// is a JSON text:
//
//   {"attributes": {"mail": ["admin@acme.example"]}, "class": "User", "type": "object"}
//
// "type" is "object" (the top of the tree too), "resource" or
// "class definition"; each attribute is an array of strings.
#pragma once

#include "SMSAPI.h"
#include "core/StreamDecoder.h"
#include "directory/DirectoryEntry.h"

#include <span>
#include <string>
#include <string_view>

namespace smsemu {

const char *streamType(EntryKind kind);

// Sets an entry's streamSize, dataSize and fingerprint from its name and
// content.
void measureEntry(DirectoryEntry &entry);

// The whole backup stream of an entry.
std::string entryStream(const DirectoryEntry &entry);

// A stream of this framing around any data, and its length.
std::string framedStream(std::string_view name, std::string_view data);
std::uint64_t framedStreamSize(std::string_view name, std::size_t dataSize);

// What a restore stream's data says.
struct StreamedEntry {
    std::string type;
    std::string objectClass;
    Attributes attributes;
};

// NWSMTS_INVALID_DATA_SET when the data is not such content, or has a class
// over kMaxClassName characters (it passed the checksum: it was written so).
CCODE readStreamData(std::string_view data, StreamedEntry &out);

// Takes a restore stream in blocks of any size (core/StreamDecoder.h) and
// keeps its name and data. Beyond the rules of every stream: a header of
// another kind than "file" is NWSMTS_EXPECTING_HEADER; data over
// kMaxEntryData is NWSMTS_INVALID_DATA_SET; an extent that does not continue
// the data, a trailer that does not count the header's size, an attribute
// section or a pad are NWSMTS_EXPECTING_TRAILER. The first failure sticks.
class DirectoryStreamReader {
public:
    CCODE write(std::span<const UINT8> bytes);
    // After the last block: 0 once the trailer has been checked, else the
    // header or trailer code of where the stream stopped.
    CCODE finish() const { return decoder_.finish(); }
    const std::string &name() const { return name_; }
    const std::string &data() const { return data_; }

private:
    CCODE headerComplete();

    stream::Decoder decoder_;
    std::string name_;
    std::string data_;
};

// Whether a text can be written into the store (JSON strings are UTF-8).
bool isUtf8(std::string_view text);

} // namespace smsemu
