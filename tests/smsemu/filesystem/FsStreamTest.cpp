// Backup streams of the file-system TSA: round trips, block boundaries,
// sparse files, files that change while they are read, open modes.
#include "filesystem/FsFixture.h"

#include "core/StreamFormat.h"

#include <random>

#include <fcntl.h>

namespace smsemutest {
namespace {

class FsStreams : public FsTsa {
protected:
    struct stat lstatOf(const std::string &name) const
    {
        struct stat info {};
        EXPECT_EQ(lstat(real(name).c_str(), &info), 0) << name;
        return info;
    }

    // The stream with the access and change times of its header set to 0:
    // what a test that puts the access time back moves each time.
    static std::string withoutMovingTimes(std::string stream)
    {
        namespace format = smsemu::stream;
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(stream.data());
        const std::size_t size = format::declaredHeaderSize(bytes);
        const std::string header(stream, 0, size); // the texts the decoded header points to
        format::Header decoded;
        EXPECT_TRUE(format::decodeHeader(reinterpret_cast<const std::uint8_t *>(header.data()), size, decoded));
        decoded.atimeSeconds = decoded.ctimeSeconds = 0;
        decoded.atimeNanoseconds = decoded.ctimeNanoseconds = 0;
        format::encodeHeader(decoded, reinterpret_cast<std::uint8_t *>(stream.data()));
        return stream;
    }
};

TEST_F(FsStreams, EachKindRoundTrips)
{
    std::string binary(200000, '\0');
    std::mt19937 random(7);
    for (char &c : binary)
        c = static_cast<char>(random());
    file("/src/text", "hello");
    file("/src/empty");
    file("/src/binary", binary);
    makeDir("data/src/folder");
    fs::create_symlink("../elsewhere/target", real("/src/link"));
    ASSERT_EQ(chmod(real("/src/text").c_str(), 0640), 0);
    ASSERT_EQ(chmod(real("/src/folder").c_str(), 0751), 0);
    for (const char *name : {"/src/text", "/src/empty", "/src/binary", "/src/folder", "/src/link"})
        setTimes(real(name), 1600000000, 123456789);

    for (const char *name : {"/src/text", "/src/empty", "/src/binary", "/src/folder", "/src/link"}) {
        const std::string copy = std::string("/dst") + (name + 4);
        const std::string stream = backup(name);
        EXPECT_EQ(restore(copy, stream).code(), 0u) << name;
        struct stat from = lstatOf(name), to = lstatOf(copy);
        EXPECT_EQ(from.st_mode, to.st_mode) << name;
        EXPECT_EQ(from.st_size, to.st_size) << name;
        if (!S_ISDIR(from.st_mode)) {
            EXPECT_EQ(to.st_mtim.tv_sec, 1600000000) << name;
            EXPECT_EQ(to.st_mtim.tv_nsec, 123456789) << name;
        }
    }
    EXPECT_EQ(content("/dst/text"), "hello");
    EXPECT_EQ(content("/dst/binary"), binary);
    EXPECT_EQ(fs::read_symlink(real("/dst/link")), "../elsewhere/target");
    relogin(); // directory times are applied
    EXPECT_EQ(lstatOf("/dst/folder").st_mtim.tv_nsec, 123456789);
}

// The header names the change time the file had when it was opened (the
// version the backup saw), to the nanosecond.
TEST_F(FsStreams, TheHeaderCarriesTheChangeTime)
{
    file("/f", "data");
    struct stat before = lstatOf("/f");
    const std::string stream = backup("/f");
    namespace format = smsemu::stream;
    format::Header header;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(stream.data());
    ASSERT_TRUE(format::decodeHeader(bytes, format::declaredHeaderSize(bytes), header));
    EXPECT_EQ(header.version, 3u);
    ASSERT_TRUE(header.hasChangeTime);
    EXPECT_EQ(header.ctimeSeconds, before.st_ctim.tv_sec);
    EXPECT_EQ(header.ctimeNanoseconds, static_cast<std::uint32_t>(before.st_ctim.tv_nsec));
}

TEST_F(FsStreams, AnyBlockSizeGivesTheSameStreamFilledToTheBrim)
{
    file("/f", std::string(70000, 'q'));
    // Reading moves the access time the header records: put it back each
    // time (which moves the change time).
    auto backupAt = [&](UINT32 block) {
        setTimes(real("/f"), 1600000000);
        return withoutMovingTimes(backup("/f", block));
    };
    const std::string whole = backupAt(65536);
    for (UINT32 block : {1u, 7u, 20u, 4096u}) {
        const std::string again = backupAt(block);
        auto differ = std::mismatch(again.begin(), again.end(), whole.begin(), whole.end());
        EXPECT_TRUE(again == whole) << block << ": " << again.size() << " bytes, " << whole.size()
                                    << " expected, first difference at " << (differ.first - again.begin());
    }

    UINT32 handle = 0;
    ASSERT_EQ(openBackup("/f", handle), 0u);
    std::vector<UINT8> buffer(7);
    std::size_t total = 0;
    for (;;) {
        UINT32 got = 0;
        ASSERT_EQ(NWSMTSReadDataSet(connection, handle, 7, &got, buffer.data()), 0u);
        total += got;
        if (got < 7)
            break;
    }
    EXPECT_EQ(total, whole.size());
    // After the last byte: nothing more, and no error.
    UINT32 got = 99;
    EXPECT_EQ(NWSMTSReadDataSet(connection, handle, 7, &got, buffer.data()), 0u);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(NWSMTSReadDataSet(connection, handle, 0, &got, nullptr), 0u);
    EXPECT_EQ(NWSMTSCloseDataSet(connection, &handle), 0u);
}

TEST_F(FsStreams, SparseFilesSkipTheirHolesBothWays)
{
    const int fd = open(real("/sparse").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "head", 4, 0), 4);
    ASSERT_EQ(pwrite(fd, "middle", 6, 32 << 20), 6);
    ASSERT_EQ(ftruncate(fd, 64 << 20), 0);
    close(fd);
    const std::string stream = backup("/sparse");
    EXPECT_LT(stream.size(), 1u << 20) << "holes were read";
    ASSERT_EQ(restore("/copy", stream).code(), 0u);
    struct stat info = lstatOf("/copy");
    EXPECT_EQ(info.st_size, 64 << 20);
    EXPECT_LT(info.st_blocks * 512, 1 << 20) << "the copy is not sparse";
    std::string copy = content("/copy");
    EXPECT_EQ(copy.substr(0, 4), "head");
    EXPECT_EQ(copy.substr(32 << 20, 6), "middle");
    EXPECT_EQ(copy.find_first_not_of('\0', 32 << 20 | 6), std::string::npos);

