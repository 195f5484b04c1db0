// Streams of the file-system TSA for hard links, FIFOs, devices and
// extended attributes: what a backup writes, what a restore makes of it,
// and the streams a restore refuses. Streams of the first version (files,
// directories, links only) still restore.
#include "filesystem/FsFixture.h"
#include "StreamBytes.h"
#include "core/StreamFormat.h"
#include "filesystem/HardLinks.h"

#include <sys/sysmacros.h>
#include <sys/xattr.h>

namespace smsemutest {
namespace {

const std::uint8_t *bytes(const std::string &s)
{
    return reinterpret_cast<const std::uint8_t *>(s.data());
}

// The header of a stream, decoded by the stand-in's own reader.
smsemu::stream::Header headerOf(const std::string &stream)
{
    smsemu::stream::Header header;
    EXPECT_TRUE(smsemu::stream::decodeHeader(bytes(stream), smsemu::stream::declaredHeaderSize(bytes(stream)), header));
    return header;
}

class FsKinds : public FsTsa {
protected:
    struct stat lstatOf(const std::string &name) const
    {
        struct stat st {};
        EXPECT_EQ(lstat(real(name).c_str(), &st), 0) << name;
        return st;
    }
};

TEST_F(FsKinds, SecondNameOfAnInodeIsAHardLinkToTheFirst)
{
    file("/a/first", "shared");
    fs::create_directories(real("/b"));
    fs::create_hard_link(real("/a/first"), real("/b/second"));
    // A data set opened and closed without being read is not in the stream:
    // it does not become the first name.
    UINT32 handle = 0;
    ASSERT_EQ(openBackup("/b/second", handle), 0u);
    ASSERT_EQ(NWSMTSCloseDataSet(connection, &handle), 0u);

    const std::string first = backup("/a/first");
    const std::string second = backup("/b/second");
    EXPECT_EQ(headerOf(first).kind, smsemu::stream::Kind::File);
    EXPECT_NE(headerOf(first).inode, 0u);
    const smsemu::stream::Header link = headerOf(second);
    EXPECT_EQ(link.kind, smsemu::stream::Kind::HardLink);
    EXPECT_EQ(link.target, "/a/first");
    EXPECT_EQ(link.size, 0u);
    EXPECT_EQ(second.find("KXFE"), std::string::npos) << "no data";

    // Restored elsewhere in the same login: linked to the copy restored.
    ASSERT_EQ(restore(std::string("/r/a/first"), first).code(), 0u);
    ASSERT_EQ(restore(std::string("/r/b/second"), second).code(), 0u);
    EXPECT_EQ(lstatOf("/r/a/first").st_ino, lstatOf("/r/b/second").st_ino);
    EXPECT_NE(lstatOf("/r/a/first").st_ino, lstatOf("/a/first").st_ino);

    // A new login knows nothing of that restore: a link whose first name is
    // elsewhere fails and makes nothing; in place it links to the original.
    relogin();
    EXPECT_EQ(restore(std::string("/s/b/second"), second).code(), NWSMTS_NO_DATA_SETS_FOUND);
    EXPECT_FALSE(fs::exists(real("/s/b/second")));
    fs::remove(real("/b/second"));
    ASSERT_EQ(restore(std::nullopt, second).code(), 0u);
    EXPECT_EQ(lstatOf("/a/first").st_ino, lstatOf("/b/second").st_ino);
    // Already a name of that inode: nothing to do, no temporary left.
    ASSERT_EQ(restore(std::nullopt, second).code(), 0u);
    EXPECT_EQ(entries(real("/b")), (std::vector<std::string>{"second"}));

    // The first name replaced by another file: never linked to it.
    fs::remove(real("/a/first"));
    file("/a/first", "other");
    fs::remove(real("/b/second"));
    EXPECT_EQ(restore(std::nullopt, second).code(), NWSMTS_NO_DATA_SETS_FOUND);
    EXPECT_FALSE(fs::exists(real("/b/second")));
}

TEST_F(FsKinds, FifoAndDeviceStreamsAreHeadersOnly)
{
    ASSERT_EQ(mkfifo(real("/pipe").c_str(), 0604), 0);
    setTimes(real("/pipe"), 1500000000, 7);
    const std::string pipe = backup("/pipe");
    EXPECT_EQ(headerOf(pipe).kind, smsemu::stream::Kind::Fifo);
    ASSERT_EQ(restore(std::string("/pipe2"), pipe).code(), 0u);
    EXPECT_TRUE(S_ISFIFO(lstatOf("/pipe2").st_mode));
    EXPECT_EQ(lstatOf("/pipe2").st_mode & 07777, 0604u);
    EXPECT_EQ(lstatOf("/pipe2").st_mtim.tv_nsec, 7);

    HandHeader device{6, 0620, 1500000000, 0, "/tty", "", 2, 4, 64};
    const RestoreResult made = restore(std::nullopt, withRecords(device, ""));
    if (geteuid() == 0) {
        ASSERT_EQ(made.code(), 0u);
        EXPECT_TRUE(S_ISCHR(lstatOf("/tty").st_mode));
        EXPECT_EQ(lstatOf("/tty").st_rdev, makedev(4, 64));
        const smsemu::stream::Header saved = headerOf(backup("/tty"));
        EXPECT_EQ(saved.deviceMajor, 4u);
        EXPECT_EQ(saved.deviceMinor, 64u);
    } else {
        EXPECT_EQ(made.code(), NWSMTS_CANT_CREATE_DIR_ENTRY);
        EXPECT_FALSE(fs::exists(real("/tty")));
    }
    EXPECT_EQ(entries(dir_ / "data"), geteuid() == 0 ? (std::vector<std::string>{"pipe", "pipe2", "tty"})
                                                     : (std::vector<std::string>{"pipe", "pipe2"}))
        << "no temporary left";
}

TEST_F(FsKinds, AttributesAreSavedAndAppliedWhenAsked)
{
    file("/f", "data");
    if (setxattr(real("/f").c_str(), "user.note", "v", 1, 0) != 0)
        GTEST_SKIP() << "no user extended attributes here";
    ASSERT_EQ(setxattr(real("/f").c_str(), "user.kxsms.archive", "x", 1, 0), 0);
    const std::string stream = backup("/f");
    EXPECT_NE(stream.find("user.note"), std::string::npos);
    EXPECT_EQ(stream.find("user.kxsms.archive"), std::string::npos) << "the archive flag is never saved";

    const UINT32 base = NWSM_OVERWRITE_DATA_SET | NWSM_RESTORE_MODE;
    ASSERT_EQ(restore(std::string("/without"), stream, base).code(), 0u);
    char value[8];
    EXPECT_LT(getxattr(real("/without").c_str(), "user.note", value, sizeof value), 0);
    ASSERT_EQ(restore(std::string("/with"), stream, base | NWSM_RESTORE_XATTRS, 7).code(), 0u);
    ASSERT_EQ(getxattr(real("/with").c_str(), "user.note", value, sizeof value), 1);
    EXPECT_EQ(value[0], 'v');
}

// An attribute the file system cannot take: the data is restored, the data
// set fails at its close, and the archive-flag attribute is never applied.
TEST_F(FsKinds, AttributesThatCannotBeAppliedFailTheDataSetAfterItsData)
{
    HandHeader h{1, 0644, 1600000000, 3, "/x", "", 2};
    std::string extent = "KXFE";
    putLe(extent, 0, 8);
    putLe(extent, 3, 8);
    const std::string stream =
        withRecords(h, attributeRecord({{"unknown.space", "1"}, {"user.kxsms.archive", "2"}}) + extent + "abc", 3);
    const RestoreResult r = restore(std::nullopt, stream, NWSM_OVERWRITE_DATA_SET | NWSM_RESTORE_XATTRS);
    EXPECT_EQ(r.open, 0u);
    EXPECT_EQ(r.write, 0u);
    EXPECT_EQ(r.close, NWSMTS_WRITE_ERROR);
    EXPECT_EQ(content("/x"), "abc");
    char value[8];
    EXPECT_LT(getxattr(real("/x").c_str(), "user.kxsms.archive", value, sizeof value), 0);
}

TEST_F(FsKinds, StreamsOfTheFirstVersionStillRestore)
{
    fs::create_directories(real("/d"));
    ASSERT_EQ(restore(std::nullopt, handStream(HandHeader{2, 0750, 1500000000, 0, "/d", ""}, {})).code(), 0u);
    ASSERT_EQ(restore(std::nullopt, handStream(HandHeader{1, 0600, 1500000000, 5, "/d/f", ""}, {{0, "hello"}})).code(),
              0u);
    ASSERT_EQ(restore(std::nullopt, handStream(HandHeader{3, 0777, 1500000000, 0, "/d/l", "f"}, {})).code(), 0u);
    EXPECT_EQ(content("/d/f"), "hello");
    EXPECT_EQ(fs::read_symlink(real("/d/l")), "f");
}

TEST_F(FsKinds, BrokenStreamsOfTheNewKindsAreRefused)
{
    std::string extent = "KXFE";
    putLe(extent, 0, 8);
    putLe(extent, 1, 8);
    const std::string oneAttribute = attributeRecord({{"user.a", "1"}});
    std::string badCount = "KXFA";
    putLe(badCount, 0, 8);
    putLe(badCount, 0, 8);
    std::string emptyName = "KXFA";
    putLe(emptyName, 1, 8);
    putLe(emptyName, 6, 8);
    emptyName += std::string("\0\1\0\0\0x", 6);
    std::string pad = "KXFP";
    putLe(pad, 2, 8);
    putLe(pad, 0, 8);
    struct Broken {
        const char *what;
        std::string stream;
        CCODE expected;
    };
    const HandHeader file2{1, 0644, 1600000000, 1, "/n", "", 2};
    const std::vector<Broken> cases{
        {"a kind past the last", withRecords(HandHeader{8, 0644, 1600000000, 0, "/n", "", 2}, ""),
         NWSMTS_EXPECTING_HEADER},
        {"a new kind in a first-version header", withRecords(HandHeader{5, 0644, 1600000000, 0, "/n", ""}, ""),
         NWSMTS_EXPECTING_HEADER},
        {"a hard link without its inode", withRecords(HandHeader{4, 0644, 1600000000, 0, "/n", "/a", 2}, ""),
         NWSMTS_EXPECTING_HEADER},
        {"a hard link without a first name",
         withRecords(HandHeader{4, 0644, 1600000000, 0, "/n", "", 2, 0, 0, 1, 1}, ""), NWSMTS_EXPECTING_HEADER},
        {"device numbers on a file", withRecords(HandHeader{1, 0644, 1600000000, 0, "/n", "", 2, 1, 1}, ""),
         NWSMTS_EXPECTING_HEADER},
        {"attributes in a first-version stream",
         withRecords(HandHeader{2, 0755, 1600000000, 0, "/n", ""}, oneAttribute), NWSMTS_EXPECTING_TRAILER},
        {"attributes after the data", withRecords(file2, extent + "z" + oneAttribute, 1), NWSMTS_EXPECTING_TRAILER},
        {"two attribute records", withRecords(file2, oneAttribute + oneAttribute), NWSMTS_EXPECTING_TRAILER},
        {"no attributes counted", withRecords(file2, badCount), NWSMTS_EXPECTING_TRAILER},
        {"an attribute without a name", withRecords(file2, emptyName), NWSMTS_EXPECTING_TRAILER},
        {"a pad cut short", handHeader(file2) + pad + std::string(1, '\0'), NWSMTS_EXPECTING_TRAILER},
        {"a pad in a first-version stream", withRecords(HandHeader{2, 0755, 1600000000, 0, "/n", ""}, pad + "\0\0"),
         NWSMTS_EXPECTING_TRAILER},
    };
    for (const Broken &c : cases) {
        EXPECT_EQ(restore(std::nullopt, c.stream).code(), c.expected) << c.what;
        EXPECT_FALSE(fs::exists(real("/n"))) << c.what;
        EXPECT_TRUE(fs::is_empty(dir_ / "data")) << c.what;
    }
    // The same records well placed restore.
    ASSERT_EQ(
        restore(std::nullopt, withRecords(file2, oneAttribute + pad + std::string(2, '\0') + extent + "z", 1)).code(),
        0u);
    EXPECT_EQ(content("/n"), "z");
}

TEST(LinkTargets, KeepTheirPlaceRelativeToTheLink)
{
    struct Case {
        const char *oldName, *newName, *target, *expected;
    };
    for (const Case &c : std::vector<Case>{
             {"/a/x", "/a/x", "/b/y", "/b/y"},
             {"/a/x", "/r/a/x", "/b/y", "/r/b/y"},
             {"/a/x", "/r/a/x", "/a/y", "/r/a/y"},
             {"/a/b/x", "/r/s/a/b/x", "/c/y", "/r/s/c/y"},
             {"/x", "/r/x", "/y", "/r/y"},
             {"/a/b/x", "/x", "/c/y", ""}, // would climb above the root
             {"/DOM1/dir/x", "/DOM2/restore/DOM1/dir/x", "/DOM1/other/y", "/DOM2/restore/DOM1/other/y"},
         })
        EXPECT_EQ(smsemu::relocatedLinkTarget(c.oldName, c.newName, c.target), c.expected) << c.newName;
}

} // namespace
} // namespace smsemutest
