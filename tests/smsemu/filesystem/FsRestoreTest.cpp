// Restores on the file-system TSA: streams are untrusted. Broken, hostile or
// misplaced streams are refused with the header/trailer codes, never write
// outside the resource and leave the target as it was.
#include "filesystem/FsFixture.h"
#include "StreamBytes.h"

#include <grp.h>
#include <sys/wait.h>

namespace smsemutest {
namespace {

class FsRestores : public FsTsa {
protected:
    void SetUp() override
    {
        FsTsa::SetUp();
        file("/src", "abc");
        stream = backup("/src");
        file("/target", "keep me");
    }
    // The target as it was, nothing else written anywhere.
    void expectUntouched(const std::string &what)
    {
        EXPECT_EQ(content("/target"), "keep me") << what;
        EXPECT_EQ(entries(dir_ / "data"), (std::vector<std::string>{"src", "target"})) << what;
        EXPECT_TRUE(fs::is_empty(dir_ / "outside")) << what;
    }
    std::string stream;
};

TEST_F(FsRestores, TruncatedAtEveryPosition)
{
    const std::size_t headerEnd = stream.find("KXFE");
    ASSERT_NE(headerEnd, std::string::npos);
    for (std::size_t length = 0; length < stream.size(); ++length) {
        const RestoreResult r = restore("/target", stream.substr(0, length));
        EXPECT_EQ(r.code(), length < headerEnd ? NWSMTS_EXPECTING_HEADER : NWSMTS_EXPECTING_TRAILER) << length;
        expectUntouched("truncated at " + std::to_string(length));
    }
    // Whole, in blocks of one byte: the header may span any number of blocks.
    EXPECT_EQ(restore("/target", stream, NWSM_OVERWRITE_DATA_SET, 1).code(), 0u);
    EXPECT_EQ(content("/target"), "abc");
}

TEST_F(FsRestores, EveryFlippedByteIsRefused)
{
    for (std::size_t at = 0; at < stream.size(); ++at) {
        std::string broken = stream;
        broken[at] = static_cast<char>(broken[at] ^ 0x20);
        const CCODE code = restore("/target", broken).code();
        EXPECT_TRUE(code == NWSMTS_EXPECTING_HEADER || code == NWSMTS_EXPECTING_TRAILER) << at << " " << code;
        expectUntouched("flipped at " + std::to_string(at));
    }
}

TEST_F(FsRestores, HostileLengthsAndRecords)
{
    HandHeader h;
    h.name = "/target";
    h.size = 10;
    std::string hugeHeader = handHeader(h);
    hugeHeader[6] = '\xff';
    hugeHeader[7] = '\xff';
    std::string hugeExtent = handHeader(h) + "KXFE";
    putLe(hugeExtent, 0, 8);
    putLe(hugeExtent, 0x7FFFFFFFFFFFFFFFull, 8);
    std::string wrapping = handHeader(h) + "KXFE";
    putLe(wrapping, 0xFFFFFFFFFFFFFFF0ull, 8);
    putLe(wrapping, 0x20, 8);
    HandHeader folder = h;
    folder.kind = 2;
    folder.size = 0;
    HandHeader sized = folder;
    sized.size = 5;
    HandHeader changed = h;
    changed.version = 3;
    changed.ctimeNanoseconds = 1000000000;
    HandHeader padded = h;
    padded.version = 3;
    padded.afterChangeTime = 1;
    struct Case {
        const char *what;
        std::string bytes;
        CCODE code;
    };
    const std::vector<Case> cases = {
        {"garbage", std::string(100, '\x7f'), NWSMTS_EXPECTING_HEADER},
        {"declared header length 65535", hugeHeader, NWSMTS_EXPECTING_HEADER},
        {"extent of 2^63 bytes", hugeExtent, NWSMTS_EXPECTING_TRAILER},
        {"extent that wraps around", wrapping, NWSMTS_EXPECTING_TRAILER},
        {"extent past the size", handStream(h, {{8, "abc"}}), NWSMTS_EXPECTING_TRAILER},
        {"overlapping extents", handStream(h, {{0, "abcd"}, {2, "xy"}}), NWSMTS_EXPECTING_TRAILER},
        {"extents out of order", handStream(h, {{5, "ab"}, {0, "xy"}}), NWSMTS_EXPECTING_TRAILER},
        {"garbage after the trailer", handStream(h, {{0, "abc"}}) + "x", NWSMTS_EXPECTING_TRAILER},
        {"a record that is neither", handHeader(h) + "JUNKJUNKJUNKJUNKJUNK", NWSMTS_EXPECTING_TRAILER},
        {"data in a directory", handStream(folder, {{0, "a"}}), NWSMTS_EXPECTING_TRAILER},
        {"a directory with a size", handStream(sized, {}), NWSMTS_EXPECTING_HEADER},
        {"a change time of 10^9 nanoseconds", handStream(changed, {{0, "abc"}}), NWSMTS_EXPECTING_HEADER},
        {"bytes after the change time", handStream(padded, {{0, "abc"}}), NWSMTS_EXPECTING_HEADER},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(restore("/target", c.bytes).code(), c.code) << c.what;
        EXPECT_EQ(restore(std::nullopt, c.bytes).code(), c.code) << c.what;
        expectUntouched(c.what);
    }
    // Only a directory can be the resource itself.
    EXPECT_EQ(restore(std::nullopt, handStream(HandHeader{1, 0644, 0, 0, "/", ""}, {})).code(), NWSMTS_INVALID_PATH);
    expectUntouched("a file named by the root");
}

// A header of version 3 carries the change time the backup saw; a restore
// takes it like any other (the change time is the file system's to set).
TEST_F(FsRestores, VersionThreeHeadersRestore)
{
    HandHeader h;
    h.name = "/target";
    h.size = 3;
    h.version = 3;
    h.ctime = 1700000000;
    h.ctimeNanoseconds = 5;
    ASSERT_EQ(restore(std::nullopt, handStream(h, {{0, "new"}})).code(), 0u);
    EXPECT_EQ(content("/target"), "new");
}

TEST_F(FsRestores, NamesThatLeaveTheResource)
{
    fs::create_symlink(dir_ / "outside", real("/escape"));
    for (const char *name :
         {"/../outside/x", "/a/../../outside/y", "/escape/z", "/escape/deeper/z", "outside/x", "/a//b", "/./x"}) {
        // From the host...
        EXPECT_EQ(restore(std::string(name), stream).open, NWSMTS_INVALID_PATH) << name;
        // ...and from the stream's header.
        HandHeader h;
        h.name = name;
        h.size = 3;
        EXPECT_EQ(restore(std::nullopt, handStream(h, {{0, "abc"}})).code(), NWSMTS_INVALID_PATH) << name;
    }
    fs::remove(real("/escape"));
    expectUntouched("names outside");
}

TEST_F(FsRestores, TheNameComesFromTheListOrElseTheHeader)
{
    HandHeader h;
    h.name = "/elsewhere/deep/put";
    h.size = 3;
    const std::string misplaced = handStream(h, {{0, "xyz"}});
    ASSERT_EQ(restore("/listed", misplaced).code(), 0u);
    EXPECT_EQ(content("/listed"), "xyz");
    EXPECT_FALSE(fs::exists(real("/elsewhere")));
    ASSERT_EQ(restore(std::nullopt, misplaced).code(), 0u);
    EXPECT_EQ(content("/elsewhere/deep/put"), "xyz");
    struct stat info;
    ASSERT_EQ(stat(real("/elsewhere/deep").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u) << "missing parents are made 0755";
}

TEST_F(FsRestores, OpenModeBits)
{
    struct Case {
        UINT32 mode;
        time_t existing; // modification time of the target on disk
        CCODE code;
        bool replaced;
    };
    // The stream was taken at 1600000000.
    const std::vector<Case> cases = {
        {0, 1500000000, NWSMTS_DATA_SET_ALREADY_EXISTS, false},
        {NWSM_OVERWRITE_DATA_SET, 1700000000, 0, true},
        {NWSM_KEEP_NEWER_DATA_SET, 1700000000, NWSMTS_DATA_SET_IS_OLDER, false},
        {NWSM_KEEP_NEWER_DATA_SET, 1600000000, NWSMTS_DATA_SET_IS_OLDER, false},
        {NWSM_KEEP_NEWER_DATA_SET, 1500000000, 0, true},
        {NWSM_KEEP_NEWER_DATA_SET | NWSM_OVERWRITE_DATA_SET, 1700000000, NWSMTS_DATA_SET_IS_OLDER, false},
        {NWSM_OVERWRITE_DATA_SET | 0x80000000u, 1500000000, 0, true}, // unknown bits are ignored
    };
    setTimes(real("/src"), 1600000000);
    const std::string taken = backup("/src");
    for (const Case &c : cases) {
        file("/target", "keep me");
        setTimes(real("/target"), c.existing);
        EXPECT_EQ(restore("/target", taken, c.mode).code(), c.code) << std::hex << c.mode;
        EXPECT_EQ(content("/target"), c.replaced ? "abc" : "keep me") << std::hex << c.mode;
    }
}

TEST_F(FsRestores, ModeAndTimesOnlyWhenAsked)
{
    ASSERT_EQ(chmod(real("/src").c_str(), 0604), 0);
    setTimes(real("/src"), 1600000000, 5);
    const std::string taken = backup("/src");
    ASSERT_EQ(restore("/plain", taken, NWSM_OVERWRITE_DATA_SET).code(), 0u);
    ASSERT_EQ(restore("/full", taken, NWSM_OVERWRITE_DATA_SET | NWSM_RESTORE_MODE | NWSM_RESTORE_TIMES).code(), 0u);
    struct stat plain, full;
    ASSERT_EQ(stat(real("/plain").c_str(), &plain), 0);
    ASSERT_EQ(stat(real("/full").c_str(), &full), 0);
    EXPECT_EQ(full.st_mode & 07777, 0604u);
    EXPECT_EQ(full.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(full.st_mtim.tv_nsec, 5);
    EXPECT_NE(plain.st_mode & 07777, 0604u);
    EXPECT_NE(plain.st_mtim.tv_sec, 1600000000);
    // A replaced file keeps its own mode unless the stream's is asked for.
    ASSERT_EQ(chmod(real("/target").c_str(), 0600), 0);
    ASSERT_EQ(restore("/target", taken, NWSM_OVERWRITE_DATA_SET).code(), 0u);
    ASSERT_EQ(stat(real("/target").c_str(), &plain), 0);
    EXPECT_EQ(plain.st_mode & 07777, 0600u);
}

TEST_F(FsRestores, DirectoryTimesAreSetAtReleaseAfterTheirChildren)
{
    file("/tree/a/b/leaf", "x");
    setTimes(real("/tree/a/b/leaf"), 1400000000);
    setTimes(real("/tree/a/b"), 1410000000);
    setTimes(real("/tree/a"), 1420000000);
    setTimes(real("/tree"), 1430000000);
    std::vector<std::pair<std::string, std::string>> streams;
    for (const Found &f : scan("/tree", 0))
        streams.emplace_back(f.name, backup(f.name));
    for (const auto &[name, bytes] : streams)
        ASSERT_EQ(restore("/copy" + name.substr(5), bytes).code(), 0u) << name;
    struct stat info;
    ASSERT_EQ(stat(real("/copy/a").c_str(), &info), 0);
    EXPECT_NE(info.st_mtim.tv_sec, 1420000000) << "not before the release";
    relogin();
    for (const auto &[name, when] : {std::pair{"/copy", 1430000000}, std::pair{"/copy/a", 1420000000},
                                     std::pair{"/copy/a/b", 1410000000}, std::pair{"/copy/a/b/leaf", 1400000000}}) {
        ASSERT_EQ(stat(real(name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mtim.tv_sec, when) << name;
    }
}

TEST_F(FsRestores, ParentHandlesAndEmptyWrites)
{
    UINT32 open = 0, child = 0;
    NWSM_DATA_SET_NAME_LIST *list = oneName("/new");
    ASSERT_EQ(NWSMTSOpenDataSetForRestore(connection, 0, list, NWSM_OVERWRITE_DATA_SET, &open), 0u);
    EXPECT_EQ(NWSMTSOpenDataSetForRestore(connection, open, list, NWSM_OVERWRITE_DATA_SET, &child),
              NWSMTS_INVALID_HANDLE);
    EXPECT_EQ(NWSMTSWriteDataSet(connection, open, 0, nullptr), 0u);
    std::string copy = stream;
    for (char &c : copy) {
        EXPECT_EQ(NWSMTSWriteDataSet(connection, open, 1, reinterpret_cast<UINT8 *>(&c)), 0u);
        EXPECT_EQ(NWSMTSWriteDataSet(connection, open, 0, reinterpret_cast<UINT8 *>(&c)), 0u);
    }
    EXPECT_EQ(NWSMTSCloseDataSet(connection, &open), 0u);
    EXPECT_EQ(content("/new"), "abc");
    std::free(list);
}

TEST_F(FsRestores, OpenRestoresAreCleanedUpWhenTheConnectionGoes)
{
    UINT32 handle = 0;
    NWSM_DATA_SET_NAME_LIST *list = oneName("/target");
    ASSERT_EQ(NWSMTSOpenDataSetForRestore(connection, 0, list, NWSM_OVERWRITE_DATA_SET, &handle), 0u);
    std::string half = stream.substr(0, stream.size() - 5);
    ASSERT_EQ(NWSMTSWriteDataSet(connection, handle, static_cast<UINT32>(half.size()),
                                 reinterpret_cast<UINT8 *>(half.data())),
              0u);
    std::free(list);
    ASSERT_EQ(NWSMReleaseTSA(&connection), 0u);
    connection = 0;
    EXPECT_EQ(smsemuOpenDataSets(), 0);
    expectUntouched("released mid-restore");
}

} // namespace
} // namespace smsemutest

namespace smsemutest {
namespace {

// A restore that cannot give a file its owner leaves no set-id program
// behind: run by root it keeps the bits with the owner, run by a user (a
// child process that became "nobody") it drops them.
TEST_F(FsRestores, SetIdBitsOnlyWithTheirOwner)
{
    ASSERT_EQ(chmod(real("/src").c_str(), 06755), 0);
    const std::string taken = backup("/src");
    const UINT32 mode = NWSM_OVERWRITE_DATA_SET | NWSM_RESTORE_MODE | NWSM_RESTORE_OWNER;
    struct stat info;
    if (geteuid() == 0) {
        ASSERT_EQ(restore("/as-root", taken, mode).code(), 0u);
        ASSERT_EQ(stat(real("/as-root").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 06755u);
        ASSERT_EQ(asNobody([&] { return restore("/as-user", taken, mode).code() == 0 ? 0 : 1; }), 0);
    } else {
        ASSERT_EQ(restore("/as-user", taken, mode).code(), 0u);
    }
    ASSERT_EQ(stat(real("/as-user").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    EXPECT_EQ(content("/as-user"), content("/src"));
}

} // namespace
} // namespace smsemutest