    // Five gibibytes with one byte at the end: streamed without reading the hole.
    const int big = open(real("/big").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_EQ(ftruncate(big, 5LL << 30), 0);
    ASSERT_EQ(pwrite(big, "!", 1, (5LL << 30) - 1), 1);
    close(big);
    const std::string bigStream = backup("/big");
    EXPECT_LT(bigStream.size(), 1u << 20);
    ASSERT_EQ(restore("/big2", bigStream).code(), 0u);
    EXPECT_EQ(lstatOf("/big2").st_size, 5LL << 30);
    EXPECT_LT(lstatOf("/big2").st_blocks * 512, 1 << 20);
}

// Records of one kind in a stream whose data holds no such marker.
size_t countOf(const std::string &stream, const std::string &marker)
{
    size_t count = 0;
    for (size_t at = stream.find(marker); at != std::string::npos; at = stream.find(marker, at + 1))
        ++count;
    return count;
}

// A file whose blocks cover its size is one extent; one with blocks past
// its end and a hole inside comes back with the same bytes (the hole as
// zeros) whichever way it is saved.
TEST_F(FsStreams, FilesWithoutRoomForAHoleAreOneExtentAndEveryFileComesBackAlike)
{
    file("/whole", std::string(3 * 4096 + 100, 'x'));
    const std::string whole = backup("/whole");
    EXPECT_EQ(countOf(whole, "KXFE"), 1u);
    ASSERT_EQ(restore("/whole-copy", whole).code(), 0u);
    EXPECT_EQ(content("/whole-copy"), std::string(3 * 4096 + 100, 'x'));

    const int fd = open(real("/kept").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "head", 4, 0), 4);
    ASSERT_EQ(pwrite(fd, "tail", 4, 1 << 20), 4);
    // Blocks allocated past the end, so that they may cover the size.
    const bool kept = fallocate(fd, FALLOC_FL_KEEP_SIZE, 2 << 20, 4 << 20) == 0;
    close(fd);
    if (!kept)
        GTEST_SKIP() << "no fallocate here";
    const std::string stream = backup("/kept");
    ASSERT_EQ(restore("/kept-copy", stream).code(), 0u);
    std::string expected((1 << 20) + 4, '\0');
    expected.replace(0, 4, "head");
    expected.replace(1 << 20, 4, "tail");
    EXPECT_EQ(content("/kept-copy"), expected);
}

// A file that changes while it is read gives the whole stream of the file
// as it was opened (cut at the size seen then, or padded with zeros to it),
// and the read after the trailer says it changed.
TEST_F(FsStreams, FileThatChangesWhileReadGivesARestorableStream)
{
    enum Change { Shrink, Grow, Rewrite };
    for (UINT32 block : {4096u, 4099u, 30u}) {
        for (Change change : {Shrink, Grow, Rewrite}) {
            SCOPED_TRACE(testing::Message() << "change " << change << " block " << block);
            const std::string original(1 << 16, 'a');
            file("/f", original);
            setTimes(real("/f"), 1600000000);
            UINT32 handle = 0;
            ASSERT_EQ(openBackup("/f", handle), 0u);
            std::vector<UINT8> buffer(block);
            UINT32 got = 0;
            ASSERT_EQ(NWSMTSReadDataSet(connection, handle, block, &got, buffer.data()), 0u);
            std::string stream(reinterpret_cast<char *>(buffer.data()), got);
            const std::size_t before = stream.size();
            if (change == Shrink)
                ASSERT_EQ(truncate(real("/f").c_str(), 100), 0);
            else if (change == Grow)
                std::ofstream(real("/f"), std::ios::app) << "more";
            else
                std::fstream(real("/f"), std::ios::in | std::ios::out) << "b"; // same size, new mtime
            CCODE rc = 0;
            while (rc == 0 && got == block) {
                rc = NWSMTSReadDataSet(connection, handle, block, &got, buffer.data());
                if (rc == 0)
                    stream.append(reinterpret_cast<char *>(buffer.data()), got);
            }
            EXPECT_EQ(rc, NWSMTS_DATA_SET_IN_USE) << "the read after the trailer";
            EXPECT_EQ(stream.size() % block, 0u) << "the trailer ends a full read";
            EXPECT_EQ(NWSMTSReadDataSet(connection, handle, block, &got, buffer.data()), NWSMTS_READ_ERROR);
            EXPECT_EQ(NWSMTSCloseDataSet(connection, &handle), 0u);

            ASSERT_EQ(restore(std::string("/back"), stream).code(), 0u);
            const std::string back = content("/back");
            ASSERT_EQ(back.size(), original.size()) << "the size seen at the open";
            if (change == Shrink) {
                EXPECT_EQ(back.substr(0, 100), original.substr(0, 100));
                EXPECT_EQ(back.find_first_not_of('\0', std::max<std::size_t>(before, 100)), std::string::npos)
                    << "padded with zeros";
            } else {
                // A rewrite may be seen where the data had not been read yet.
                EXPECT_EQ(back.substr(1), original.substr(1));
            }
        }
    }
}

TEST_F(FsStreams, BackupOpenModesAndHandles)
{
    file("/f", "x");
    UINT32 handle = 0, other = 0;
    EXPECT_EQ(openBackup("/f", handle, 0x40000), NWSMTS_INVALID_OPEN_MODE_TYPE);
    EXPECT_EQ(openBackup("/f", handle, NWSM_OPEN_FOR_BACKUP | 0x1), NWSMTS_INVALID_OPEN_MODE_TYPE);
    EXPECT_EQ(smsemuOpenDataSets(), 0);
    EXPECT_EQ(NWSMTSOpenDataSetForBackup(connection, 12345, NWSM_OPEN_FOR_BACKUP, &handle),
              NWSMTS_INVALID_SEQUENCE_NUMBER);
    ASSERT_EQ(openBackup("/f", handle, NWSM_OPEN_FOR_BACKUP | NWSM_OPEN_UNPROTECTED), 0u);
    ASSERT_EQ(openBackup("/f", other, NWSM_OPEN_FOR_BACKUP | NWSM_OPEN_KEEP_ACCESS_TIME), 0u);
    EXPECT_NE(handle, 0u);
    EXPECT_NE(handle, other);
    EXPECT_EQ(smsemuOpenDataSets(), 2);
    EXPECT_EQ(NWSMTSCloseDataSet(connection, &handle), 0u);
    EXPECT_EQ(NWSMTSCloseDataSet(connection, &other), 0u);

    // A pipe is saved without being opened (which would wait for a writer).
    ASSERT_EQ(mkfifo(real("/pipe").c_str(), 0600), 0);
    EXPECT_EQ(openBackup("/pipe", handle), 0u);
    EXPECT_EQ(NWSMTSCloseDataSet(connection, &handle), 0u);
}

TEST_F(FsStreams, KeepAccessTimePutsTheAccessTimeBack)
{
    file("/f", std::string(10000, 'k'));
    struct timespec times[2] = {{1500000000, 0}, {1500000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, real("/f").c_str(), times, 0), 0);
    UINT32 handle = 0;
    ASSERT_EQ(openBackup("/f", handle, NWSM_OPEN_FOR_BACKUP | NWSM_OPEN_KEEP_ACCESS_TIME), 0u);
    std::vector<UINT8> buffer(65536);
    UINT32 got = 0;
    ASSERT_EQ(NWSMTSReadDataSet(connection, handle, 65536, &got, buffer.data()), 0u);
    ASSERT_EQ(NWSMTSCloseDataSet(connection, &handle), 0u);
    EXPECT_EQ(lstatOf("/f").st_atim.tv_sec, 1500000000);
}

} // namespace
} // namespace smsemutest
