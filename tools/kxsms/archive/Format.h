// The kxsms archive format: record layouts, limits and the encoding of each
// record. docs/archive-format.md describes the format for readers of other
// programs; this header is the one definition the writer and reader share.
//
// An archive is a sequence of records, every integer little-endian:
//
//   archive header                      (40 bytes)
//   backup record, from version 2       (32 bytes in version 2, 48 from 3,
//                                        + paths and excludes)
//   per data set:
//     member header                     (72 bytes + name; 120 from version 3,
//                                        which records the data set's identity)
//     data chunk, any number            (16 bytes + 1..65536 data bytes)
//     member trailer                    (48 bytes)
//   or, for a data set listed without data (version 2):
//     member header alone, flagged unchanged or not saved
//   end record                          (48 bytes)
//
// Every record starts with its own 4-byte magic and ends with (or, for a
// chunk, carries) an XXH3-64 checksum, so that a reader can tell a record
// from damage, verify lengths before trusting them and, after damage, find
// the next member by scanning for a member header whose checksum holds.
// The whole stream may be compressed as zstd frames; a reader tells the two
// apart by the first four bytes.
#ifndef KXSMS_TOOLS_FORMAT_H
#define KXSMS_TOOLS_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "io/Text.h"

namespace kxsms::format {

constexpr uint16_t c_Version = 3;      // the version written
constexpr uint16_t c_FirstVersion = 1; // the oldest one read

constexpr size_t c_MaxNameLength = 1023; // agent-form names, as the module's buffers hold them
constexpr size_t c_MaxChunkData = 65536; // one Backup/Restore block

constexpr size_t c_ArchiveHeaderSize = 40;
constexpr size_t c_MemberFixedSize = 112; // fixed part (version 3: with the identity); the name and its checksum follow
constexpr size_t c_MemberFixedSizeV2 = 64; // fixed part of versions 1 and 2
constexpr size_t c_MemberPrefix = 64;      // the first bytes of a member header: enough to know its size
constexpr size_t c_MemberHashSize = 8;
constexpr size_t c_ChunkHeaderSize = 16;
constexpr size_t c_MemberTrailerSize = 48;
constexpr size_t c_EndRecordSize = 48;
constexpr size_t c_BackupFixedSize = 40;   // version 3 (with the archive an incremental follows); then
                                           // the strings, then 8 bytes of checksum
constexpr size_t c_BackupFixedSizeV2 = 24; // version 2
constexpr size_t c_BackupPrefix = 24;      // the first bytes of a backup record: enough to know its size
constexpr size_t c_MaxBackupRecord = 256u << 10;

// The archive header starts with these 8 bytes.
constexpr char c_ArchiveMagic[8] = {'K', 'X', 'S', 'M', 'S', 'A', 'R', 'C'};

// 4-byte record magics, as the bytes appear in the stream.
constexpr uint32_t magic4(char a, char b, char c, char d)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}
constexpr uint32_t c_MemberMagic = magic4('K', 'X', 'M', 'H');
constexpr uint32_t c_ChunkMagic = magic4('K', 'X', 'C', 'D');
constexpr uint32_t c_TrailerMagic = magic4('K', 'X', 'M', 'T');
constexpr uint32_t c_EndMagic = magic4('K', 'X', 'E', 'N');
constexpr uint32_t c_BackupMagic = magic4('K', 'X', 'B', 'R');

// The zstd frame magic (28 B5 2F FD) read as a little-endian word.
constexpr uint32_t c_ZstdMagic = 0xFD2FB528u;

// The TSA type the header and each member record: the module's numbers.
constexpr uint16_t c_TsaDirectory = 0;
constexpr uint16_t c_TsaFileSystem = 1;
constexpr uint16_t c_TsaGroupWise = 2;

// "directory", "file-system", "GroupWise" or "unknown", for messages.
const char *tsaName(uint16_t tsaType);

// How names of that TSA are shown.
NameStyle nameStyle(uint16_t tsaType);

// Member header flags.
constexpr uint16_t c_FlagParent = 0x1;
constexpr uint16_t c_FlagArchive = 0x2;
constexpr uint16_t c_FlagUnchanged = 0x4; // listed without data: not changed since an earlier backup
constexpr uint16_t c_FlagNotSaved = 0x8;  // listed without data: the backup could not save it

// Identity flags (member header byte 65, version 3).
constexpr uint8_t c_IdentityExact = 0x1;      // from the stream's header
constexpr uint8_t c_IdentityChangeTime = 0x2; // the change time is known

// Archive header flags (version 2).
constexpr uint32_t c_HeaderIncremental = 0x1; // saves what changed and lists the rest as unchanged
constexpr uint32_t c_HeaderPartial = 0x2;     // lists only what it saved (--since): not the whole tree

// Member trailer status.
constexpr uint32_t c_StatusComplete = 0;
constexpr uint32_t c_StatusIncomplete = 1; // the data set could not be read to its end at backup

// ---- little-endian access ----------------------------------------------------

