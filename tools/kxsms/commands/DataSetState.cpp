#include "commands/DataSetState.h"

#include <cstring>

#include <xxhash.h>

namespace kxsms {

namespace {

// The file-system TSA's stream: a header "KXFH" (its length at bytes 6-7),
// then records of 20 bytes ("KXFA" attributes, "KXFP" pad, "KXFE" extent,
// each followed by as many bytes as it says; "KXFT" the trailer).
constexpr size_t c_HeaderPrefix = 8;
constexpr size_t c_FixedHeaderV1 = 64;
constexpr size_t c_FixedHeaderV2 = 88;
constexpr size_t c_FixedHeaderV3 = 104; // with the change time
constexpr size_t c_MaxHeader = 88 + 1023 + 4095 + 255 + 255 + 8;
constexpr size_t c_Record = 20;

uint64_t little(const unsigned char *at, size_t bytes)
{
    uint64_t value = 0;
    for (size_t i = bytes; i-- > 0;)
        value = value << 8 | at[i];
    return value;
}

char kindLetter(unsigned int kind)
{
    switch (kind) {
    case 1: return '-';
    case 2: return 'd';
    case 3: return 'l';
    case 4: return 'h';
    case 5: return 'p';
    case 6: return 'c';
    case 7: return 'b';
    default: return '?';
    }
}

} // namespace

DataSetState DataSetState::listed(const format::MemberDescriptor &member)
{
    DataSetState state;
    state.parent = member.parent;
    state.kind = member.parent ? 'd' : '-';
    state.size = member.parent ? 0 : member.size;
    state.modifiedSeconds = member.modified;
    return state;
}

std::vector<const char *> differences(const DataSetState &archived, const DataSetState &live)
{
    std::vector<const char *> fields;
    const bool both = archived.fromStream && live.fromStream;
    // A file's further name is a hard link where its first name came before
    // it in the same job, else the file: which one depends on what was read.
    const bool linkOrFile = both && archived.kind != live.kind && (archived.kind == 'h' || live.kind == 'h') &&
                            (archived.kind == '-' || live.kind == '-');
    if (archived.parent != live.parent || (both && archived.kind != live.kind && !linkOrFile)) {
        fields.push_back("kind");
        return fields; // the rest of two kinds does not compare
    }
    if (both && !linkOrFile && archived.content != live.content)
        fields.push_back("content");
    if (both && archived.mode != live.mode)
        fields.push_back("mode");
    if (both && (archived.uid != live.uid || archived.gid != live.gid))
        fields.push_back("owner");
    if (!linkOrFile && archived.size != live.size)
        fields.push_back("size");
    // A listed member knows whole seconds (two-second steps where they come packed).
    if (both ? archived.modifiedSeconds != live.modifiedSeconds ||
                   archived.modifiedNanoseconds != live.modifiedNanoseconds
             : archived.modifiedSeconds / 2 != live.modifiedSeconds / 2)
        fields.push_back("modification time");
    if (both && !linkOrFile && archived.target != live.target)
        fields.push_back("link target");
    return fields;
}

StreamDigest::StreamDigest() : hash_(XXH3_createState())
{
    held_.reserve(c_MaxHeader);
}

StreamDigest::~StreamDigest()
{
    XXH3_freeState(hash_);
}

void StreamDigest::begin(uint16_t tsaType, bool parent)
{
    XXH3_64bits_reset(hash_);
    fileSystem_ = tsaType == format::c_TsaFileSystem;
    phase_ = Phase::Header;
    held_.clear();
    want_ = c_HeaderPrefix;
    left_ = 0;
    state_ = DataSetState{};
    state_.parent = parent;
    state_.kind = parent ? 'd' : '-';
}

void StreamDigest::add(const unsigned char *data, size_t size)
{
    if (!fileSystem_) {
        XXH3_64bits_update(hash_, data, size);
        state_.size += size;
        return;
    }
    take(data, size);
}

void StreamDigest::take(const unsigned char *data, size_t size)
{
    while (size > 0 && phase_ != Phase::Done && phase_ != Phase::Bad) {
        if (phase_ == Phase::Skip || phase_ == Phase::Data) {
            const size_t part = left_ < size ? static_cast<size_t>(left_) : size;
            if (phase_ == Phase::Data)
                XXH3_64bits_update(hash_, data, part);
            data += part;
            size -= part;
            left_ -= part;
            if (left_ == 0) {
                phase_ = Phase::Record;
                want_ = c_Record;
            }
            continue;
        }
        const size_t part = want_ - held_.size() < size ? want_ - held_.size() : size;
        held_.insert(held_.end(), data, data + part);
        data += part;
        size -= part;
        if (held_.size() < want_)
            continue;
        if (phase_ == Phase::Header) {
            if (want_ == c_HeaderPrefix) {
                const size_t length = static_cast<size_t>(little(held_.data() + 6, 2));
                if (std::memcmp(held_.data(), "KXFH", 4) != 0 || length < c_FixedHeaderV1 || length > c_MaxHeader) {
                    phase_ = Phase::Bad;
                    break;
                }
                want_ = length;
                continue;
            }
            if (!decodeHeader()) {
                phase_ = Phase::Bad;
                break;
            }
            held_.clear();
            phase_ = Phase::Record;
            want_ = c_Record;
            continue;
        }
        decodeRecord();
        held_.clear();
    }
}

bool StreamDigest::decodeHeader()
{
    const unsigned char *h = held_.data();
    const unsigned int version = static_cast<unsigned int>(little(h + 4, 2));
    const size_t fixed = version >= 3 ? c_FixedHeaderV3 : version == 2 ? c_FixedHeaderV2 : c_FixedHeaderV1;
    const size_t name = static_cast<size_t>(little(h + 10, 2)), target = static_cast<size_t>(little(h + 12, 2));
    const size_t texts = name + target + h[14] + h[15];
    if (held_.size() != fixed + texts + 8)
        return false;
    state_.kind = kindLetter(h[8]);
    state_.parent = h[8] == 2;
    state_.mode = static_cast<uint32_t>(little(h + 16, 4));
    state_.uid = static_cast<uint32_t>(little(h + 20, 4));
    state_.gid = static_cast<uint32_t>(little(h + 24, 4));
    state_.modifiedSeconds = static_cast<int64_t>(little(h + 40, 8));
    state_.modifiedNanoseconds = static_cast<uint32_t>(little(h + 48, 4));
    state_.size = little(h + 56, 8);
    state_.target.assign(reinterpret_cast<const char *>(h + fixed + name), target);
    return true;
}

void StreamDigest::decodeRecord()
{
    const unsigned char *r = held_.data();
    if (std::memcmp(r, "KXFT", 4) == 0) {
        phase_ = Phase::Done;
    } else if (std::memcmp(r, "KXFE", 4) == 0) {
        // The offset goes into the digest too: the same bytes elsewhere are other content.
        XXH3_64bits_update(hash_, r + 4, 8);
        left_ = little(r + 12, 8);
        phase_ = left_ > 0 ? Phase::Data : Phase::Bad;
    } else if (std::memcmp(r, "KXFA", 4) == 0) {
        left_ = little(r + 12, 8);
        phase_ = left_ > 0 ? Phase::Skip : Phase::Record;
        want_ = c_Record;
    } else if (std::memcmp(r, "KXFP", 4) == 0) {
        left_ = little(r + 4, 8);
        phase_ = left_ > 0 ? Phase::Skip : Phase::Record;
        want_ = c_Record;
    } else {
        phase_ = Phase::Bad;
    }
}

bool StreamDigest::finish(DataSetState &state)
{
    state_.content = XXH3_64bits_digest(hash_);
    state_.fromStream = !fileSystem_ || phase_ == Phase::Done;
    if (!fileSystem_)
        state_.size = state_.parent ? 0 : state_.size;
    state = state_;
    return state_.fromStream;
}

} // namespace kxsms
