// The restore-stream decoder the three TSAs share: what it reports does not
// depend on where the blocks split the stream, file data comes from the
// caller's own block, a stream that stops early never fails before its end,
// a broken one fails at the byte that breaks it, and the first failure sticks.
#include "StreamBytes.h"
#include "core/StreamDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace smsemutest {
namespace {

using smsemu::stream::Decoder;
using Event = Decoder::Event;

std::span<const std::uint8_t> spanOf(const std::string &s)
{
    return {reinterpret_cast<const std::uint8_t *>(s.data()), s.size()};
}

// What a decoder reported over a stream fed in blocks.
struct Decoded {
    std::vector<Event> events; // the pieces of one extent's data as one Data
    std::string file;          // the data at its offsets, holes as zero bytes
    std::string attributes;
    CCODE failed = 0;         // what next() failed with
    std::size_t failedAt = 0; // the bytes it had taken then
    CCODE finished = 0;
    bool operator==(const Decoded &) const = default;
};

Decoded decode(const std::string &stream, std::size_t block)
{
    Decoder decoder;
    Decoded out;
    for (std::size_t at = 0; at < stream.size() && out.failed == 0; at += block) {
        std::span<const std::uint8_t> bytes = spanOf(stream).subspan(at, std::min(block, stream.size() - at));
        const std::uint8_t *begin = bytes.data();
        const std::uint8_t *end = begin + bytes.size();
        for (Event event; (event = decoder.next(bytes)) != Event::NeedBytes;) {
            if (event == Event::Failed) {
                out.failed = decoder.failure();
                out.failedAt = at + static_cast<std::size_t>(bytes.data() - begin);
                break;
            }
            if (event == Event::Header)
                out.file.assign(static_cast<std::size_t>(std::min<std::uint64_t>(decoder.header().size, 4096)), '\0');
            if (event == Event::Data) {
                const std::span<const std::uint8_t> data = decoder.data();
                EXPECT_TRUE(data.data() >= begin && data.data() + data.size() <= end) << "not from the block";
                EXPECT_FALSE(data.empty());
                EXPECT_GE(decoder.dataOffset(), decoder.extentOffset());
                EXPECT_LE(decoder.dataOffset() + data.size(), decoder.extentOffset() + decoder.extentLength());
                if (decoder.dataOffset() + data.size() <= out.file.size())
                    std::copy(data.begin(), data.end(), out.file.begin() + static_cast<long>(decoder.dataOffset()));
                if (out.events.back() == Event::Data)
                    continue;
            }
            out.events.push_back(event);
        }
    }
    out.attributes = decoder.attributes();
    out.finished = decoder.finish();
    return out;
}

std::string flipped(std::string s, std::size_t at)
{
    s[at] = static_cast<char>(s[at] ^ 1);
    return s;
}

const HandHeader kFile{1, 0644, 1600000000, 10, "/dir/f", "", 2};

// A file of 10 bytes with an attribute section, a pad, and two extents
// around a hole.
std::string everyRecord()
{
    return withRecords(kFile,
                       attributeRecord({{"user.a", "1"}, {"user.b", "xyz"}}) + handRecord("KXFP", 3, 0) +
                           std::string(3, '\0') + handRecord("KXFE", 0, 3) + "abc" + handRecord("KXFE", 6, 4) + "wxyz",
                       7);
}

TEST(StreamDecoder, BlocksMaySplitTheStreamAnywhere)
{
    const std::string stream = everyRecord();
    const Decoded whole = decode(stream, stream.size());
    EXPECT_EQ(whole.events, (std::vector<Event>{Event::Header, Event::Attributes, Event::Pad, Event::Extent,
                                                Event::Data, Event::Extent, Event::Data, Event::Trailer}));
    EXPECT_EQ(whole.file, std::string("abc\0\0\0wxyz", 10));
    EXPECT_EQ(whole.attributes, attributeRecord({{"user.a", "1"}, {"user.b", "xyz"}}).substr(20));
    EXPECT_EQ(whole.failed, 0u);
    EXPECT_EQ(whole.finished, 0u);
    for (std::size_t block = 1; block < stream.size(); ++block)
        EXPECT_EQ(decode(stream, block), whole) << "blocks of " << block;
}

TEST(StreamDecoder, AStreamCutShortEndsInThePartItStoppedIn)
{
    const std::string stream = everyRecord();
    const std::size_t headerEnd = handHeader(kFile).size();
    for (std::size_t length = 0; length < stream.size(); ++length)
        for (std::size_t block : {std::size_t(1), std::size_t(7), stream.size()}) {
            const Decoded d = decode(stream.substr(0, length), block);
            EXPECT_EQ(d.failed, 0u) << length;
            EXPECT_EQ(d.finished, length < headerEnd ? NWSMTS_EXPECTING_HEADER : NWSMTS_EXPECTING_TRAILER) << length;
        }
}

TEST(StreamDecoder, ABrokenStreamFailsAtTheByteThatBreaksIt)
{
    const HandHeader folder{2, 0755, 1600000000, 0, "/dir", "", 2};
    const HandHeader firstVersion{1, 0644, 1600000000, 10, "/dir/f", ""};
    const std::size_t header = handHeader(kFile).size();
    const std::string good = everyRecord();
    struct Case {
        const char *what;
        std::string stream;
        std::size_t at; // bytes taken when it fails
        CCODE code;
    };
    const std::vector<Case> cases{
        {"another magic", "KXFX" + good.substr(4), 4, NWSMTS_EXPECTING_HEADER},
        {"a header checksum", flipped(good, header - 1), header, NWSMTS_EXPECTING_HEADER},
        {"an unknown record", handHeader(kFile) + handRecord("KXFZ", 0, 0), header + 4, NWSMTS_EXPECTING_TRAILER},
        {"an extent of a directory", handHeader(folder) + handRecord("KXFE", 0, 1), handHeader(folder).size() + 4,
         NWSMTS_EXPECTING_TRAILER},
        {"attributes after a pad", handHeader(kFile) + handRecord("KXFP", 0, 0) + attributeRecord({{"user.a", "1"}}),
         header + 24, NWSMTS_EXPECTING_TRAILER},
        {"a pad in the first version", handHeader(firstVersion) + handRecord("KXFP", 0, 0),
         handHeader(firstVersion).size() + 4, NWSMTS_EXPECTING_TRAILER},
        {"an empty extent", handHeader(kFile) + handRecord("KXFE", 0, 0), header + 20, NWSMTS_EXPECTING_TRAILER},
        {"an extent past the size", handHeader(kFile) + handRecord("KXFE", 8, 3), header + 20,
         NWSMTS_EXPECTING_TRAILER},
        {"an extent over the one before",
         handHeader(kFile) + handRecord("KXFE", 2, 2) + "ab" + handRecord("KXFE", 3, 1), header + 42,
         NWSMTS_EXPECTING_TRAILER},
        {"an attribute section of fewer entries",
         handHeader(kFile) + handRecord("KXFA", 2, 12) + std::string("\1\6\0\0\0abcdefg", 12), header + 32,
         NWSMTS_EXPECTING_TRAILER},
        {"a trailer that miscounts", withRecords(kFile, handRecord("KXFE", 0, 1) + "a", 2), header + 41,
         NWSMTS_EXPECTING_TRAILER},
        {"a trailer with another checksum", flipped(good, good.size() - 1), good.size(), NWSMTS_EXPECTING_TRAILER},
        {"bytes after the trailer", good + "!", good.size(), NWSMTS_EXPECTING_TRAILER},
    };
    for (const Case &c : cases) {
        const Decoded d = decode(c.stream, 1);
        EXPECT_EQ(d.failed, c.code) << c.what;
        EXPECT_EQ(d.failedAt, c.at) << c.what;
        EXPECT_EQ(d.finished, c.code) << c.what;
    }
}

TEST(StreamDecoder, TheFirstFailureSticks)
{
    const std::string stream = everyRecord();
    Decoder decoder;
    std::span<const std::uint8_t> bytes = spanOf(stream);
    ASSERT_EQ(decoder.next(bytes), Event::Header);
    // A TSA refuses the target the header names.
    EXPECT_EQ(decoder.fail(NWSMTS_INVALID_PATH), NWSMTS_INVALID_PATH);
    EXPECT_EQ(decoder.fail(NWSMTS_WRITE_ERROR), NWSMTS_INVALID_PATH);
    EXPECT_EQ(decoder.next(bytes), Event::Failed);
    std::span<const std::uint8_t> none;
    EXPECT_EQ(decoder.next(none), Event::Failed);
    EXPECT_EQ(decoder.finish(), NWSMTS_INVALID_PATH);
}

} // namespace
} // namespace smsemutest
