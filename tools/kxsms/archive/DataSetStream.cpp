// Reading a data set's backup stream: the header's fields, and a digest of
// a file's content.
#include "archive/DataSetStream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <xxhash.h>

#include "archive/Format.h"

namespace kxsms {

using format::get16;
using format::get32;
using format::get64;

namespace {

constexpr unsigned char c_HeaderMagic[4] = {'K', 'X', 'F', 'H'};
constexpr size_t c_RecordSize = 20; // a tag and two 64-bit fields
constexpr size_t c_BlockSize = 4096;

// The fixed part of a header of each version; 0 for a version not read.
size_t fixedPart(uint16_t version)
{
    switch (version) {
    case 1:
        return 64;
    case 2:
        return 88;
    case 3:
        return 104;
    default:
        return 0;
    }
}

bool allZero(const unsigned char *data, size_t size)
{
    return size == 0 || (data[0] == 0 && memcmp(data, data + 1, size - 1) == 0);
}

} // namespace

char kindLetter(DataSetKind kind)
{
    switch (kind) {
    case DataSetKind::File:
        return '-';
    case DataSetKind::Directory:
        return 'd';
    case DataSetKind::Symlink:
        return 'l';
    case DataSetKind::HardLink:
        return 'h';
    case DataSetKind::Fifo:
        return 'p';
    case DataSetKind::CharDevice:
        return 'c';
    case DataSetKind::BlockDevice:
        return 'b';
    default:
        return '?';
    }
}

const char *kindName(DataSetKind kind)
{
    switch (kind) {
    case DataSetKind::File:
        return "file";
    case DataSetKind::Directory:
        return "directory";
    case DataSetKind::Symlink:
        return "symbolic link";
    case DataSetKind::HardLink:
        return "hard link";
    case DataSetKind::Fifo:
        return "FIFO";
    case DataSetKind::CharDevice:
        return "character device";
    case DataSetKind::BlockDevice:
        return "block device";
    default:
        return "unknown";
    }
}

format::Identity identityOf(const DataSetHeader &header)
{
    format::Identity identity;
    identity.kind = static_cast<uint8_t>(header.kind);
    identity.exact = header.kind != DataSetKind::Unknown;
    identity.hasChangeTime = header.hasChangeTime;
    identity.mode = header.mode;
    identity.uid = header.uid;
    identity.gid = header.gid;
    identity.size = header.size;
    identity.mtimeSeconds = header.mtimeSeconds;
    identity.mtimeNanoseconds = header.mtimeNanoseconds;
    identity.ctimeSeconds = header.ctimeSeconds;
    identity.ctimeNanoseconds = header.ctimeNanoseconds;
    return identity;
}

uint64_t fileDataOf(const format::MemberDescriptor &member)
{
    if (member.parent)
        return 0;
    if (!member.identity.exact)
        return member.size;
    return member.identity.kind == static_cast<uint8_t>(DataSetKind::File) ? member.identity.size : 0;
}

DataSetStream::DataSetStream(bool digest) : digest_(digest)
{
    if (digest_) {
        hash_ = XXH3_createState();
        if (hash_ == nullptr)
            throw std::bad_alloc();
    }
    reset();
}

DataSetStream::~DataSetStream()
{
    XXH3_freeState(hash_);
}

void DataSetStream::reset()
{
    phase_ = Phase::Header;
    header_ = DataSetHeader{};
    headerLength_ = 0;
    have_ = 0;
    left_ = 0;
    dataOffset_ = 0;
    blockOpen_ = false;
    if (hash_ != nullptr)
        XXH3_64bits_reset(hash_);
}

size_t DataSetStream::declaredHeaderLength(const unsigned char *prefix)
{
    if (memcmp(prefix, c_HeaderMagic, sizeof c_HeaderMagic) != 0 || fixedPart(get16(prefix + 4)) == 0)
        return 0;
    return get16(prefix + 6);
}

void DataSetStream::feed(const unsigned char *data, size_t size)
{
    while (size > 0) {
        switch (phase_) {
        case Phase::Done:
        case Phase::Unreadable:
            return;
        case Phase::Header: {
            // The length comes first, then the rest of the header.
            const size_t want = headerLength_ == 0 ? c_HeaderPrefix : headerLength_;
            const size_t n = std::min(want - have_, size);
            memcpy(pending_ + have_, data, n);
            have_ += n;
            data += n;
            size -= n;
            if (have_ < want)
                break;
            if (headerLength_ == 0) {
                headerLength_ = declaredHeaderLength(pending_);
                if (headerLength_ <= c_HeaderPrefix || headerLength_ > sizeof pending_)
                    phase_ = Phase::Unreadable;
                break;
            }
            takeHeader();
            have_ = 0;
            break;
        }
        case Phase::Record: {
            const size_t n = std::min(c_RecordSize - have_, size);
            memcpy(pending_ + have_, data, n);
            have_ += n;
            data += n;
            size -= n;
            if (have_ == c_RecordSize) {
                have_ = 0;
                takeRecord();
            }
            break;
        }
        case Phase::Skip:
        case Phase::Data: {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(left_, size));
            if (phase_ == Phase::Data && digest_)
                content(dataOffset_, data, n);
            dataOffset_ += n;
            left_ -= n;
            data += n;
            size -= n;
            if (left_ == 0)
                phase_ = Phase::Record;
            break;
        }
        }
    }
}

