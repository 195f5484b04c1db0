// Damaged, truncated and hostile archives: the reader never crashes, never
// trusts a length it has not checked, reports the damage, and still reads
// every member the damage did not touch.
#include <gtest/gtest.h>

#include <random>

#include <xxhash.h>

#include "archive/ArchiveSupport.h"

using namespace archive_test;
using kxsms::ArchiveReader;
namespace format = kxsms::format;

namespace {

const std::vector<Sample> &smallSamples()
{
    static const std::vector<Sample> samples = {
        {"/d", {}, true},
        {"/d/a", pattern(40, 1)},
        {"/d/b", pattern(300, 2)},
        {"/d/c", pattern(7, 3)},
    };
    return samples;
}

// Writes with blocks of 100 bytes, so that members have several chunks.
Bytes smallArchive(std::vector<Extent> &extents)
{
    MemoryOutput out;
    writeArchive(out, smallSamples(), &extents, &out, 100);
    return out.out;
}

// Every member whose bytes lie outside [begin, end) is read back intact.
void expectUntouchedMembersIntact(const ReadResult &read, const std::vector<Extent> &extents, size_t begin, size_t end,
                                  const std::string &context)
{
    const auto &samples = smallSamples();
    for (size_t i = 0; i < samples.size(); ++i) {
        if (extents[i].end > begin && extents[i].begin < end)
            continue;
        const Found *found = read.find(samples[i].name);
        ASSERT_NE(found, nullptr) << context << ": " << samples[i].name << " is missing";
        EXPECT_EQ(found->state, ArchiveReader::MemberState::Intact) << context << ": " << samples[i].name;
        EXPECT_TRUE(found->data == samples[i].data) << context << ": " << samples[i].name;
    }
}

TEST(ArchiveDamage, EveryFlippedByteIsFoundAndOnlyItsMemberIsLost)
{
    std::vector<Extent> extents;
    const Bytes archive = smallArchive(extents);
    for (size_t at = 0; at < archive.size(); ++at) {
        Bytes damaged = archive;
        damaged[at] ^= 0x5A;
        const ReadResult read = readBytes(damaged);
        const std::string context = "byte " + std::to_string(at);
        EXPECT_GT(read.problemCount, 0u) << context << " went unnoticed";
        ASSERT_TRUE(read.opened) << context;
        expectUntouchedMembersIntact(read, extents, at, at + 1, context);
        // A member that is handed out whole but damaged is reported as such.
        for (const Found &found : read.members) {
            if (found.state != ArchiveReader::MemberState::Intact)
                continue;
            for (const Sample &sample : smallSamples()) {
                if (sample.name == found.member.name) {
                    EXPECT_TRUE(found.data == sample.data) << context << ": " << sample.name;
                }
            }
        }
    }
}

TEST(ArchiveDamage, TruncationAtEveryPositionIsReported)
{
    std::vector<Extent> extents;
    const Bytes archive = smallArchive(extents);
    for (size_t length = 0; length < archive.size(); ++length) {
        const Bytes cut(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(length));
        const ReadResult read = readBytes(cut);
        const std::string context = "length " + std::to_string(length);
        EXPECT_FALSE(read.endSeen) << context;
        EXPECT_GT(read.problemCount, 0u) << context;
        expectUntouchedMembersIntact(read, extents, length, SIZE_MAX, context);
        for (size_t i = 0; i < extents.size(); ++i) {
            const Found *found = read.find(smallSamples()[i].name);
            if (found != nullptr && extents[i].end > length) {
                EXPECT_NE(found->state, ArchiveReader::MemberState::Intact) << context;
            }
        }
    }
}

TEST(ArchiveDamage, DamagedDataChunkSkipsTheMemberAndKeepsTheRest)
{
    std::vector<Extent> extents;
    Bytes archive = smallArchive(extents);
    // The third member's first chunk: its header ends 16 bytes after the member header.
    const size_t dataAt = extents[2].begin + format::memberHeaderSize(4) + format::c_ChunkHeaderSize + 5;
    archive[dataAt] ^= 1;
    const ReadResult read = readBytes(archive);
    ASSERT_EQ(read.members.size(), 4u);
    EXPECT_EQ(read.members[2].state, ArchiveReader::MemberState::Damaged);
    EXPECT_TRUE(read.members[2].data.empty()) << "no byte of a damaged chunk is handed out";
    EXPECT_EQ(read.problems.front().member, "/d/b");
    EXPECT_TRUE(read.mentions("fails its checksum"));
    EXPECT_EQ(read.members[3].state, ArchiveReader::MemberState::Intact);
    EXPECT_TRUE(read.endSeen);
}

TEST(ArchiveDamage, NotAnArchive)
{
    const std::vector<std::pair<std::string, Bytes>> inputs = {
        {"empty", {}},
        {"text", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}},
        {"zeros", Bytes(5000, 0)},
        {"a zstd frame of something else", {0x28, 0xB5, 0x2F, 0xFD, 0x20, 0x00, 0x01, 0x00, 0x00}},
    };
    for (const auto &[what, bytes] : inputs) {
        const ReadResult read = readBytes(bytes);
        EXPECT_FALSE(read.opened) << what;
        EXPECT_GT(read.problemCount, 0u) << what;
    }
}