inline void put16(unsigned char *p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void put32(unsigned char *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void put64(unsigned char *p, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline uint16_t get16(const unsigned char *p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t get32(const unsigned char *p)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}
inline uint64_t get64(const unsigned char *p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

// ---- records -------------------------------------------------------------------

struct ArchiveHeader {
    uint16_t version = c_Version;
    uint16_t tsaType = c_TsaFileSystem;
    uint32_t flags = 0;
    uint64_t archiveId = 0;
    int64_t created = 0;
};

// What the backup was asked for: the paths it went through and the
// excludes it applied, and when it started to the nanosecond, so that a
// chain of archives can be checked for belonging together and for order.
struct BackupRecord {
    std::vector<std::string> paths;
    std::vector<std::string> excludes;
    int64_t startedNanoseconds = 0; // since the epoch
    // An incremental backup (version 3): the archive of the last backup of
    // these paths that cleared the archive flags, as kxsms knew it when the
    // backup began (0: none known). What the backup lists as unchanged is
    // unchanged since that one.
    uint64_t followsId = 0;
    int64_t followsStartedNanoseconds = 0;
};

// How a member stands for its data set.
enum class Listing : uint8_t {
    Saved,     // its stream follows
    Unchanged, // no data: an earlier archive of the chain holds it
    NotSaved,  // no data: the backup failed on it (and said so)
};

// What identifies the version of a data set a backup saw (version 3): the
// fields of its stream's header, for what an incremental lists as
// unchanged as for what it saves. A chain takes an earlier copy of a data
// set only when it is that version.
struct Identity {
    uint8_t kind = 0;   // the stream's kinds (DataSetStream.h); 0: not known
    bool exact = false; // read from the stream's header (else the scan's kind and size alone)
    bool hasChangeTime = false;
    uint32_t mode = 0; // permission bits
    uint32_t uid = 0;
    uint32_t gid = 0;
    uint64_t size = 0; // a file's size, holes included
    int64_t mtimeSeconds = 0;
    uint32_t mtimeNanoseconds = 0;
    int64_t ctimeSeconds = 0;
    uint32_t ctimeNanoseconds = 0;
};

// What the archive records of one data set.
struct MemberDescriptor {
    std::string name; // agent form, 1..1023 bytes
    uint16_t tsaType = c_TsaFileSystem;
    uint32_t nameSpace = 0;
    bool parent = false;
    bool archive = false;
    Listing listing = Listing::Saved;
    int64_t created = 0;
    int64_t modified = 0;
    int64_t accessed = 0;
    uint64_t size = 0;
    uint64_t sequence = 0; // position of the member in the archive, from 0
    Identity identity;     // version 3; kind 0 in older archives
};

struct MemberTrailer {
    uint32_t status = c_StatusComplete;
    uint64_t sequence = 0;
    uint64_t chunks = 0;
    uint64_t bytes = 0;
    uint64_t streamHash = 0;
};

// End record flags.
constexpr uint32_t c_EndStopped = 0x1;     // the backup stopped before it had gone through every data set
constexpr uint32_t c_EndInterrupted = 0x2; // with 0x1: a signal stopped it

struct EndRecord {
    uint32_t flags = 0;
    uint64_t archiveId = 0;
    uint64_t members = 0;
    uint64_t incomplete = 0;
    uint64_t bytes = 0;
};

// Encoders write exactly the record size (plus the name for a member header).
void encodeArchiveHeader(const ArchiveHeader &header, unsigned char (&out)[c_ArchiveHeaderSize]);
// Fills out with the fixed part (version 3), the name and the checksum;
// returns the bytes written. The name must be 1..c_MaxNameLength bytes; out
// must hold memberHeaderSize(c_MaxNameLength) bytes.
size_t encodeMemberHeader(const MemberDescriptor &member, uint64_t archiveId, unsigned char *out);
void encodeChunkHeader(uint32_t length, uint64_t dataHash, unsigned char (&out)[c_ChunkHeaderSize]);
void encodeMemberTrailer(const MemberTrailer &trailer, unsigned char (&out)[c_MemberTrailerSize]);
void encodeEndRecord(const EndRecord &end, unsigned char (&out)[c_EndRecordSize]);

// Appends the encoded backup record (version 3) to out; false (nothing
// appended) when it would exceed c_MaxBackupRecord or a string 65535 bytes.
bool encodeBackupRecord(const BackupRecord &record, std::vector<unsigned char> &out);

// Decoders check magic, bounds and checksum and return false on any mismatch.
// They read exactly the bytes the record occupies and nothing beyond.
bool decodeArchiveHeader(const unsigned char *in, ArchiveHeader &header);
// The size a backup record announces (c_BackupPrefix bytes at fixedPart), or
// 0 when it cannot be one.
size_t backupRecordSize(const unsigned char *fixedPart);
// in holds backupRecordSize(in) bytes.
bool decodeBackupRecord(const unsigned char *in, BackupRecord &record);
// The length of the name a member header announces, or 0 when its first
// bytes cannot be one (wrong magic, name length 0 or over the limit, a fixed
// part of another size). prefix holds c_MemberPrefix bytes.
size_t memberNameLength(const unsigned char *prefix);
// The size of the whole member header that starts with these c_MemberPrefix
// bytes, of whichever version; 0 when they cannot start one.
size_t memberHeaderSizeAt(const unsigned char *prefix);
// The size of a member header as written, with a name of that length.
constexpr size_t memberHeaderSize(size_t nameLength)
{
    return c_MemberFixedSize + nameLength + c_MemberHashSize;
}
// in holds memberHeaderSizeAt(in) bytes.
bool decodeMemberHeader(const unsigned char *in, MemberDescriptor &member, uint64_t &archiveId);
// The data length a chunk header announces, or 0 when it is not a chunk
// header or the length is out of bounds.
uint32_t chunkLength(const unsigned char *in);
uint64_t chunkHash(const unsigned char *in);
bool decodeMemberTrailer(const unsigned char *in, MemberTrailer &trailer);
bool decodeEndRecord(const unsigned char *in, EndRecord &end);

// Checksum of one chunk's data: XXH3-64 seeded with the chunk's index within
// its member, so that a lost, repeated or reordered chunk fails its check.
uint64_t hashChunk(const unsigned char *data, size_t length, uint64_t index);

} // namespace kxsms::format

#endif
