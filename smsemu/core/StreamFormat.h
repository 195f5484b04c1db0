// The backup stream of the file-system TSA (README.md, "Backup stream"):
// a header, for files the data as extents, and a trailer. All integers are
// little-endian.
//
// Header (64 fixed bytes, then the texts, then a checksum):
//    0  4  magic "KXFH"
//    4  2  version (1)
//    6  2  header length, checksum included
//    8  1  kind: 1 file, 2 directory, 3 symbolic link
//    9  1  0
//   10  2  name length (1-1023)
//   12  2  symbolic-link target length (0-4095; nonzero only for links)
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
//   64     name, target, user name, group name (not terminated)
//    +  8  XXH3-64 of every header byte before it
// Extent (files only; offsets increasing, not overlapping, within the size):
//    0  4  tag "KXFE"
//    4  8  offset
//   12  8  length (nonzero), then that many data bytes
// Trailer:
//    0  4  tag "KXFT"
//    4  8  data bytes (the sum of the extent lengths)
//   12  8  XXH3-64 of everything between the header and the trailer (the
//          extent records with their data)
// Holes are the ranges no extent covers; a restore recreates them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace smsemu::stream {

inline constexpr std::size_t kFixedHeader = 64;
inline constexpr std::size_t kMaxName = 1023;
inline constexpr std::size_t kMaxTarget = 4095;
inline constexpr std::size_t kMaxOwnerName = 255;
inline constexpr std::size_t kChecksum = 8;
inline constexpr std::size_t kMinHeader = kFixedHeader + 1 + kChecksum;
inline constexpr std::size_t kMaxHeader = kFixedHeader + kMaxName + kMaxTarget + 2 * kMaxOwnerName + kChecksum;
// Bytes of the header that tell its length.
inline constexpr std::size_t kHeaderPrefix = 8;
// An extent record before its data, and the trailer.
inline constexpr std::size_t kRecordSize = 20;
inline constexpr std::size_t kTagSize = 4;

enum class Kind : std::uint8_t { File = 1, Directory = 2, Symlink = 3 };

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

enum class Tag { Extent, Trailer, Other };
Tag tagOf(const std::uint8_t *data);

void encodeExtent(std::uint64_t offset, std::uint64_t length, std::uint8_t *out);
void decodeExtent(const std::uint8_t *data, std::uint64_t &offset, std::uint64_t &length);
void encodeTrailer(std::uint64_t dataBytes, std::uint64_t hash, std::uint8_t *out);
void decodeTrailer(const std::uint8_t *data, std::uint64_t &dataBytes, std::uint64_t &hash);

} // namespace smsemu::stream
