// The archive flag of the file-system TSA, deletion at a scan position, and
// what a connection leaves behind.
#include "filesystem/FsFixture.h"

#include <sys/xattr.h>

#include <functional>
#include <vector>

namespace smsemutest {
namespace {

// The extended-attribute way (archive_flag = "xattr").
class FsArchive : public FsTsa {
protected:
    std::string archiveKeys() const override { return "archive_flag = \"xattr\"\n"; }
    bool archived(const std::string &name) { return (scan(name, 1).front().info.attributes & NWSM_ATTR_ARCHIVE) != 0; }
    CCODE setStatus(const std::string &name, UINT32 setFlag)
    {
        UINT32 handle = 0;
        CCODE rc = openBackup(name, handle);
        // A clear counts once the data set was read to its end.
        std::vector<UINT8> buffer(65536);
        for (UINT32 got = 65536; rc == 0 && got == 65536;)
            rc = NWSMTSReadDataSet(connection, handle, 65536, &got, buffer.data());
        if (rc == 0)
            rc = NWSMTSSetArchiveStatus(connection, handle, setFlag, 0);
        if (handle != 0) {
            EXPECT_EQ(NWSMTSCloseDataSet(connection, &handle), 0u);
        }
        return rc;
    }
};

TEST_F(FsArchive, SetClearAndChange)
{
    file("/f", "one");
    EXPECT_TRUE(archived("/f"));
    ASSERT_EQ(setStatus("/f", 1), 0u);
    EXPECT_FALSE(archived("/f"));
    EXPECT_FALSE(archived("/f")) << "reading does not set it";
    // A write sets it.
    afterTimesOf("/f");
    file("/f", "two");
    EXPECT_TRUE(archived("/f"));
    ASSERT_EQ(setStatus("/f", 1), 0u);
    EXPECT_FALSE(archived("/f"));
    // Same size, content rewritten, modification time put back: the
    // nanoseconds give it away.
    struct stat before;
    ASSERT_EQ(stat(real("/f").c_str(), &before), 0);
    setTimes(real("/f"), before.st_mtim.tv_sec, (before.st_mtim.tv_nsec + 1) % 1000000000);
    EXPECT_TRUE(archived("/f"));
    // Replaced by another file: set.
    ASSERT_EQ(setStatus("/f", 1), 0u);
    file("/g", "two");
    struct timespec same[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(stat(real("/f").c_str(), &before), 0);
    same[1] = before.st_mtim;
    ASSERT_EQ(utimensat(AT_FDCWD, real("/g").c_str(), same, 0), 0);
    fs::rename(real("/g"), real("/f"));
    EXPECT_TRUE(archived("/f"));
    // setFlag 0 sets it again.
    ASSERT_EQ(setStatus("/f", 1), 0u);
    ASSERT_EQ(setStatus("/f", 0), 0u);
    EXPECT_TRUE(archived("/f"));
}

TEST_F(FsArchive, DirectoriesAndLinks)
{
    makeDir("data/folder");
    fs::create_symlink("folder", real("/link"));
    ASSERT_EQ(setStatus("/folder", 1), 0u);
    EXPECT_FALSE(archived("/folder"));
    // Links cannot keep the flag: always set, clearing is no error.
    ASSERT_EQ(setStatus("/link", 1), 0u);
    EXPECT_TRUE(archived("/link"));
}

// A clear is written to the file only when the connection commits (here:
// it logs out), and only to the file that was read: one renamed over it,
// removed, or set again in the meantime keeps its flag.
TEST_F(FsArchive, ClearsWaitForTheCommitAndReachOnlyTheFileRead)
{
    struct Case {
        const char *name;
        std::function<void()> between; // after the clear, before the logout
        bool clearedAfter;
    };
    const std::vector<Case> cases = {
        {"untouched", [] {}, true},
        {"replaced by a rename",
         [this] {
             file("/other", "new");
             fs::rename(real("/other"), real("/f"));
         },
         false},
        {"removed", [this] { fs::remove(real("/f")); }, false},
        {"set again", [this] { EXPECT_EQ(setStatus("/f", 0), 0u); }, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(real("/f"));
        file("/f", "one");
        ASSERT_EQ(setStatus("/f", 1), 0u);
        char value[64];
        EXPECT_LT(getxattr(real("/f").c_str(), "user.kxsms.archive", value, sizeof value), 0)
            << "nothing is written before the connection commits";
        c.between();
        relogin();
        if (fs::exists(real("/f"))) {
            EXPECT_EQ(getxattr(real("/f").c_str(), "user.kxsms.archive", value, sizeof value) > 0,
                      c.clearedAfter);
            EXPECT_EQ(archived("/f"), !c.clearedAfter);
        }
    }
}

class FsDelete : public FsTsa {
protected:
    CCODE remove(const std::string &name, UINT32 startType = NWSM_NAME_SPACE_NFS)
    {
        NWSM_DATA_SET_NAME_LIST *list = oneName(name, startType);
        NWSM_SCAN_CONTROL c = control(1);
        UINT32 sequence = 0;
        NWSM_SCAN_INFORMATION *info = nullptr;
        NWSM_DATA_SET_NAME_LIST *names = nullptr;
        CCODE rc = NWSMTSScanDataSetBegin(connection, list, &c, nullptr, &sequence, &info, &names);
        std::free(list);
        if (rc != 0)
            return rc;
        rc = NWSMTSDeleteDataSet(connection, sequence);
        EXPECT_EQ(smsemuOpenScans(), 1) << "the scan stays open";
        EXPECT_EQ(NWSMTSScanDataSetEnd(connection, &sequence, &info, &names), 0u);
        return rc;
    }
};

TEST_F(FsDelete, Rules)
{
    file("/f", "x");
    file("/full/inside", "x");
    makeDir("data/empty");
    fs::create_symlink("full", real("/link"));
    struct Case {
        std::string name;
        CCODE code;
        bool gone;
    };
    for (const Case &c : {Case{"/f", 0, true}, Case{"/empty", 0, true}, Case{"/link", 0, true},
                          Case{"/full", NWSMTS_DELETE_ERR, false}, Case{"/missing", NWSMTS_NO_DATA_SETS_FOUND, true}}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(remove(c.name), c.code) << c.name;
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(!fs::exists(fs::symlink_status(real(c.name))), c.gone) << c.name;
        // One code for every failed removal: the system's words say which.
        if (c.code == NWSMTS_DELETE_ERR) {
            EXPECT_NE(said.find(c.name + ": Directory not empty"), std::string::npos) << said;
        }
    }
    EXPECT_TRUE(fs::exists(real("/full/inside"))) << "a link is deleted, not what it points at";
    fs::remove_all(real("/full"));
    EXPECT_EQ(remove("/", NWSM_TSA_DEFINED_RESOURCE), NWSMTS_DELETE_ERR);
    EXPECT_TRUE(fs::exists(dir_ / "data"));
    EXPECT_EQ(NWSMTSDeleteDataSet(connection, 777), NWSMTS_INVALID_SEQUENCE_NUMBER);
}

TEST_F(FsDelete, FaultsChangeWithoutDroppingConnections)
{
    file("/f");
    NWSM_DATA_SET_NAME_LIST *list = oneName("/");
    NWSM_SCAN_CONTROL c = control(1);
    UINT32 sequence = 0;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    ASSERT_EQ(NWSMTSScanDataSetBegin(connection, list, &c, nullptr, &sequence, &info, &names), 0u);
    std::free(list);
    smsemuSetFaults("NWSMTSScanNextDataSet@1=0xFFFDFFC3");
    EXPECT_EQ(smsemuOpenConnections(), 1);
    EXPECT_EQ(smsemuOpenScans(), 1);
    EXPECT_EQ(NWSMTSScanNextDataSet(connection, &sequence, &info, &names), 0xFFFDFFC3u);
    EXPECT_EQ(smsemuOpenScans(), 1) << "a faulted call does nothing";
    EXPECT_EQ(smsemuCallCount("NWSMTSScanNextDataSet"), 1u);
    smsemuSetFaults(nullptr);
    EXPECT_EQ(NWSMTSScanNextDataSet(connection, &sequence, &info, &names), 0u);
    EXPECT_EQ(found(info, names).name, "/f");
    EXPECT_EQ(NWSMTSScanDataSetEnd(connection, &sequence, &info, &names), 0u);
}

TEST_F(FsDelete, ReleasingTheTsaLeavesNothingOpen)
{
    file("/a", std::string(100000, 'a'));
    UINT32 handle = 0, second = 0;
    ASSERT_EQ(openBackup("/a", handle), 0u);
    NWSM_DATA_SET_NAME_LIST *list = oneName("/b");
    ASSERT_EQ(NWSMTSOpenDataSetForRestore(connection, 0, list, NWSM_OVERWRITE_DATA_SET, &second), 0u);
    NWSM_SCAN_CONTROL c = control(0);
    UINT32 sequence = 0;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    ASSERT_EQ(NWSMTSScanDataSetBegin(connection, list, &c, nullptr, &sequence, &info, &names),
              NWSMTS_NO_DATA_SETS_FOUND);
    std::free(list);
    list = oneName("/");
    ASSERT_EQ(NWSMTSScanDataSetBegin(connection, list, &c, nullptr, &sequence, &info, &names), 0u);
    std::free(list);
    EXPECT_EQ(smsemuOpenScans(), 1);
    EXPECT_EQ(smsemuOpenDataSets(), 2);
    ASSERT_EQ(NWSMReleaseTSA(&connection), 0u);
    connection = 0;
    EXPECT_EQ(smsemuOpenScans(), 0);
    EXPECT_EQ(smsemuOpenDataSets(), 0);
    EXPECT_EQ(entries(dir_ / "data"), (std::vector<std::string>{"a"}));
}

} // namespace
} // namespace smsemutest
