// The backup stream of the file-system TSA (README.md, "Backup stream"):
// a header, for files the data as extents, and a trailer. All integers are
// little-endian.
//
// Header (104 fixed bytes in version 3, 88 in version 2, 64 in version 1;
// then the texts, then a checksum):
//    0  4  magic "KXFH"
//    4  2  version (3 when the header carries a change time, else 2;
//          version 1 is still read)
//    6  2  header length, checksum included
//    8  1  kind: 1 file, 2 directory, 3 symbolic link; version 2 also
//          4 hard link, 5 FIFO, 6 character device, 7 block device
//    9  1  0
//   10  2  name length (1-1023)
//   12  2  target length: of a symbolic link's target (1-4095) or of a hard
//          link's first name (1-1023); 0 for the other kinds
//   14  1  user name length (0-255)
//   15  1  group name length (0-255)
//   16  4  permission bits (07777)
//   20  4  uid
//   24  4  gid
//   28  4  access time, nanoseconds
//   32  8  access time, seconds (signed)
//   40  8  modification time, seconds (signed)
//   48  4  modification time, nanoseconds
//   52  4  0
//   56  8  size in bytes (files; 0 otherwise)
// version 2 only:
//   64  4  device major number (devices; 0 otherwise)
//   68  4  device minor number
//   72  8  device of the inode (files with more than one name, hard links;
//          0 otherwise)
//   80  8  inode number (with the device: the inode's identity at backup)
// version 3 only:
//   88  8  change time, seconds (signed)
//   96  4  change time, nanoseconds
//  100  4  0
//   then   name, target, user name, group name (not terminated)
//    +  8  XXH3-64 of every header byte before it
// Attributes (version 2; at most one, right after the header, any kind):
//    0  4  tag "KXFA"
//    4  8  number of attributes (1-65536)
//   12  8  length of the entries that follow (at most kMaxAttributeBytes)
//    then per attribute: 1 name length (1-255), 4 value length (0-65536),
//    the name, the value. Extended attributes and POSIX ACLs
//    (system.posix_acl_access, system.posix_acl_default) alike.
// Pad (version 2; anywhere between the header and the trailer):
//    0  4  tag "KXFP"
//    4  8  length, then that many zero bytes
//   12  8  0
//    A file that changed while it was read ends its stream with one, so that
//    the trailer ends a full read (FsBackup.h).
// Extent (files only; offsets increasing, not overlapping, within the size):
//    0  4  tag "KXFE"
//    4  8  offset
//   12  8  length (nonzero), then that many data bytes
// Trailer:
//    0  4  tag "KXFT"
//    4  8  data bytes (the sum of the extent lengths)
//   12  8  XXH3-64 of everything between the header and the trailer (the
//          attribute record with its entries, the extent records with their
//          data)
// Holes are the ranges no extent covers; a restore recreates them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace smsemu::stream {

inline constexpr std::size_t kFixedHeaderV1 = 64;
inline constexpr std::size_t kFixedHeader = 88;    // version 2
inline constexpr std::size_t kFixedHeaderV3 = 104; // version 3: with the change time
inline constexpr std::size_t kMaxName = 1023;
inline constexpr std::size_t kMaxTarget = 4095;
inline constexpr std::size_t kMaxOwnerName = 255;
inline constexpr std::size_t kChecksum = 8;
inline constexpr std::size_t kMinHeader = kFixedHeaderV1 + 1 + kChecksum;
inline constexpr std::size_t kMaxHeader = kFixedHeaderV3 + kMaxName + kMaxTarget + 2 * kMaxOwnerName + kChecksum;
// Bytes of the header that tell its length.
inline constexpr std::size_t kHeaderPrefix = 8;
// An extent record before its data, and the trailer.
inline constexpr std::size_t kRecordSize = 20;
inline constexpr std::size_t kTagSize = 4;
// Bounds of the attribute section.
inline constexpr std::size_t kMaxAttributes = 65536;
inline constexpr std::size_t kMaxAttributeName = 255;
inline constexpr std::size_t kMaxAttributeValue = 65536;
inline constexpr std::size_t kMaxAttributeBytes = 16u << 20;
inline constexpr std::size_t kAttributeEntryFixed = 5;

