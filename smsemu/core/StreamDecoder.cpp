#include "core/StreamDecoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <xxhash.h>

namespace smsemu::stream {

Decoder::Decoder() : hash_(XXH3_createState())
{
    if (hash_ == nullptr)
        throw std::bad_alloc();
    XXH3_64bits_reset(hash_);
}

Decoder::~Decoder()
{
    XXH3_freeState(hash_);
}

CCODE Decoder::fail(CCODE code)
{
    if (failure_ == 0) {
        failure_ = code;
        phase_ = Phase::Failed;
    }
    return failure_;
}

CCODE Decoder::finish() const
{
    switch (phase_) {
    case Phase::Failed:
        return failure_;
    case Phase::Done:
        return 0;
    case Phase::Header:
        return NWSMTS_EXPECTING_HEADER;
    case Phase::Record:
    case Phase::ExtentData:
    case Phase::AttributeData:
    case Phase::PadData:
        break;
    }
    return NWSMTS_EXPECTING_TRAILER;
}

Decoder::Event Decoder::next(std::span<const std::uint8_t> &bytes)
{
    while (!bytes.empty()) {
        switch (phase_) {
        case Phase::Header:
            if (Event event = takeHeader(bytes); event != Event::NeedBytes)
                return event;
            break;
        case Phase::Record:
            if (Event event = takeRecord(bytes); event != Event::NeedBytes)
                return event;
            break;
        case Phase::ExtentData:
            return takeExtentData(bytes);
        case Phase::AttributeData:
            takeAttributeData(bytes);
            break;
        case Phase::PadData:
            takePad(bytes);
            break;
        case Phase::Done:
            return failWith(NWSMTS_EXPECTING_TRAILER); // bytes after the trailer
        case Phase::Failed:
            return Event::Failed;
        }
    }
    return phase_ == Phase::Failed ? Event::Failed : Event::NeedBytes;
}

// The first kHeaderPrefix bytes tell the header's length; each byte that
// comes must still be able to start a header.
Decoder::Event Decoder::takeHeader(std::span<const std::uint8_t> &bytes)
{
    const std::size_t want = headerHave_ < kHeaderPrefix ? kHeaderPrefix : declaredHeaderSize(headerBytes_);
    const std::size_t n = std::min(want - headerHave_, bytes.size());
    std::memcpy(headerBytes_ + headerHave_, bytes.data(), n);
    headerHave_ += n;
    bytes = bytes.subspan(n);
    if (!plausibleHeaderPrefix(headerBytes_, std::min(headerHave_, kHeaderPrefix)))
        return failWith(NWSMTS_EXPECTING_HEADER);
    if (headerHave_ < kHeaderPrefix || headerHave_ < declaredHeaderSize(headerBytes_))
        return Event::NeedBytes;
    if (!decodeHeader(headerBytes_, headerHave_, header_))
        return failWith(NWSMTS_EXPECTING_HEADER);
    phase_ = Phase::Record;
    return Event::Header;
}

bool Decoder::tagAllowed() const
{
    const bool versionOne = header_.version == 1;
    switch (tagOf(record_)) {
    case Tag::Trailer:
        return true;
    case Tag::Extent:
        return header_.kind == Kind::File;
    case Tag::Attributes:
        return !versionOne && !sawRecord_;
    case Tag::Pad:
        return !versionOne;
    case Tag::Other:
        break;
    }
    return false;
}

Decoder::Event Decoder::takeRecord(std::span<const std::uint8_t> &bytes)
{
    const std::size_t want = recordHave_ < kTagSize ? kTagSize : kRecordSize;
    const std::size_t n = std::min(want - recordHave_, bytes.size());
    std::memcpy(record_ + recordHave_, bytes.data(), n);
    recordHave_ += n;
    bytes = bytes.subspan(n);
    if (recordHave_ == kTagSize && !tagAllowed())
        return failWith(NWSMTS_EXPECTING_TRAILER);
    if (recordHave_ < kRecordSize)
        return Event::NeedBytes;
    recordHave_ = 0;
    sawRecord_ = true;
    return recordComplete();
}

Decoder::Event Decoder::recordComplete()
{
    switch (tagOf(record_)) {
    case Tag::Attributes: {
        std::uint64_t count = 0, bytes = 0;
        decodeAttributes(record_, count, bytes);
        if (!plausibleAttributes(count, bytes))
            return failWith(NWSMTS_EXPECTING_TRAILER);
        XXH3_64bits_update(hash_, record_, kRecordSize);
        attributeCount_ = count;
        attributesLeft_ = bytes;
        // Grown as the bytes come: a declared length is not yet data.
        attributes_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(bytes, 65536)));
        phase_ = Phase::AttributeData;
        return Event::Attributes;
    }
    case Tag::Pad: {
        decodePad(record_, padLeft_);
        XXH3_64bits_update(hash_, record_, kRecordSize);
        phase_ = padLeft_ == 0 ? Phase::Record : Phase::PadData;
        return Event::Pad;
    }
    case Tag::Extent: {
        std::uint64_t offset = 0, length = 0;
        decodeExtent(record_, offset, length);
        if (length == 0 || offset < nextOffset_ || length > header_.size || offset > header_.size - length)
            return failWith(NWSMTS_EXPECTING_TRAILER);
        XXH3_64bits_update(hash_, record_, kRecordSize);
        extentOffset_ = offset;
        extentLength_ = length;
        extentLeft_ = length;
        phase_ = Phase::ExtentData;
        return Event::Extent;
    }
    case Tag::Trailer: {
        std::uint64_t dataBytes = 0, hash = 0;
        decodeTrailer(record_, dataBytes, hash);
        if (dataBytes != dataBytes_ || hash != XXH3_64bits_digest(hash_))
            return failWith(NWSMTS_EXPECTING_TRAILER);
        phase_ = Phase::Done;
        return Event::Trailer;
    }
    case Tag::Other:
        break;
    }
    return failWith(NWSMTS_EXPECTING_TRAILER); // not reached: the tag was checked
}

Decoder::Event Decoder::takeExtentData(std::span<const std::uint8_t> &bytes)
{
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(extentLeft_, bytes.size()));
    data_ = bytes.first(n);
    dataOffset_ = extentOffset_ + (extentLength_ - extentLeft_);
    bytes = bytes.subspan(n);
    XXH3_64bits_update(hash_, data_.data(), n);
    extentLeft_ -= n;
    dataBytes_ += n;
    if (extentLeft_ == 0) {
        nextOffset_ = extentOffset_ + extentLength_;
        phase_ = Phase::Record;
    }
    return Event::Data;
}

void Decoder::takeAttributeData(std::span<const std::uint8_t> &bytes)
{
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(attributesLeft_, bytes.size()));
    attributes_.append(reinterpret_cast<const char *>(bytes.data()), n);
    XXH3_64bits_update(hash_, bytes.data(), n);
    bytes = bytes.subspan(n);
    attributesLeft_ -= n;
    if (attributesLeft_ != 0)
        return;
    if (!forEachAttribute(attributes_, attributeCount_, [](const Attribute &) {}))
        fail(NWSMTS_EXPECTING_TRAILER);
    else
        phase_ = Phase::Record;
}

void Decoder::takePad(std::span<const std::uint8_t> &bytes)
{
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(padLeft_, bytes.size()));
    XXH3_64bits_update(hash_, bytes.data(), n);
    bytes = bytes.subspan(n);
    padLeft_ -= n;
    if (padLeft_ == 0)
        phase_ = Phase::Record;
}

} // namespace smsemu::stream