void DataSetStream::takeHeader()
{
    const unsigned char *in = pending_;
    const uint16_t version = get16(in + 4);
    const size_t fixed = fixedPart(version);
    const size_t nameLength = get16(in + 10), targetLength = get16(in + 12);
    const size_t userLength = in[14], groupLength = in[15];
    if (fixed == 0 || fixed + nameLength + targetLength + userLength + groupLength + 8 != headerLength_ ||
        get64(in + headerLength_ - 8) != XXH3_64bits(in, headerLength_ - 8) || in[8] < 1 || in[8] > 7) {
        phase_ = Phase::Unreadable;
        return;
    }
    DataSetHeader &h = header_;
    h.version = version;
    h.kind = static_cast<DataSetKind>(in[8]);
    h.mode = get32(in + 16) & 07777;
    h.uid = get32(in + 20);
    h.gid = get32(in + 24);
    h.atimeNanoseconds = get32(in + 28);
    h.atimeSeconds = static_cast<int64_t>(get64(in + 32));
    h.mtimeSeconds = static_cast<int64_t>(get64(in + 40));
    h.mtimeNanoseconds = get32(in + 48);
    h.size = get64(in + 56);
    if (version >= 2) {
        h.deviceMajor = get32(in + 64);
        h.deviceMinor = get32(in + 68);
        h.linkDevice = get64(in + 72);
        h.linkInode = get64(in + 80);
    }
    h.hasChangeTime = version >= 3;
    if (h.hasChangeTime) {
        h.ctimeSeconds = static_cast<int64_t>(get64(in + 88));
        h.ctimeNanoseconds = get32(in + 96);
    }
    const char *text = reinterpret_cast<const char *>(in + fixed);
    h.name.assign(text, nameLength);
    h.target.assign(text + nameLength, targetLength);
    h.user.assign(text + nameLength + targetLength, userLength);
    h.group.assign(text + nameLength + targetLength + userLength, groupLength);
    phase_ = Phase::Record;
}

void DataSetStream::takeRecord()
{
    const uint64_t first = get64(pending_ + 4), second = get64(pending_ + 12);
    if (memcmp(pending_, "KXFE", 4) == 0) {
        dataOffset_ = first;
        left_ = second;
        phase_ = left_ > 0 ? Phase::Data : Phase::Record;
    } else if (memcmp(pending_, "KXFA", 4) == 0 || memcmp(pending_, "KXFP", 4) == 0) {
        // Attributes: their entries follow (second); a pad: its zeros (first).
        left_ = memcmp(pending_, "KXFA", 4) == 0 ? second : first;
        phase_ = left_ > 0 ? Phase::Skip : Phase::Record;
    } else if (memcmp(pending_, "KXFT", 4) == 0) {
        if (digest_) {
            finishBlock();
            const uint64_t size = header_.size;
            XXH3_64bits_update(hash_, &size, sizeof size);
        }
        phase_ = Phase::Done;
    } else {
        phase_ = Phase::Unreadable;
    }
}

void DataSetStream::content(uint64_t offset, const unsigned char *data, size_t size)
{
    while (size > 0) {
        const uint64_t base = offset - offset % c_BlockSize;
        if (!blockOpen_ || base != blockOffset_) {
            finishBlock();
            blockOffset_ = base;
            blockOpen_ = true;
            memset(block_, 0, sizeof block_);
        }
        const size_t at = static_cast<size_t>(offset - base);
        const size_t n = std::min(size, c_BlockSize - at);
        memcpy(block_ + at, data, n);
        offset += n;
        data += n;
        size -= n;
    }
}

void DataSetStream::finishBlock()
{
    if (!blockOpen_)
        return;
    blockOpen_ = false;
    if (allZero(block_, sizeof block_))
        return;
    XXH3_64bits_update(hash_, &blockOffset_, sizeof blockOffset_);
    XXH3_64bits_update(hash_, block_, sizeof block_);
}

uint64_t DataSetStream::contentDigest() const
{
    return hash_ != nullptr ? XXH3_64bits_digest(hash_) : 0;
}

} // namespace kxsms
