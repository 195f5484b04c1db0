// The restore-stream decoder that the three TSAs share, on its own and fast:
// whatever the bytes, nothing may crash or read out of bounds, and what it
// reports must not depend on where the blocks split the stream. Each input is
// decoded whole and again in blocks of sizes the input chooses; the two runs
// must agree on every record, on the data and where it goes, on the attribute
// section, and on how the stream failed or ended. (Where a failure is noticed
// may differ: a piece that is gathered, like the header, is checked once the
// block's bytes for it are in.)
//
// Input: a byte that seeds the block sizes, a byte that bounds them (the same
// two choices as restore_stream_fuzz, so the corpora serve both), the stream.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include <xxhash.h>

#include "core/StreamDecoder.h"

namespace {

using smsemu::stream::Decoder;
using Event = Decoder::Event;

void require(bool condition)
{
    if (!condition)
        abort();
}

struct Summary {
    std::vector<std::uint64_t> records; // events with their numbers; data pieces folded
    std::uint64_t dataHash = 0;         // of the data bytes in stream order
    std::string attributes;
    CCODE failure = 0;
    CCODE finish = 0;
    bool operator==(const Summary &) const = default;
};

// Feeds `stream` in blocks whose sizes come from `next` (at least 1).
template <class NextSize>
Summary decode(std::span<const std::uint8_t> stream, NextSize &&nextSize)
{
    Decoder decoder;
    Summary out;
    XXH3_state_t *hash = XXH3_createState();
    require(hash != nullptr);
    XXH3_64bits_reset(hash);
    std::uint64_t dataBytes = 0;
    std::uint64_t nextOffset = 0;
    std::size_t at = 0;
    bool lastWasData = false;
    while (at < stream.size() && out.failure == 0) {
        const std::size_t size = std::min(nextSize(), stream.size() - at);
        std::span<const std::uint8_t> bytes = stream.subspan(at, size);
        for (Event event; (event = decoder.next(bytes)) != Event::NeedBytes;) {
            if (event == Event::Failed) {
                out.failure = decoder.failure();
                break;
            }
            if (event == Event::Data) {
                const std::span<const std::uint8_t> data = decoder.data();
                // From the block fed, within the extent and the file, in order.
                require(!data.empty() && data.data() >= stream.data() + at &&
                        data.data() + data.size() <= stream.data() + at + size);
                require(decoder.dataOffset() >= decoder.extentOffset() &&
                        decoder.dataOffset() + data.size() <= decoder.extentOffset() + decoder.extentLength());
                require(decoder.dataOffset() >= nextOffset &&
                        decoder.dataOffset() + data.size() <= decoder.header().size);
                nextOffset = decoder.dataOffset() + data.size();
                XXH3_64bits_update(hash, data.data(), data.size());
                dataBytes += data.size();
                if (lastWasData)
                    continue;
            }
            lastWasData = event == Event::Data;
            out.records.push_back(static_cast<std::uint64_t>(event));
            if (event == Event::Extent) {
                out.records.push_back(decoder.extentOffset());
                out.records.push_back(decoder.extentLength());
            } else if (event == Event::Header) {
                out.records.push_back(static_cast<std::uint64_t>(decoder.header().kind));
                out.records.push_back(decoder.header().size);
            }
        }
        at += size;
    }
    out.dataHash = XXH3_64bits_digest(hash);
    XXH3_freeState(hash);
    out.attributes = decoder.attributes();
    out.finish = decoder.finish();
    // A complete stream: its data is what the trailer counted.
    if (out.finish == 0)
        require(out.failure == 0 && dataBytes <= decoder.header().size);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const std::uint8_t seed = data[0];
    const std::size_t bound = 1 + static_cast<std::size_t>(data[1]) * 13;
    const std::span<const std::uint8_t> stream(data + 2, size - 2);

    const Summary whole = decode(stream, [&] { return stream.size() + 1; });
    std::uint32_t state = seed * 2654435761u + 1;
    const Summary split = decode(stream, [&] {
        state = state * 1103515245u + 12345u;
        return 1 + (state >> 8) % bound;
    });
    require(whole == split);
    return 0;
}
