// kxsms's reading of a data set's backup stream, checked against streams the
// stand-in's own encoder writes: the header's fields of every kind and
// version, in blocks of any size, and a content digest that does not depend
// on where a file's holes lie.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <xxhash.h>

#include "archive/DataSetStream.h"
#include "core/StreamFormat.h"

namespace {

namespace tsa = smsemu::stream;
using kxsms::DataSetKind;
using kxsms::DataSetStream;
using Bytes = std::vector<unsigned char>;

struct Extent {
    uint64_t offset;
    std::string data;
};

// A whole stream as the TSA writes it: header, attributes, extents, trailer.
Bytes streamOf(const tsa::Header &header, const std::vector<Extent> &extents, bool attributes = false)
{
    Bytes out(tsa::headerSize(header));
    tsa::encodeHeader(header, out.data());
    auto record = [&](auto encode) {
        unsigned char bytes[tsa::kRecordSize];
        encode(bytes);
        out.insert(out.end(), bytes, bytes + sizeof bytes);
    };
    if (attributes) {
        std::string section;
        tsa::appendAttribute(section, {"user.comment", "KXFT looks like a trailer"});
        record([&](unsigned char *at) { tsa::encodeAttributes(1, section.size(), at); });
        out.insert(out.end(), section.begin(), section.end());
    }
    uint64_t bytes = 0;
    for (const Extent &extent : extents) {
        record([&](unsigned char *at) { tsa::encodeExtent(extent.offset, extent.data.size(), at); });
        out.insert(out.end(), extent.data.begin(), extent.data.end());
        bytes += extent.data.size();
    }
    record([&](unsigned char *at) { tsa::encodeTrailer(bytes, 0, at); });
    return out;
}

// Feeds the stream in blocks of `step` bytes.
void feed(DataSetStream &reader, const Bytes &stream, size_t step)
{
    reader.reset();
    for (size_t at = 0; at < stream.size(); at += step)
        reader.feed(stream.data() + at, std::min(step, stream.size() - at));
}

tsa::Header fileHeader(std::string_view name, uint64_t size) // name: a literal (the header keeps a view)
{
    tsa::Header header;
    header.kind = tsa::Kind::File;
    header.mode = 0640;
    header.uid = 1000;
    header.gid = 100;
    header.mtimeSeconds = 1600000001;
    header.mtimeNanoseconds = 123456789;
    header.atimeSeconds = 1700000000;
    header.hasChangeTime = true;
    header.ctimeSeconds = 1700000005;
    header.ctimeNanoseconds = 42;
    header.size = size;
    header.name = name;
    header.user = "ann";
    header.group = "users";
    return header;
}

TEST(DataSetStream, ReadsTheHeaderOfEveryKindInBlocksOfAnySize)
{
    struct Case {
        tsa::Kind kind;
        const char *target;
        DataSetKind expected;
        char letter;
    };
    for (const Case &c : {Case{tsa::Kind::File, "", DataSetKind::File, '-'},
                          Case{tsa::Kind::Directory, "", DataSetKind::Directory, 'd'},
                          Case{tsa::Kind::Symlink, "../there", DataSetKind::Symlink, 'l'},
                          Case{tsa::Kind::HardLink, "/srv/first", DataSetKind::HardLink, 'h'},
                          Case{tsa::Kind::Fifo, "", DataSetKind::Fifo, 'p'},
                          Case{tsa::Kind::CharDevice, "", DataSetKind::CharDevice, 'c'},
                          Case{tsa::Kind::BlockDevice, "", DataSetKind::BlockDevice, 'b'}}) {
        tsa::Header header = fileHeader("/srv/x", c.kind == tsa::Kind::File ? 3 : 0);
        header.kind = c.kind;
        header.target = c.target;
        // A file with several names and its links share the inode they name.
        if (c.kind == tsa::Kind::HardLink || c.kind == tsa::Kind::File) {
            header.inodeDevice = 0x803;
            header.inode = 7;
        }
        if (c.kind == tsa::Kind::CharDevice || c.kind == tsa::Kind::BlockDevice) {
            header.deviceMajor = 8;
            header.deviceMinor = 1;
        }
        const Bytes stream =
            streamOf(header, c.kind == tsa::Kind::File ? std::vector<Extent>{{0, "abc"}} : std::vector<Extent>{}, true);
        for (size_t step : {size_t{1}, size_t{7}, size_t{4096}}) {
            DataSetStream reader;
            feed(reader, stream, step);
            const std::string context = std::string(1, c.letter) + " in blocks of " + std::to_string(step);
            ASSERT_TRUE(reader.headerKnown()) << context;
            EXPECT_TRUE(reader.complete()) << context;
            const kxsms::DataSetHeader &got = reader.header();
            EXPECT_EQ(got.kind, c.expected) << context;
            EXPECT_EQ(kxsms::kindLetter(got.kind), c.letter);
            EXPECT_EQ(got.version, 3);
            EXPECT_EQ(got.mode, 0640u);
            EXPECT_EQ(got.uid, 1000u);
            EXPECT_EQ(got.gid, 100u);
            EXPECT_EQ(got.user, "ann");
            EXPECT_EQ(got.group, "users");
            EXPECT_EQ(got.mtimeSeconds, 1600000001);
            EXPECT_EQ(got.mtimeNanoseconds, 123456789u);
            EXPECT_TRUE(got.hasChangeTime);
            EXPECT_EQ(got.ctimeSeconds, 1700000005);
            EXPECT_EQ(got.ctimeNanoseconds, 42u);
            EXPECT_EQ(got.size, c.kind == tsa::Kind::File ? 3u : 0u);
            EXPECT_EQ(got.name, "/srv/x");
            EXPECT_EQ(got.target, c.target);
            EXPECT_EQ(got.deviceMajor, header.deviceMajor);
            EXPECT_EQ(got.inodeDevice, header.inodeDevice) << context;
            EXPECT_EQ(got.inode, header.inode) << context;
            EXPECT_EQ(reader.headerLength(), tsa::headerSize(header));
        }
    }
}

TEST(DataSetStream, OlderHeadersHaveNoChangeTime)
{
    tsa::Header header = fileHeader("/old", 0);
    header.hasChangeTime = false;
    DataSetStream reader;
    feed(reader, streamOf(header, {}), 5);
    ASSERT_TRUE(reader.headerKnown());
    EXPECT_EQ(reader.header().version, 2);
    EXPECT_FALSE(reader.header().hasChangeTime);

    // Version 1: 64 fixed bytes, built by hand (the stand-in writes no more of them).
    Bytes old(64 + 4 + 8, 0);
    memcpy(old.data(), "KXFH", 4);
    old[4] = 1;
    old[6] = static_cast<unsigned char>(old.size());
    old[8] = 2; // a directory
    old[10] = 4;
    memcpy(old.data() + 64, "/dir", 4);
    const uint64_t hash = XXH3_64bits(old.data(), old.size() - 8);
    for (int i = 0; i < 8; ++i)
        old[old.size() - 8 + static_cast<size_t>(i)] = static_cast<unsigned char>(hash >> (8 * i));
    feed(reader, old, 3);
    ASSERT_TRUE(reader.headerKnown());
    EXPECT_EQ(reader.header().kind, DataSetKind::Directory);
    EXPECT_EQ(reader.header().name, "/dir");
}

TEST(DataSetStream, WhatIsNoHeaderIsPassedOver)
{
    Bytes stream = streamOf(fileHeader("/f", 1), {{0, "x"}});
    for (size_t at : {size_t{0}, size_t{4}, size_t{8}, size_t{30}, size_t{107}}) {
        Bytes damaged = stream;
        damaged[at] ^= 0x40;
        DataSetStream reader;
        feed(reader, damaged, 16);
        EXPECT_FALSE(reader.headerKnown()) << "a byte changed at " << at;
        EXPECT_FALSE(reader.complete()) << at;
    }
    DataSetStream reader;
    feed(reader, Bytes(3, 'K'), 1);
    EXPECT_FALSE(reader.headerKnown()) << "too short";
}

TEST(DataSetStream, TheContentDigestDoesNotDependOnWhereTheHolesLie)
{
    const std::string zeros(10000, '\0');
    const uint64_t size = 20000;
    auto digestOf = [&](const std::vector<Extent> &extents) {
        DataSetStream reader(true);
        feed(reader, streamOf(fileHeader("/f", size), extents), 999);
        EXPECT_TRUE(reader.complete());
        return reader.contentDigest();
    };
    // The same content: "abc" at 5000 and "xyz" at 15000, zeros elsewhere.
    const uint64_t sparse = digestOf({{5000, "abc"}, {15000, "xyz"}});
    EXPECT_EQ(digestOf({{0, zeros.substr(0, 5000) + "abc" + zeros.substr(0, 9997) + "xyz"}}), sparse)
        << "written out in full";
    EXPECT_EQ(digestOf({{4096, zeros.substr(0, 904) + "abc"}, {12288, zeros.substr(0, 2712) + "xyz"}}), sparse)
        << "other extents";
    EXPECT_NE(digestOf({{5000, "abd"}, {15000, "xyz"}}), sparse) << "a byte differs";
    EXPECT_NE(digestOf({{5001, "abc"}, {15000, "xyz"}}), sparse) << "a byte moved";
    EXPECT_NE(digestOf({{5000, "abc"}}), sparse) << "a part missing";

    // The size counts: a file of zeros is not an empty file.
    DataSetStream empty(true), holes(true);
    feed(empty, streamOf(fileHeader("/f", 0), {}), 64);
    feed(holes, streamOf(fileHeader("/f", 4096), {}), 64);
    EXPECT_NE(empty.contentDigest(), holes.contentDigest());
}

} // namespace
