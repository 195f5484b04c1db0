#include "StreamFormat.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <xxhash.h>

namespace smsemu {
namespace {

constexpr char kHeaderTag[4] = {'S', 'M', 'S', 'H'};
constexpr char kDataTag[4] = {'S', 'M', 'S', 'D'};
constexpr char kTrailerTag[4] = {'S', 'M', 'S', 'T'};

void put32(UINT8 *at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<UINT8>(value >> (8 * i));
}

void put64(UINT8 *at, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<UINT8>(value >> (8 * i));
}

std::uint32_t get32(const UINT8 *at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

std::uint64_t get64(const UINT8 *at)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

bool hasTag(const UINT8 *at, const char (&tag)[4]) { return std::memcmp(at, tag, 4) == 0; }

} // namespace

StreamChecksum::StreamChecksum() : state_(XXH64_createState())
{
    if (state_ == nullptr)
        throw std::bad_alloc();
    reset();
}

StreamChecksum::~StreamChecksum() { XXH64_freeState(state_); }

void StreamChecksum::reset() { XXH64_reset(state_, 0); }

void StreamChecksum::update(const void *bytes, std::size_t size)
{
    if (size != 0)
        XXH64_update(state_, bytes, size);
}

std::uint64_t StreamChecksum::digest() const { return XXH64_digest(state_); }

std::array<UINT8, kHeaderPrefixSize> headerPrefix(std::size_t payloadSize)
{
    std::array<UINT8, kHeaderPrefixSize> out{};
    std::memcpy(out.data(), kHeaderTag, 4);
    put32(out.data() + 4, kStreamVersion);
    put32(out.data() + 8, static_cast<std::uint32_t>(payloadSize));
    return out;
}

std::array<UINT8, kDataPrefixSize> dataPrefix(std::uint64_t dataSize)
{
    std::array<UINT8, kDataPrefixSize> out{};
    std::memcpy(out.data(), kDataTag, 4);
    put64(out.data() + 4, dataSize);
    return out;
}

std::array<UINT8, kTrailerSize> trailer(std::uint64_t dataSize, std::uint64_t checksum)
{
    std::array<UINT8, kTrailerSize> out{};
    std::memcpy(out.data(), kTrailerTag, 4);
    put64(out.data() + 4, dataSize);
    put64(out.data() + 12, checksum);
    return out;
}

std::string encodeStream(std::string_view payload, std::string_view data)
{
    StreamChecksum checksum;
    checksum.update(payload.data(), payload.size());
    checksum.update(data.data(), data.size());
    auto head = headerPrefix(payload.size());
    auto middle = dataPrefix(data.size());
    auto tail = trailer(data.size(), checksum.digest());
    std::string out;
    out.reserve(streamSize(payload.size(), data.size()));
    out.append(reinterpret_cast<const char *>(head.data()), head.size());
    out.append(payload);
    out.append(reinterpret_cast<const char *>(middle.data()), middle.size());
    out.append(data);
    out.append(reinterpret_cast<const char *>(tail.data()), tail.size());
    return out;
}

// A fixed-size frame (a prefix or the trailer) is complete in fixed_.
CCODE StreamParser::prefixComplete(StreamSink &sink)
{
    fixedUsed_ = 0;
    switch (state_) {
    case State::HeaderPrefix: {
        if (!hasTag(fixed_.data(), kHeaderTag) || get32(fixed_.data() + 4) != kStreamVersion)
            return fail(NWSMTS_EXPECTING_HEADER);
        payloadSize_ = get32(fixed_.data() + 8);
        if (payloadSize_ > kMaxHeaderPayload)
            return fail(NWSMTS_EXPECTING_HEADER);
        payload_.clear();
        payload_.reserve(payloadSize_);
        state_ = State::HeaderPayload;
        if (payloadSize_ == 0) {
            state_ = State::DataPrefix;
            if (CCODE rc = sink.onHeader(payload_))
                return fail(rc);
        }
        return 0;
    }
    case State::DataPrefix:
        if (!hasTag(fixed_.data(), kDataTag))
            return fail(NWSMTS_EXPECTING_TRAILER);
        dataSize_ = dataLeft_ = get64(fixed_.data() + 4);
        state_ = dataLeft_ == 0 ? State::Trailer : State::Data;
        return 0;
    case State::Trailer:
        if (!hasTag(fixed_.data(), kTrailerTag) || get64(fixed_.data() + 4) != dataSize_ ||
            get64(fixed_.data() + 12) != checksum_.digest())
            return fail(NWSMTS_EXPECTING_TRAILER);
        state_ = State::Done;
        return 0;
    default:
        return 0;
    }
}

CCODE StreamParser::feed(std::span<const UINT8> bytes, StreamSink &sink)
{
    if (failure_ != 0)
        return failure_;
    while (!bytes.empty()) {
        switch (state_) {
        case State::HeaderPrefix:
        case State::DataPrefix:
        case State::Trailer: {
            std::size_t want = state_ == State::Trailer ? kTrailerSize
                               : state_ == State::DataPrefix ? kDataPrefixSize
                                                              : kHeaderPrefixSize;
            std::size_t take = std::min(want - fixedUsed_, bytes.size());
            std::memcpy(fixed_.data() + fixedUsed_, bytes.data(), take);
            fixedUsed_ += take;
            bytes = bytes.subspan(take);
            if (fixedUsed_ == want)
                if (CCODE rc = prefixComplete(sink))
                    return rc;
            break;
        }
        case State::HeaderPayload: {
            std::size_t take = std::min(payloadSize_ - payload_.size(), bytes.size());
            payload_.append(reinterpret_cast<const char *>(bytes.data()), take);
            bytes = bytes.subspan(take);
            if (payload_.size() == payloadSize_) {
                checksum_.update(payload_.data(), payload_.size());
                state_ = State::DataPrefix;
                if (CCODE rc = sink.onHeader(payload_))
                    return fail(rc);
            }
            break;
        }
        case State::Data: {
            std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(dataLeft_, bytes.size()));
            checksum_.update(bytes.data(), take);
            if (CCODE rc = sink.onData(bytes.first(take)))
                return fail(rc);
            dataLeft_ -= take;
            bytes = bytes.subspan(take);
            if (dataLeft_ == 0)
                state_ = State::Trailer;
            break;
        }
        case State::Done:
            return fail(NWSMTS_EXPECTING_TRAILER); // bytes after the trailer
        }
    }
    return 0;
}

CCODE StreamParser::finish() const
{
    if (failure_ != 0)
        return failure_;
    switch (state_) {
    case State::Done:
        return 0;
    case State::HeaderPrefix:
    case State::HeaderPayload:
        return NWSMTS_EXPECTING_HEADER;
    default:
        return NWSMTS_EXPECTING_TRAILER;
    }
}

} // namespace smsemu
