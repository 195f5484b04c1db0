// What kxsms reads of a data set's backup stream, the SMS data that the
// module's Backup hands out and its Restore takes back: the header that
// describes the data set (kind, permission bits, owner, times, size, link
// target) and, for a comparison, a digest of a file's content. The layout is
// the file-system TSA's stream (smsemu/README.md, "Backup stream"), which the
// GroupWise and directory TSAs share: a header, records (attributes, pads,
// extents of file data), a trailer.
//
// The stream is fed in blocks of any size, as it comes from the archive or
// from the module. Nothing here decides whether a stream restores (the TSA
// checks that); a stream whose header cannot be read leaves the header
// unknown and is otherwise passed over.
#ifndef KXSMS_TOOLS_DATASETSTREAM_H
#define KXSMS_TOOLS_DATASETSTREAM_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/Format.h"

struct XXH3_state_s;

namespace kxsms {

// The kinds of data set a stream's header names (its numbers).
enum class DataSetKind : uint8_t {
    Unknown = 0,
    File = 1,
    Directory = 2,
    Symlink = 3,
    HardLink = 4,
    Fifo = 5,
    CharDevice = 6,
    BlockDevice = 7,
};

// One letter for the kind, as tar -tv shows it: '-' file, 'd', 'l', 'h' a
// hard link, 'p' a FIFO, 'c', 'b'; '?' unknown.
char kindLetter(DataSetKind kind);
// "file", "directory", "symbolic link", ...
const char *kindName(DataSetKind kind);

struct DataSetHeader {
    DataSetKind kind = DataSetKind::Unknown;
    uint16_t version = 0;
    uint32_t mode = 0; // permission bits (07777)
    uint32_t uid = 0;
    uint32_t gid = 0;
    std::string user; // owner names, empty when the TSA gave none
    std::string group;
    int64_t mtimeSeconds = 0;
    uint32_t mtimeNanoseconds = 0;
    int64_t atimeSeconds = 0;
    uint32_t atimeNanoseconds = 0;
    bool hasChangeTime = false; // version 3
    int64_t ctimeSeconds = 0;
    uint32_t ctimeNanoseconds = 0;
    uint64_t size = 0; // a file's size, holes included; 0 for the other kinds
    uint32_t deviceMajor = 0;
    uint32_t deviceMinor = 0;
    // The inode's identity at backup, for a file with more than one name
    // and a hard link (zero otherwise).
    uint64_t linkDevice = 0;
    uint64_t linkInode = 0;
    std::string name;
    std::string target; // a symbolic link's target, a hard link's first name
};

// What identifies the version of the data set a header describes.
format::Identity identityOf(const DataSetHeader &header);

// The bytes of file data a member stands for: a file's size, holes
// included (from its identity where the archive records one, else the
// scan's size); nothing for a directory, a link or a device.
uint64_t fileDataOf(const format::MemberDescriptor &member);

class DataSetStream {
public:
    // With digest, the content of a file is hashed (contentDigest()).
    explicit DataSetStream(bool digest = false);
    ~DataSetStream();
    DataSetStream(const DataSetStream &) = delete;
    DataSetStream &operator=(const DataSetStream &) = delete;

    // Starts over for the next stream.
    void reset();
    // The next bytes of the stream.
    void feed(const unsigned char *data, size_t size);

    // The header has come and reads as one.
    bool headerKnown() const { return phase_ > Phase::Header && phase_ != Phase::Unreadable; }
    const DataSetHeader &header() const { return header_; }
    // How many bytes the header takes (once its first 8 have come), or 0.
    size_t headerLength() const { return headerLength_; }
    // The trailer has come.
    bool complete() const { return phase_ == Phase::Done; }
    // A digest of the file's content that does not depend on where its
    // holes lie: each 4 KiB block (at its offset) that is not all zeros,
    // and the size. Valid once complete().
    uint64_t contentDigest() const;

    // The number of bytes of a header's first part: enough to read its
    // length (headerLength of those bytes).
    static constexpr size_t c_HeaderPrefix = 8;
    static size_t declaredHeaderLength(const unsigned char *prefix);

private:
    enum class Phase : uint8_t { Header, Record, Skip, Data, Done, Unreadable };

    void takeHeader();
    void takeRecord();
    void content(uint64_t offset, const unsigned char *data, size_t size);
    void finishBlock();

    bool digest_;
    XXH3_state_s *hash_ = nullptr;
    Phase phase_ = Phase::Header;
    DataSetHeader header_;
    size_t headerLength_ = 0;
    // The bytes of the header or record being gathered.
    unsigned char pending_[16384];
    size_t have_ = 0;
    uint64_t left_ = 0;       // of the data or skipped bytes at hand
    uint64_t dataOffset_ = 0; // where the data at hand goes in the file
    // The 4 KiB block of the file being gathered for the digest.
    unsigned char block_[4096];
    uint64_t blockOffset_ = 0;
    bool blockOpen_ = false;
};

} // namespace kxsms

#endif