enum class Kind : std::uint8_t {
    File = 1,
    Directory = 2,
    Symlink = 3,
    HardLink = 4,
    Fifo = 5,
    CharDevice = 6,
    BlockDevice = 7,
};

struct Header {
    Kind kind = Kind::File;
    std::uint32_t mode = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::int64_t atimeSeconds = 0;
    std::uint32_t atimeNanoseconds = 0;
    std::int64_t mtimeSeconds = 0;
    std::uint32_t mtimeNanoseconds = 0;
    std::uint64_t size = 0;
    std::uint32_t deviceMajor = 0, deviceMinor = 0; // devices
    std::uint64_t inodeDevice = 0, inode = 0;       // identity of an inode with several names
    // The change time, where the TSA gives it (the file-system TSA does): a
    // header with one is encoded as version 3, one without as version 2.
    bool hasChangeTime = false;
    std::int64_t ctimeSeconds = 0;
    std::uint32_t ctimeNanoseconds = 0;
    std::uint16_t version = 2; // as decoded; encoding writes 3 or 2 (above)
    std::string_view name;
    std::string_view target;
    std::string_view user;
    std::string_view group;
};

// The encoded length of a header whose texts are within their bounds.
std::size_t headerSize(const Header &header);
// Writes headerSize(header) bytes.
void encodeHeader(const Header &header, std::uint8_t *out);

// Whether the first `have` bytes (up to kHeaderPrefix) can start a header.
bool plausibleHeaderPrefix(const std::uint8_t *data, std::size_t have);
// The length the kHeaderPrefix bytes declare.
std::size_t declaredHeaderSize(const std::uint8_t *prefix);
// Checks a whole header (length, kinds, bounds, checksum) and reads it; the
// texts of `header` point into `data`.
bool decodeHeader(const std::uint8_t *data, std::size_t size, Header &header);

enum class Tag { Extent, Trailer, Attributes, Pad, Other };
Tag tagOf(const std::uint8_t *data);

void encodeExtent(std::uint64_t offset, std::uint64_t length, std::uint8_t *out);
void decodeExtent(const std::uint8_t *data, std::uint64_t &offset, std::uint64_t &length);
void encodeTrailer(std::uint64_t dataBytes, std::uint64_t hash, std::uint8_t *out);
void decodeTrailer(const std::uint8_t *data, std::uint64_t &dataBytes, std::uint64_t &hash);
void encodePad(std::uint64_t length, std::uint8_t *out);
void decodePad(const std::uint8_t *data, std::uint64_t &length);
void encodeAttributes(std::uint64_t count, std::uint64_t bytes, std::uint8_t *out);
void decodeAttributes(const std::uint8_t *data, std::uint64_t &count, std::uint64_t &bytes);
// Whether an attribute record's counts are within bounds.
bool plausibleAttributes(std::uint64_t count, std::uint64_t bytes);

// One entry of the attribute section.
struct Attribute {
    std::string_view name;
    std::string_view value;
};
// The encoded length of an entry.
std::size_t attributeEntrySize(const Attribute &attribute);
// Appends an entry (name 1-255 bytes, value at most kMaxAttributeValue).
void appendAttribute(std::string &section, const Attribute &attribute);
// Walks a whole section: calls `each` for every entry; false when the
// section is not `count` well-formed entries that fill it exactly.
template <class Each>
bool forEachAttribute(std::string_view section, std::uint64_t count, Each &&each);

template <class Each>
bool forEachAttribute(std::string_view section, std::uint64_t count, Each &&each)
{
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (section.size() - at < kAttributeEntryFixed)
            return false;
        auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(section[at + k]); };
        std::size_t nameLength = byte(0);
        std::size_t valueLength = static_cast<std::size_t>(byte(1)) | static_cast<std::size_t>(byte(2)) << 8 |
                                  static_cast<std::size_t>(byte(3)) << 16 | static_cast<std::size_t>(byte(4)) << 24;
        at += kAttributeEntryFixed;
        if (nameLength == 0 || valueLength > kMaxAttributeValue || section.size() - at < nameLength + valueLength)
            return false;
        Attribute attribute{section.substr(at, nameLength), section.substr(at + nameLength, valueLength)};
        if (attribute.name.find('\0') != std::string_view::npos)
            return false;
        at += nameLength + valueLength;
        each(attribute);
    }
    return at == section.size();
}

} // namespace smsemu::stream
