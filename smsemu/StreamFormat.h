// The framing of the stand-in's backup streams, shared by the TSAs: a header,
// the data, and a trailer with a checksum. All integers are little-endian.
//
//   header   "SMSH"  u32 version (1)  u32 payload length  payload (≤ 1 MiB)
//   data     "SMSD"  u64 data length  the data
//   trailer  "SMST"  u64 data length  u64 checksum
//
// The payload describes the data set (each TSA defines its own, a JSON text in
// the directory TSA); the checksum is XXH64 (seed 0) of the payload followed
// by the data, so a damaged header is found as well as damaged data. A stream
// is produced block by block without being held whole (StreamChecksum, the
// three frame builders) and parsed block by block (StreamParser), so data
// sets of any size pass through.
#pragma once

#include "SMSAPI.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct XXH64_state_s;

namespace smsemu {

inline constexpr std::uint32_t kStreamVersion = 1;
inline constexpr std::size_t kHeaderPrefixSize = 12; // tag, version, payload length
inline constexpr std::size_t kDataPrefixSize = 12;   // tag, data length
inline constexpr std::size_t kTrailerSize = 20;      // tag, data length, checksum
inline constexpr std::size_t kMaxHeaderPayload = 1u << 20;

// XXH64 over the payload and the data, fed in any pieces.
class StreamChecksum {
public:
    StreamChecksum();
    StreamChecksum(const StreamChecksum &) = delete;
    StreamChecksum &operator=(const StreamChecksum &) = delete;
    ~StreamChecksum();
    void reset();
    void update(const void *bytes, std::size_t size);
    std::uint64_t digest() const;

private:
    XXH64_state_s *state_;
};

std::array<UINT8, kHeaderPrefixSize> headerPrefix(std::size_t payloadSize);
std::array<UINT8, kDataPrefixSize> dataPrefix(std::uint64_t dataSize);
std::array<UINT8, kTrailerSize> trailer(std::uint64_t dataSize, std::uint64_t checksum);

// The length of a whole stream.
inline std::uint64_t streamSize(std::size_t payloadSize, std::uint64_t dataSize)
{
    return kHeaderPrefixSize + payloadSize + kDataPrefixSize + dataSize + kTrailerSize;
}

// A whole stream of a small data set, built in memory.
std::string encodeStream(std::string_view payload, std::string_view data);

// What a parser hands on: the header payload once it is complete, then the
// data in the pieces it arrives in. A non-zero return stops the parse with
// that code.
class StreamSink {
public:
    virtual ~StreamSink() = default;
    virtual CCODE onHeader(std::string_view payload) = 0;
    virtual CCODE onData(std::span<const UINT8> bytes) = 0;
};

// Parses a stream written to it in blocks of any size. A broken header
// (wrong tag or version, a payload over kMaxHeaderPayload) is
// NWSMTS_EXPECTING_HEADER; a broken data prefix or trailer, a checksum or
// length that does not match, or bytes after the trailer are
// NWSMTS_EXPECTING_TRAILER. The first failure sticks: every later call
// answers it again.
class StreamParser {
public:
    CCODE feed(std::span<const UINT8> bytes, StreamSink &sink);
    // After the last block: 0 when the trailer was read and checked;
    // NWSMTS_EXPECTING_HEADER when the header never completed,
    // NWSMTS_EXPECTING_TRAILER when the stream stops after it.
    CCODE finish() const;
    bool failed() const { return failure_ != 0; }

private:
    enum class State { HeaderPrefix, HeaderPayload, DataPrefix, Data, Trailer, Done };
    CCODE fail(CCODE code)
    {
        failure_ = code;
        return code;
    }
    CCODE prefixComplete(StreamSink &sink);

    State state_ = State::HeaderPrefix;
    CCODE failure_ = 0;
    std::array<UINT8, kTrailerSize> fixed_{}; // the prefix or trailer being gathered
    std::size_t fixedUsed_ = 0;
    std::string payload_;
    std::size_t payloadSize_ = 0;
    std::uint64_t dataSize_ = 0;
    std::uint64_t dataLeft_ = 0;
    StreamChecksum checksum_;
};

} // namespace smsemu