TEST(ArchiveDamage, NewerFormatVersionIsRefused)
{
    Bytes archive = archiveOf(smallSamples());
    format::put16(archive.data() + 8, format::c_Version + 1);
    format::put64(archive.data() + 32, XXH3_64bits(archive.data(), 32));
    const ReadResult read = readBytes(archive);
    EXPECT_FALSE(read.opened);
    EXPECT_TRUE(read.mentions("newer"));
}

// Records whose checksums hold but whose lengths are out of bounds are never
// followed: a reader that trusted them would read past its buffers.
TEST(ArchiveDamage, LengthsOutOfBoundsAreRefusedEvenWithValidChecksums)
{
    std::vector<Extent> extents;
    const Bytes archive = smallArchive(extents);

    // A member header announcing a name of 2000 bytes, checksum computed over all of it.
    Bytes longName(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(extents[1].begin));
    const size_t at = longName.size();
    longName.resize(at + format::memberHeaderSize(2000), 'n');
    memcpy(longName.data() + at, archive.data() + extents[1].begin, format::c_MemberFixedSize);
    format::put16(longName.data() + at + 4, 2000);
    format::put64(longName.data() + at + format::c_MemberFixedSize + 2000,
                  XXH3_64bits(longName.data() + at, format::c_MemberFixedSize + 2000));
    longName.insert(longName.end(), archive.begin() + static_cast<std::ptrdiff_t>(extents[1].end), archive.end());
    ReadResult read = readBytes(longName);
    EXPECT_EQ(read.find(std::string(2000, 'n')), nullptr);
    EXPECT_GT(read.problemCount, 0u);
    EXPECT_NE(read.find("/d/b"), nullptr);

    // A chunk announcing 70000 bytes with a matching checksum.
    Bytes bigChunk(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(extents[2].begin));
    bigChunk.insert(bigChunk.end(), archive.begin() + static_cast<std::ptrdiff_t>(extents[2].begin),
                    archive.begin() + static_cast<std::ptrdiff_t>(extents[2].begin + format::memberHeaderSize(4)));
    const Bytes data = pattern(70000, 9);
    unsigned char head[format::c_ChunkHeaderSize];
    format::encodeChunkHeader(70000, format::hashChunk(data.data(), data.size(), 0), head);
    bigChunk.insert(bigChunk.end(), head, head + sizeof head);
    bigChunk.insert(bigChunk.end(), data.begin(), data.end());
    bigChunk.insert(bigChunk.end(), archive.begin() + static_cast<std::ptrdiff_t>(extents[3].begin), archive.end());
    read = readBytes(bigChunk);
    ASSERT_NE(read.find("/d/b"), nullptr);
    EXPECT_EQ(read.find("/d/b")->state, ArchiveReader::MemberState::Damaged);
    EXPECT_TRUE(read.find("/d/b")->data.empty());
    ASSERT_NE(read.find("/d/c"), nullptr);
    EXPECT_EQ(read.find("/d/c")->state, ArchiveReader::MemberState::Intact);
}

