// What diff reads of a data stream, whichever way the stream is cut into
// blocks, and which differences it names. The streams are made with the
// file-system TSA's own encoder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "commands/DataSetState.h"
#include "core/StreamFormat.h"

namespace {

using kxsms::DataSetState;
using kxsms::StreamDigest;
namespace stream = smsemu::stream;

struct Extent {
    uint64_t offset;
    std::string data;
};

std::vector<uint8_t> fileStream(const stream::Header &header, const std::vector<Extent> &extents, bool pad = true)
{
    std::vector<uint8_t> out(stream::headerSize(header));
    stream::encodeHeader(header, out.data());
    auto record = [&](auto encode) {
        const size_t at = out.size();
        out.resize(at + stream::kRecordSize);
        encode(out.data() + at);
    };
    std::string section;
    stream::appendAttribute(section, {"user.note", "a value"});
    record([&](uint8_t *to) { stream::encodeAttributes(1, section.size(), to); });
    out.insert(out.end(), section.begin(), section.end());
    uint64_t bytes = 0;
    for (const Extent &extent : extents) {
        record([&](uint8_t *to) { stream::encodeExtent(extent.offset, extent.data.size(), to); });
        out.insert(out.end(), extent.data.begin(), extent.data.end());
        bytes += extent.data.size();
    }
    if (pad) {
        record([&](uint8_t *to) { stream::encodePad(5, to); });
        out.insert(out.end(), 5, 0);
    }
    record([&](uint8_t *to) { stream::encodeTrailer(bytes, 0, to); });
    return out;
}

stream::Header fileHeader()
{
    stream::Header header;
    header.kind = stream::Kind::File;
    header.mode = 0640;
    header.uid = 1000;
    header.gid = 100;
    header.mtimeSeconds = 1600000000;
    header.mtimeNanoseconds = 123456789;
    header.size = 8192;
    header.name = "/tree/a.txt";
    header.user = "ann";
    header.group = "users";
    return header;
}

// The state of a stream fed in blocks of `block` bytes.
bool digest(const std::vector<uint8_t> &bytes, size_t block, DataSetState &state, uint16_t tsa = 1)
{
    StreamDigest digest;
    digest.begin(tsa, false);
    for (size_t at = 0; at < bytes.size(); at += block)
        digest.add(bytes.data() + at, std::min(block, bytes.size() - at));
    return digest.finish(state);
}

TEST(StreamDigest, ReadsTheSameWhereverTheBlocksEnd)
{
    const auto bytes = fileStream(fileHeader(), {{0, "hello"}, {4096, std::string(3000, 'w')}});
    DataSetState whole;
    ASSERT_TRUE(digest(bytes, bytes.size(), whole));
    EXPECT_EQ(whole.kind, '-');
    EXPECT_EQ(whole.mode, 0640u);
    EXPECT_EQ(whole.uid, 1000u);
    EXPECT_EQ(whole.gid, 100u);
    EXPECT_EQ(whole.size, 8192u);
    EXPECT_EQ(whole.modifiedSeconds, 1600000000);
    EXPECT_EQ(whole.modifiedNanoseconds, 123456789u);
    for (size_t block : {1, 3, 7, 20, 64, 4099}) {
        DataSetState cut;
        ASSERT_TRUE(digest(bytes, block, cut)) << block;
        EXPECT_TRUE(kxsms::differences(whole, cut).empty()) << block;
        EXPECT_EQ(cut.content, whole.content) << block;
    }
    DataSetState unpadded;
    ASSERT_TRUE(digest(fileStream(fileHeader(), {{0, "hello"}, {4096, std::string(3000, 'w')}}, false), 512,
                       unpadded));
    EXPECT_EQ(unpadded.content, whole.content) << "pad and attribute records are not content";
}

TEST(StreamDigest, ContentDependsOnTheBytesAndWhereTheyAre)
{
    DataSetState a, moved, other;
    ASSERT_TRUE(digest(fileStream(fileHeader(), {{0, "hello"}}), 9, a));
    ASSERT_TRUE(digest(fileStream(fileHeader(), {{4096, "hello"}}), 9, moved));
    ASSERT_TRUE(digest(fileStream(fileHeader(), {{0, "hellp"}}), 9, other));
    EXPECT_NE(a.content, moved.content);
    EXPECT_NE(a.content, other.content);
}

TEST(StreamDigest, ALinkCarriesItsTarget)
{
    stream::Header header = fileHeader();
    header.kind = stream::Kind::Symlink;
    header.size = 0;
    header.target = "../elsewhere";
    DataSetState link;
    ASSERT_TRUE(digest(fileStream(header, {}), 5, link));
    EXPECT_EQ(link.kind, 'l');
    EXPECT_EQ(link.target, "../elsewhere");
}

TEST(StreamDigest, AStreamCutShortOrNotOfTheTsaIsRefused)
{
    const auto bytes = fileStream(fileHeader(), {{0, "hello"}});
    DataSetState state;
    EXPECT_FALSE(digest(std::vector<uint8_t>(bytes.begin(), bytes.end() - 1), 64, state));
    std::vector<uint8_t> wrong = bytes;
    std::memcpy(wrong.data(), "XXXX", 4);
    EXPECT_FALSE(digest(wrong, 64, state));
    EXPECT_FALSE(digest({}, 64, state));
    // Another TSA's stream is taken whole.
    EXPECT_TRUE(digest(wrong, 64, state, 2));
    EXPECT_EQ(state.size, wrong.size());
}

TEST(Differences, NameEachFieldThatDiffers)
{
    DataSetState base;
    base.fromStream = true;
    base.mode = 0644;
    base.size = 6;
    base.modifiedSeconds = 1600000000;
    base.content = 1;
    struct Case {
        void (*change)(DataSetState &);
        std::vector<std::string> fields;
    };
    const std::vector<Case> cases = {
        {[](DataSetState &) {}, {}},
        {[](DataSetState &s) { s.content = 2; }, {"content"}},
        {[](DataSetState &s) { s.mode = 0600; }, {"mode"}},
        {[](DataSetState &s) { s.gid = 5; }, {"owner"}},
        {[](DataSetState &s) { s.size = 7; }, {"size"}},
        {[](DataSetState &s) { s.modifiedNanoseconds = 1; }, {"modification time"}},
        {[](DataSetState &s) { s.target = "x"; }, {"link target"}},
        {[](DataSetState &s) { s.kind = 'l', s.mode = 0777; }, {"kind"}},
        {[](DataSetState &s) { s.parent = true, s.kind = 'd'; }, {"kind"}},
        // A hard link and the file it names: the inode's fields only.
        {[](DataSetState &s) { s.kind = 'h', s.size = 0, s.content = 9, s.target = "/first"; }, {}},
        {[](DataSetState &s) { s.kind = 'h', s.mode = 0600; }, {"mode"}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        DataSetState live = base;
        cases[i].change(live);
        std::vector<std::string> found;
        for (const char *field : kxsms::differences(base, live))
            found.push_back(field);
        EXPECT_EQ(found, cases[i].fields) << "case " << i;
    }
    // What a listing says: kind, size and the time in two-second steps.
    DataSetState listed = base;
    listed.fromStream = false;
    listed.content = 0;
    listed.mode = 0;
    DataSetState live = base;
    live.modifiedSeconds = 1600000001;
    EXPECT_TRUE(kxsms::differences(listed, live).empty());
    live.modifiedSeconds = 1600000002;
    EXPECT_EQ(kxsms::differences(listed, live).size(), 1u);
}

} // namespace
