// Archives written and read back: plain and compressed, in one piece and
// through a pipe, with every descriptor field and every byte of data intact.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include <unistd.h>
#include <xxhash.h>

#include "archive/ArchiveSupport.h"

using namespace archive_test;
using kxsms::ArchiveReader;

namespace {

std::vector<Sample> samples()
{
    return {
        {"/data", {}, true},
        {"/data/empty", {}},
        {"/data/one", pattern(1, 1)},
        {"/data/exact-block", pattern(65536, 2)},
        {"/data/block-and-one", pattern(65537, 3)},
        {"/data/several-blocks", pattern(300000, 4)},
        {"/data/" + std::string(1017, 'n'), pattern(10, 5)}, // a name of 1023 bytes
    };
}

void expectSame(const std::vector<Sample> &written, const ReadResult &read)
{
    ASSERT_TRUE(read.opened);
    ASSERT_EQ(read.members.size(), written.size());
    for (size_t i = 0; i < written.size(); ++i) {
        const Found &found = read.members[i];
        const kxsms::format::MemberDescriptor expected = descriptorOf(written[i], static_cast<unsigned>(i));
        EXPECT_EQ(found.member.name, expected.name);
        EXPECT_EQ(found.member.parent, expected.parent);
        EXPECT_EQ(found.member.archive, expected.archive);
        EXPECT_EQ(found.member.nameSpace, expected.nameSpace);
        EXPECT_EQ(found.member.tsaType, 1);
        EXPECT_EQ(found.member.created, expected.created);
        EXPECT_EQ(found.member.modified, expected.modified);
        EXPECT_EQ(found.member.accessed, expected.accessed);
        EXPECT_EQ(found.member.size, expected.size);
        EXPECT_EQ(found.member.sequence, i);
        EXPECT_EQ(found.state, ArchiveReader::MemberState::Intact) << found.member.name;
        EXPECT_TRUE(found.data == written[i].data) << found.member.name;
    }
    EXPECT_TRUE(read.endSeen);
    EXPECT_EQ(read.problemCount, 0u);
    EXPECT_TRUE(read.streamDamage.empty());
}

enum class Packing { Plain, Zstd, ZstdSmallFrames };

class RoundTrip : public ::testing::TestWithParam<std::tuple<Packing, size_t>> {
protected:
    Bytes write(const std::vector<Sample> &written)
    {
        MemoryOutput out;
        switch (std::get<0>(GetParam())) {
        case Packing::Plain:
            writeArchive(out, written);
            break;
        case Packing::Zstd: {
            kxsms::ZstdOutput zstd(out);
            writeArchive(zstd, written);
            break;
        }
        case Packing::ZstdSmallFrames: {
            kxsms::ZstdOutput zstd(out, 3, 4096);
            writeArchive(zstd, written);
            break;
        }
        }
        EXPECT_TRUE(out.finished);
        return out.out;
    }
};

TEST_P(RoundTrip, EveryMemberComesBackAsWritten)
{
    const auto written = samples();
    const Bytes archive = write(written);
    const bool compressed = std::get<0>(GetParam()) != Packing::Plain;
    const unsigned char zstdMagic[4] = {0x28, 0xB5, 0x2F, 0xFD};
    EXPECT_EQ(memcmp(archive.data(), compressed ? zstdMagic : reinterpret_cast<const unsigned char *>("KXSMSARC"), 4),
              0);
    expectSame(written, readBytes(archive, std::get<1>(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(Packings, RoundTrip,
                         ::testing::Combine(::testing::Values(Packing::Plain, Packing::Zstd, Packing::ZstdSmallFrames),
                                            // all at once, in odd pieces, byte by byte
                                            ::testing::Values(SIZE_MAX, 4093, 1)));

TEST(ArchiveRoundTrip, ZstdShrinksCompressibleData)
{
    const std::vector<Sample> written = {{"/zeros", Bytes(1 << 20, 0)}};
    MemoryOutput out;
    {
        kxsms::ZstdOutput zstd(out);
        writeArchive(zstd, written);
    }
    EXPECT_LT(out.out.size(), 16u << 10);
    expectSame(written, readBytes(out.out));
}

// A thread's readers of compressed archives share one decompression
// workspace, handed from one to the next: whatever the reader before left
// (a frame half read, a damaged frame, a larger window, a reader still open)
// the next reads its archive exactly.
TEST(ArchiveRoundTrip, CompressedReadersOneAfterAnotherEachReadExactly)
{
    const auto compress = [](const std::vector<Sample> &samples, uint64_t frame) {
        MemoryOutput out;
        {
            kxsms::ZstdOutput zstd(out, 3, frame);
            writeArchive(zstd, samples);
        }
        return out.out;
    };
    const std::vector<Sample> first = {{"/x/1", pattern(200000, 7)}, {"/x/2", pattern(50, 8)}};
    const std::vector<Sample> second = {{"/y/a", pattern(3000, 9)}, {"/y/b", {}, true}};
    const Bytes large = compress(first, 1 << 20);
    const Bytes small = compress(second, 4096);
    Bytes damaged = large;
    damaged[damaged.size() / 2] ^= 0xFF;

    struct Case {
        const char *before;
        std::function<void()> run; // what the reader before does
    };
    const Case cases[] = {
        {"a reader left in the middle of a frame",
         [&] {
             MemoryInput raw(large, 1000);
             kxsms::ArchiveInput input(raw, [](const std::string &) {});
             unsigned char some[5000];
             EXPECT_GT(input.read(some, sizeof some), 0u);
         }},
        {"a damaged frame",
         [&] {
             const ReadResult read = readBytes(damaged);
             EXPECT_GT(read.problemCount + read.streamDamage.size(), 0u);
         }},
        {"a whole archive of large frames", [&] { expectSame(first, readBytes(large)); }},
        {"a plain archive", [&] { expectSame(second, readBytes(archiveOf(second))); }},
        {"a reader still open beside it",
         [&] {
             MemoryInput raw(large, 777);
             kxsms::ArchiveInput open(raw, [](const std::string &) {});
             unsigned char some[100];
             EXPECT_GT(open.read(some, sizeof some), 0u);
             expectSame(second, readBytes(small, 333));
             expectSame(first, readBytes(large));
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.before);
        c.run();
        expectSame(second, readBytes(small));
        expectSame(first, readBytes(large, 4093));
    }
}

TEST(ArchiveRoundTrip, ThroughAPipeWithFileDescriptors)
{
    const auto written = samples();
    for (const bool compress : {false, true}) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        std::thread producer([&] {
            kxsms::FdOutput file(ends[1], 8192);
            if (compress) {
                kxsms::ZstdOutput zstd(file);
                writeArchive(zstd, written);
            } else {
                writeArchive(file, written);
            }
            close(ends[1]);
        });
        kxsms::FdInput input(ends[0]);
        const ReadResult read = readArchive(input);
        producer.join();
        close(ends[0]);
        expectSame(written, read);
    }
}

TEST(ArchiveRoundTrip, EmptyArchiveHasOnlyHeaderAndEnd)
{
    const Bytes archive = archiveOf({});
    EXPECT_EQ(archive.size(), kxsms::format::c_ArchiveHeaderSize + kxsms::format::c_BackupFixedSize +
                                  kxsms::format::c_MemberHashSize + kxsms::format::c_EndRecordSize);
    const ReadResult read = readBytes(archive);
    EXPECT_TRUE(read.opened);
    EXPECT_TRUE(read.members.empty());
    EXPECT_TRUE(read.endSeen);
    EXPECT_EQ(read.problemCount, 0u);
}

TEST(ArchiveRoundTrip, IncompleteMemberIsReportedWithItsData)
{
    std::vector<Sample> written = {{"/a", pattern(100, 1)}, {"/b", pattern(70000, 2)}, {"/c", pattern(5, 3)}};
    written[1].complete = false;
    const ReadResult read = readBytes(archiveOf(written));
    ASSERT_EQ(read.members.size(), 3u);
    EXPECT_EQ(read.members[0].state, ArchiveReader::MemberState::Intact);
    EXPECT_EQ(read.members[1].state, ArchiveReader::MemberState::Incomplete);
    EXPECT_EQ(read.members[2].state, ArchiveReader::MemberState::Intact);
    ASSERT_EQ(read.problems.size(), 1u);
    EXPECT_EQ(read.problems[0].member, "/b");
    EXPECT_TRUE(read.mentions("incomplete"));
}

TEST(ArchiveRoundTrip, StoppedBackupIsReportedAtTheEnd)
{
    MemoryOutput out;
    writeArchive(out, {{"/a", pattern(10, 1)}}, nullptr, nullptr, 65536, true);
    const ReadResult read = readBytes(out.out);
    EXPECT_EQ(read.members.size(), 1u);
    EXPECT_TRUE(read.endSeen);
    EXPECT_TRUE(read.mentions("stopped early"));
}

TEST(ArchiveWriterLimits, NamesOutsideOneTo1023BytesAreRefused)
{
    MemoryOutput out;
    kxsms::ArchiveWriter writer(out, 1, 1, 0);
    kxsms::format::MemberDescriptor member;
    member.name = "";
    EXPECT_THROW(writer.beginMember(member), std::invalid_argument);
    member.name.assign(1024, 'x');
    EXPECT_THROW(writer.beginMember(member), std::invalid_argument);
    member.name.assign(1023, 'x');
    EXPECT_NO_THROW(writer.beginMember(member));
    const Bytes tooLarge(65537);
    EXPECT_THROW(writer.writeBlock(tooLarge.data(), tooLarge.size()), std::invalid_argument);
    writer.endMember(true);
}

TEST(ArchiveRoundTrip, ListingWithoutDataChecksStillFramesMembers)
{
    const auto written = samples();
    const ReadResult read = readBytes(archiveOf(written), SIZE_MAX, false);
    ASSERT_EQ(read.members.size(), written.size());
    EXPECT_TRUE(read.endSeen);
    EXPECT_EQ(read.problemCount, 0u);
}

} // namespace

// Large chunks are held and written several at a time; whatever the mix of
// small writes and chunks, the bytes come out in the order they were given.
TEST(FdOutputOrder, HeldChunksAndSmallWritesKeepTheirOrder)
{
    char path[] = "/tmp/kxsms-fdoutput-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    unlink(path);
    std::string expected;
    {
        kxsms::FdOutput out(fd, 4096);
        std::vector<std::string> buffers(kxsms::OutputStream::c_HeldChunks);
        unsigned chunk = 0;
        auto bigChunk = [&](char fill, size_t size) {
            std::string &buffer = buffers[chunk++ % buffers.size()];
            buffer.assign(size, fill); // the caller reuses its buffers in turn
            const std::string head = "HEAD" + std::to_string(chunk);
            out.writeChunk(head.data(), head.size(), buffer.data(), buffer.size());
            expected += head + buffer;
        };
        auto small = [&](const std::string &text) {
            out.write(text.data(), text.size());
            expected += text;
        };
        small("start");
        bigChunk('a', 40000);
        bigChunk('b', 65536);
        small("between");
        for (char c = 'c'; c < 'l'; ++c)
            bigChunk(c, 33000 + c);
        out.writeChunk("h", 1, "tiny", 4); // a small chunk is buffered
        expected += "htiny";
        bigChunk('z', 50000);
        out.finish();
    }
    std::string written(static_cast<size_t>(lseek(fd, 0, SEEK_END)), '\0');
    ASSERT_EQ(pread(fd, written.data(), written.size(), 0), static_cast<ssize_t>(written.size()));
    close(fd);
    EXPECT_TRUE(written == expected) << "sizes " << written.size() << " and " << expected.size();
}

// ---- format version 2: the backup record and members listed without data ----

namespace {

kxsms::format::BackupRecord sampleRecord()
{
    kxsms::format::BackupRecord record;
    record.paths = {"/srv", "/etc"};
    record.excludes = {"*.o", "/srv/cache", ""};
    record.startedNanoseconds = 1700000000123456789;
    record.followsId = 0x1234567890ABCDEFull;
    record.followsStartedNanoseconds = 1690000000987654321;
    return record;
}

// What identifies the version of /srv/b the backup saw.
kxsms::format::Identity sampleIdentity()
{
    kxsms::format::Identity identity;
    identity.kind = 1;
    identity.exact = true;
    identity.hasChangeTime = true;
    identity.mode = 0640;
    identity.uid = 1000;
    identity.gid = 100;
    identity.size = 5000000000ull;
    identity.mtimeSeconds = 1600000001;
    identity.mtimeNanoseconds = 999999999;
    identity.ctimeSeconds = -5;
    identity.ctimeNanoseconds = 1;
    return identity;
}

// A saved member, one unchanged, one the backup could not save, a saved one.
Bytes listingArchive()
{
    MemoryOutput out;
    kxsms::ArchiveWriter writer(out, 1, 77, 1700000000, kxsms::format::c_HeaderIncremental, sampleRecord());
    const Bytes data = pattern(1000, 3);
    unsigned index = 0;
    for (const auto &[name, listing] :
         std::vector<std::pair<std::string, kxsms::format::Listing>>{{"/srv/a", kxsms::format::Listing::Saved},
                                                                     {"/srv/b", kxsms::format::Listing::Unchanged},
                                                                     {"/srv/c", kxsms::format::Listing::NotSaved},
                                                                     {"/srv/d", kxsms::format::Listing::Saved}}) {
        kxsms::format::MemberDescriptor member = descriptorOf({name, data}, index++);
        member.listing = listing;
        if (listing == kxsms::format::Listing::Unchanged)
            member.identity = sampleIdentity();
        if (listing != kxsms::format::Listing::Saved) {
            writer.listMember(member);
            continue;
        }
        writer.beginMember(member);
        writer.writeBlock(data.data(), data.size());
        writer.endMember(true);
    }
    writer.finish();
    EXPECT_EQ(writer.listed(), 2u);
    return out.out;
}

} // namespace

TEST(ArchiveRoundTrip, TheBackupRecordAndListedMembersComeBack)
{
    const Bytes archive = listingArchive();
    MemoryInput input(archive);
    std::vector<std::string> problems;
    ArchiveReader reader(input, [&](const ArchiveReader::Problem &p) { problems.push_back(p.what); });
    ASSERT_TRUE(reader.open());
    EXPECT_EQ(reader.header().version, kxsms::format::c_Version);
    EXPECT_EQ(reader.header().flags, kxsms::format::c_HeaderIncremental);
    ASSERT_TRUE(reader.backupRecordIntact());
    EXPECT_EQ(reader.backupRecord().paths, sampleRecord().paths);
    EXPECT_EQ(reader.backupRecord().excludes, sampleRecord().excludes);
    EXPECT_EQ(reader.backupRecord().startedNanoseconds, sampleRecord().startedNanoseconds);
    EXPECT_EQ(reader.backupRecord().followsId, sampleRecord().followsId);
    EXPECT_EQ(reader.backupRecord().followsStartedNanoseconds, sampleRecord().followsStartedNanoseconds);

    kxsms::format::MemberDescriptor member;
    std::vector<std::pair<std::string, size_t>> read; // name, bytes
    std::vector<kxsms::format::Listing> listings;
    while (reader.nextMember(member)) {
        size_t bytes = 0;
        const unsigned char *data = nullptr;
        size_t size = 0;
        while (reader.readBlock(data, size))
            bytes += size;
        EXPECT_EQ(reader.memberState(), ArchiveReader::MemberState::Intact) << member.name;
        read.emplace_back(member.name, bytes);
        listings.push_back(member.listing);
        const kxsms::format::Identity expected =
            member.listing == kxsms::format::Listing::Unchanged ? sampleIdentity() : kxsms::format::Identity{};
        const kxsms::format::Identity &got = member.identity;
        EXPECT_TRUE(got.kind == expected.kind && got.exact == expected.exact &&
                    got.hasChangeTime == expected.hasChangeTime && got.mode == expected.mode &&
                    got.uid == expected.uid && got.gid == expected.gid && got.size == expected.size &&
                    got.mtimeSeconds == expected.mtimeSeconds && got.mtimeNanoseconds == expected.mtimeNanoseconds &&
                    got.ctimeSeconds == expected.ctimeSeconds && got.ctimeNanoseconds == expected.ctimeNanoseconds)
            << member.name;
    }
    EXPECT_EQ(read, (std::vector<std::pair<std::string, size_t>>{
                        {"/srv/a", 1000}, {"/srv/b", 0}, {"/srv/c", 0}, {"/srv/d", 1000}}));
    EXPECT_EQ(listings,
              (std::vector<kxsms::format::Listing>{kxsms::format::Listing::Saved, kxsms::format::Listing::Unchanged,
                                                   kxsms::format::Listing::NotSaved, kxsms::format::Listing::Saved}));
    EXPECT_TRUE(reader.endSeen());
    EXPECT_EQ(reader.endRecord().members, 4u);
    EXPECT_TRUE(problems.empty()) << problems.front();
}

TEST(ArchiveRoundTrip, ABackupRecordTooLargeIsRefused)
{
    kxsms::format::BackupRecord record;
    std::vector<unsigned char> out;
    record.excludes.assign(5, std::string(60000, 'x'));
    EXPECT_FALSE(kxsms::format::encodeBackupRecord(record, out)) << "over 256 KiB in all";
    record.excludes = {std::string(70000, 'x')};
    EXPECT_FALSE(kxsms::format::encodeBackupRecord(record, out)) << "one string over 65535 bytes";
    EXPECT_TRUE(out.empty());
    MemoryOutput sink;
    EXPECT_THROW(kxsms::ArchiveWriter(sink, 1, 1, 1, 0, record), std::invalid_argument);
    record.excludes.assign(4, std::string(60000, 'x'));
    EXPECT_TRUE(kxsms::format::encodeBackupRecord(record, out));
}

// A damaged backup record costs what it held, not the members after it.
TEST(BackupRecordDamage, IsReportedAndTheMembersStillRead)
{
    const Bytes whole = listingArchive();
    const size_t at = kxsms::format::c_ArchiveHeaderSize;
    const size_t size = kxsms::format::backupRecordSize(whole.data() + at);
    ASSERT_GT(size, 0u);
    struct Case {
        const char *what;
        std::function<void(Bytes &)> damage;
    };
    const auto rehash = [&](Bytes &b) {
        kxsms::format::put64(b.data() + at + size - 8, XXH3_64bits(b.data() + at, size - 8));
    };
    for (const Case &c : std::vector<Case>{
             {"a flipped byte", [&](Bytes &b) { b[at + 30] ^= 0x20; }},
             {"more paths than it holds",
              [&](Bytes &b) {
                  kxsms::format::put16(b.data() + at + 8, 900);
                  rehash(b);
              }},
             {"a string running past its end",
              [&](Bytes &b) {
                  // The length of the first path, after the fixed part.
                  kxsms::format::put16(b.data() + at + kxsms::format::c_BackupFixedSize, 60000);
                  rehash(b);
              }},
             {"a size beyond the limit", [&](Bytes &b) { kxsms::format::put32(b.data() + at + 4, 1u << 30); }},
         }) {
        Bytes archive = whole;
        c.damage(archive);
        MemoryInput input(archive);
        std::vector<std::string> problems;
        ArchiveReader reader(input, [&](const ArchiveReader::Problem &p) { problems.push_back(p.what); });
        ASSERT_TRUE(reader.open()) << c.what;
        kxsms::format::MemberDescriptor member;
        std::vector<std::string> names;
        while (reader.nextMember(member))
            names.push_back(member.name);
        EXPECT_FALSE(reader.backupRecordIntact()) << c.what;
        EXPECT_EQ(names, (std::vector<std::string>{"/srv/a", "/srv/b", "/srv/c", "/srv/d"})) << c.what;
        ASSERT_FALSE(problems.empty()) << c.what;
        EXPECT_NE(problems.front().find("damaged backup record"), std::string::npos) << problems.front();
    }
}

TEST(BackupRecordDamage, AnUnchangedMemberOutsideAnIncrementalArchiveIsReported)
{
    MemoryOutput out;
    kxsms::ArchiveWriter writer(out, 1, 78, 1700000000, 0, sampleRecord());
    kxsms::format::MemberDescriptor member = descriptorOf({"/srv/b", {}}, 0);
    member.listing = kxsms::format::Listing::Unchanged;
    writer.listMember(member);
    writer.finish();
    const ReadResult read = readBytes(out.out);
    ASSERT_EQ(read.members.size(), 1u);
    EXPECT_TRUE(read.mentions("listed as unchanged in an archive that is not incremental"));
}