// An archive that holds another archive as data: after damage the reader
// resynchronises on its own next member, never on the inner archive's.
TEST(ArchiveDamage, ResynchronisationIgnoresMembersOfAnArchiveInsideTheData)
{
    // The inner archive is another backup: an id of its own.
    MemoryOutput innerOut;
    {
        kxsms::ArchiveWriter writer(innerOut, 1, 0x0BADC0FFEE0DDF00ull, 1700000000);
        unsigned index = 0;
        for (const Sample &sample : std::vector<Sample>{{"/inner/x", pattern(50, 7)}, {"/inner/y", pattern(50, 8)}}) {
            format::MemberDescriptor member = descriptorOf(sample, index++);
            writer.beginMember(member);
            writer.writeBlock(sample.data.data(), sample.data.size());
            writer.endMember(true);
        }
        writer.finish();
    }
    const Bytes &inner = innerOut.out;
    std::vector<Extent> extents;
    MemoryOutput out;
    writeArchive(out, {{"/outer/a", inner}, {"/outer/b", pattern(20, 9)}}, &extents, &out, 64);
    Bytes archive = out.out;
    archive[extents[0].begin + format::memberHeaderSize(8) + format::c_ChunkHeaderSize] ^= 0xFF;
    const ReadResult read = readBytes(archive);
    EXPECT_EQ(read.find("/inner/x"), nullptr);
    EXPECT_EQ(read.find("/inner/y"), nullptr);
    ASSERT_NE(read.find("/outer/b"), nullptr);
    EXPECT_EQ(read.find("/outer/b")->state, ArchiveReader::MemberState::Intact);
    EXPECT_TRUE(read.endSeen);
}

TEST(ArchiveDamage, LostMembersAreCounted)
{
    std::vector<Extent> extents;
    const Bytes archive = smallArchive(extents);
    // Cut out the second and third members entirely.
    Bytes cut(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(extents[1].begin));
    cut.insert(cut.end(), archive.begin() + static_cast<std::ptrdiff_t>(extents[3].begin), archive.end());
    const ReadResult read = readBytes(cut);
    EXPECT_EQ(read.members.size(), 2u);
    EXPECT_TRUE(read.mentions("2 member(s) lost"));
}

TEST(ArchiveDamage, DamagedCompressedFrameLosesOnlyWhatItHeld)
{
    std::vector<Sample> samples;
    for (unsigned i = 0; i < 40; ++i)
        samples.push_back({"/f/" + std::to_string(i), pattern(3000, i)});
    MemoryOutput out;
    {
        kxsms::ZstdOutput zstd(out, 3, 8192);
        writeArchive(zstd, samples);
    }
    Bytes archive = out.out;
    archive[archive.size() / 2] ^= 0xFF;
    archive[archive.size() / 2 + 1] ^= 0xFF;
    const ReadResult read = readBytes(archive);
    EXPECT_GT(read.problemCount + read.streamDamage.size(), 0u);
    const Found *last = read.find("/f/39");
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->state, ArchiveReader::MemberState::Intact);
    EXPECT_TRUE(last->data == samples.back().data);
    size_t intact = 0;
    for (const Found &found : read.members)
        intact += found.state == ArchiveReader::MemberState::Intact;
    EXPECT_GE(intact, 30u);
}

TEST(ArchiveDamage, RandomInputNeverCrashes)
{
    std::mt19937 random(12345);
    std::vector<Extent> extents;
    const Bytes archive = smallArchive(extents);
    for (int round = 0; round < 300; ++round) {
        Bytes bytes = archive;
        // Scramble a few runs of bytes, sometimes cut, sometimes compress.
        for (int hits = 1 + round % 4; hits > 0; --hits) {
            const size_t at = random() % bytes.size();
            const size_t length = 1 + random() % 32;
            for (size_t i = at; i < std::min(bytes.size(), at + length); ++i)
                bytes[i] = static_cast<unsigned char>(random());
        }
        if (round % 3 == 0)
            bytes.resize(random() % bytes.size());
        const ReadResult read = readBytes(bytes, 1 + random() % 200);
        for (const Found &found : read.members)
            EXPECT_LE(found.member.name.size(), format::c_MaxNameLength);
    }
}

} // namespace
