// The file-system TSA's archive flags kept in its state store: what sets a
// flag, when clears are committed, that the files are never written, that
// records of files gone are dropped, and a store that cannot be written.
#include "filesystem/FsFixture.h"

#include <sqlite3.h>
#include <sys/xattr.h>

#include <fstream>
#include <functional>

namespace smsemutest {
namespace {

class FsArchiveState : public FsTsa {
protected:
    fs::path store() const { return dir_ / "state/archive.sqlite"; }
    bool flag(const std::string &name, UINT32 on = 0)
    {
        return (scanOn(on, name).info.attributes & NWSM_ATTR_ARCHIVE) != 0;
    }
    // A one-level scan begin of `name` on connection `on` (0: the fixture's).
    Found scanOn(UINT32 on, const std::string &name)
    {
        const UINT32 use = on == 0 ? connection : on;
        NWSM_DATA_SET_NAME_LIST *list = oneName(name);
        NWSM_SCAN_CONTROL c = control(1);
        UINT32 sequence = 0;
        NWSM_SCAN_INFORMATION *info = nullptr;
        NWSM_DATA_SET_NAME_LIST *names = nullptr;
        Found f;
        EXPECT_EQ(NWSMTSScanDataSetBegin(use, list, &c, nullptr, &sequence, &info, &names), 0u) << name;
        std::free(list);
        if (info != nullptr)
            f = found(info, names);
        NWSMTSScanDataSetEnd(use, &sequence, &info, &names);
        return f;
    }
    // Backs a data set up (read to its end unless `readAll` is false) and
    // sets its archive status; `early`: before reading.
    CCODE backUp(const std::string &name, UINT32 setFlag = 1, bool readAll = true, bool early = false)
    {
        UINT32 handle = 0;
        CCODE rc = openBackup(name, handle);
        if (rc != 0)
            return rc;
        if (early)
            rc = NWSMTSSetArchiveStatus(connection, handle, setFlag, 0);
        std::vector<UINT8> buffer(65536);
        UINT32 got = readAll ? 65536 : 0;
        while (rc == 0 && got == 65536)
            rc = NWSMTSReadDataSet(connection, handle, 65536, &got, buffer.data());
        if (rc == 0 && !early)
            rc = NWSMTSSetArchiveStatus(connection, handle, setFlag, 0);
        EXPECT_EQ(NWSMTSCloseDataSet(connection, &handle), 0u);
        return rc;
    }
    // Backs up every data set one scan of `start` gives, in one go as a
    // host's job does, calling `before` ahead of each; the number of data
    // sets whose clear was taken.
    int backUpScan(const std::string &start, const std::function<void(int)> &before = {})
    {
        NWSM_DATA_SET_NAME_LIST *list = oneName(start);
        NWSM_SCAN_CONTROL c = control(0);
        UINT32 sequence = 0;
        NWSM_SCAN_INFORMATION *info = nullptr;
        NWSM_DATA_SET_NAME_LIST *names = nullptr;
        CCODE rc = NWSMTSScanDataSetBegin(connection, list, &c, nullptr, &sequence, &info, &names);
        std::free(list);
        EXPECT_EQ(rc, 0u) << start;
        int taken = 0;
        std::vector<UINT8> buffer(65536);
        for (int i = 0; rc == 0; ++i, rc = NWSMTSScanNextDataSet(connection, &sequence, &info, &names)) {
            if (before)
                before(i);
            UINT32 handle = 0;
            EXPECT_EQ(NWSMTSOpenDataSetForBackup(connection, sequence, NWSM_OPEN_FOR_BACKUP, &handle), 0u);
            UINT32 got = 65536;
            CCODE read = 0;
            while (read == 0 && got == 65536)
                read = NWSMTSReadDataSet(connection, handle, 65536, &got, buffer.data());
            EXPECT_EQ(read, 0u);
            taken += NWSMTSSetArchiveStatus(connection, handle, 1, 0) == 0 ? 1 : 0;
            EXPECT_EQ(NWSMTSCloseDataSet(connection, &handle), 0u);
        }
        EXPECT_EQ(rc, NWSMTS_NO_MORE_DATA_SETS);
        return taken;
    }
    struct stat statOf(const std::string &name) const
    {
        struct stat st {};
        EXPECT_EQ(lstat(real(name).c_str(), &st), 0) << name;
        return st;
    }
    long long records()
    {
        sqlite3 *db = nullptr;
        long long count = -1;
        if (sqlite3_open_v2(store().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt *s = nullptr;
            if (sqlite3_prepare_v2(db, "SELECT count(*) FROM cleared", -1, &s, nullptr) == SQLITE_OK &&
                sqlite3_step(s) == SQLITE_ROW)
                count = sqlite3_column_int64(s, 0);
            sqlite3_finalize(s);
        }
        sqlite3_close(db);
        return count;
    }
};

TEST_F(FsArchiveState, EveryKindOfChangeSetsTheFlag)
{
    struct Case {
        const char *what;
        std::function<void()> change;
        bool set;
    };
    const std::vector<Case> cases = {
        {"nothing", []() {}, false},
        {"read", [this]() { (void)this->content("/f"); }, false},
        {"new data", [this]() { this->file("/f", "other"); }, true},
        {"chmod", [this]() { fs::permissions(this->real("/f"), fs::perms(0600)); }, true},
        {"chown to the same owner", [this]() { ASSERT_EQ(chown(this->real("/f").c_str(), geteuid(), getegid()), 0); },
         true},
        {"extended attribute",
         [this]() {
             if (setxattr(this->real("/f").c_str(), "user.test", "1", 1, 0) != 0)
                 fs::permissions(this->real("/f"), fs::perms(0640)); // no attributes here: another metadata change
         },
         true},
        {"hard link", [this]() { fs::create_hard_link(this->real("/f"), this->real("/f2")); }, true},
        {"renamed over by a copy with the same times",
         [this]() {
             struct stat st = this->statOf("/f");
             this->file("/g", this->content("/f"));
             setTimes(this->real("/g"), st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
             fs::rename(this->real("/g"), this->real("/f"));
         },
         true},
        {"deleted and made anew",
         [this]() {
             const std::string old = this->content("/f");
             fs::remove(this->real("/f"));
             this->file("/f", old);
         },
         true},
    };
    for (const Case &c : cases) {
        fs::remove(real("/f2"));
        file("/f", "content");
        EXPECT_TRUE(flag("/f")) << c.what << ": a file never cleared";
        ASSERT_EQ(backUp("/f"), 0u) << c.what;
        EXPECT_FALSE(flag("/f")) << c.what << ": cleared";
        afterTimesOf("/f");
        c.change();
        EXPECT_EQ(flag("/f"), c.set) << c.what;
    }
}

TEST_F(FsArchiveState, RenamedFileAndDirectoriesAndLinks)
{
    file("/dir/a", "a");
    fs::create_symlink("dir/a", real("/link"));
    for (const char *name : {"/dir", "/dir/a", "/link"}) {
        ASSERT_EQ(backUp(name), 0u) << name;
        EXPECT_FALSE(flag(name)) << name;
    }
    afterTimesOf("/dir");
    fs::rename(real("/dir/a"), real("/dir/b"));
    EXPECT_TRUE(flag("/dir/b")) << "a rename sets the flag of what moved";
    EXPECT_TRUE(flag("/dir")) << "and of its directory";
    EXPECT_FALSE(flag("/link")) << "the link itself did not change";
    ASSERT_EQ(backUp("/dir/b", 0), 0u);
    EXPECT_TRUE(flag("/dir/b"));
}

// The name is part of a record: what a renamed directory holds reads as
// changed (an incremental backup then saves it under its new name), while
// each name of a hard-linked file keeps a record of its own.
TEST_F(FsArchiveState, ARenamedDirectorySetsTheFlagsOfWhatItHolds)
{
    file("/dir/sub/a", "a");
    file("/h1", "linked");
    fs::create_hard_link(real("/h1"), real("/h2"));
    for (const char *name : {"/dir", "/dir/sub", "/dir/sub/a", "/h1", "/h2"})
        ASSERT_EQ(backUp(name), 0u) << name;
    relogin();
    for (const char *name : {"/dir/sub/a", "/h1", "/h2"})
        EXPECT_FALSE(flag(name)) << name;
    fs::rename(real("/dir"), real("/moved"));
    EXPECT_TRUE(flag("/moved/sub/a"));
    EXPECT_TRUE(flag("/moved/sub"));
    EXPECT_FALSE(flag("/h2"));
}

// A store written before names were kept gains the column; its records
// match nothing, so those flags read set until they are cleared again.
TEST_F(FsArchiveState, AStoreOfTheFirstVersionIsUpgraded)
{
    file("/f", "x");
    fs::create_directories(store().parent_path());
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(store().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE resource(id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE);"
                           "CREATE TABLE cleared(id INTEGER PRIMARY KEY, resource INTEGER NOT NULL, device INTEGER "
                           "NOT NULL, inode INTEGER NOT NULL, ctime_sec INTEGER NOT NULL, ctime_nsec INTEGER NOT "
                           "NULL, recorded INTEGER NOT NULL);"
                           "INSERT INTO cleared VALUES(1, 1, 1, 1, 1, 1, 1);"
                           "PRAGMA user_version = 1;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    relogin();
    EXPECT_TRUE(flag("/f"));
    ASSERT_EQ(backUp("/f"), 0u);
    relogin();
    EXPECT_FALSE(flag("/f"));
    EXPECT_EQ(records(), 2);
}

TEST_F(FsArchiveState, BackupsNeverWriteTheSourceFiles)
{
    file("/f", std::string(200000, 'x'));
    file("/d/g", "g");
    fs::create_symlink("f", real("/l"));
    std::map<std::string, struct stat> before;
    for (const char *name : {"/f", "/d", "/d/g", "/l"})
        before[name] = statOf(name);
    for (const char *name : {"/f", "/d", "/d/g", "/l"}) {
        ASSERT_EQ(backUp(name), 0u) << name;
        ASSERT_EQ(backUp(name, 0), 0u) << name;
        ASSERT_EQ(backUp(name), 0u) << name;
    }
    UINT32 handle = 0;
    ASSERT_EQ(openBackup("/f", handle, NWSM_OPEN_FOR_BACKUP | NWSM_OPEN_KEEP_ACCESS_TIME), 0u);
    ASSERT_EQ(NWSMTSSetArchiveStatus(connection, handle, 1, 0), 0u);
    ASSERT_EQ(NWSMTSCloseDataSet(connection, &handle), 0u);
    relogin();
    for (auto &[name, st] : before) {
        struct stat now = statOf(name);
        EXPECT_EQ(now.st_ctim.tv_sec, st.st_ctim.tv_sec) << name;
        EXPECT_EQ(now.st_ctim.tv_nsec, st.st_ctim.tv_nsec) << name;
        EXPECT_EQ(listxattr(real(name).c_str(), nullptr, 0), 0) << name;
    }
    EXPECT_TRUE(fs::exists(store()));
}

TEST_F(FsArchiveState, ClearsWaitForTheEndOfTheDataAndForACommit)
{
    file("/early", std::string(100000, 'e'));
    file("/unread", std::string(100000, 'u'));
    file("/late", "l");
    ASSERT_EQ(backUp("/early", 1, true, true), 0u);
    ASSERT_EQ(backUp("/unread", 1, false, true), 0u);
    ASSERT_EQ(backUp("/unread", 1, false, false), 0u);
    ASSERT_EQ(backUp("/late"), 0u);
    // Another connection sees none of it until this one commits.
    UINT32 other = loggedIn("srv1.Linux File System", "srv1");
    EXPECT_TRUE(flag("/late", other));
    EXPECT_FALSE(flag("/late")) << "a scan on the connection commits its clears";
    EXPECT_FALSE(flag("/late", other));
    EXPECT_FALSE(flag("/early")) << "asked before reading, applied once the end was read";
    EXPECT_TRUE(flag("/unread")) << "never read to its end";
    // Logging out commits too.
    file("/next", "n");
    ASSERT_EQ(backUp("/next"), 0u);
    EXPECT_TRUE(flag("/next", other));
    ASSERT_EQ(NWSMReleaseTSA(&connection), 0u);
    connection = 0;
    EXPECT_FALSE(flag("/next", other));
    NWSMReleaseTSA(&other);
}

// However many data sets one scan clears, nothing reaches the store before
// the connection commits: a host killed in the middle of its job, before its
// archive is durable, leaves every flag set.
TEST_F(FsArchiveState, AScanOfManyDataSetsWritesNoClearBeforeTheCommit)
{
    constexpr int c_Files = 33000; // more than any batch a store might be tempted to write early
    fs::create_directories(real("/many"));
    for (int i = 0; i < c_Files; ++i)
        std::ofstream(real("/many/f" + std::to_string(i)));
    const int cleared = backUpScan("/many");
    ASSERT_GT(cleared, c_Files);
    EXPECT_EQ(records(), 0) << "cleared in the middle of the job";
    ASSERT_EQ(NWSMReleaseTSA(&connection), 0u);
    connection = 0;
    EXPECT_EQ(records(), cleared);
}

TEST_F(FsArchiveState, RecordsOfFilesGoneAreDropped)
{
    for (int i = 0; i < 10; ++i)
        file("/d/f" + std::to_string(i), "x");
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(backUp("/d/f" + std::to_string(i)), 0u);
    relogin();
    EXPECT_EQ(records(), 10);
    for (int i = 0; i < 7; ++i)
        fs::remove(real("/d/f" + std::to_string(i)));
    scan("/d");
    EXPECT_EQ(records(), 10) << "a scan of part of the resource cannot tell what is gone";
    NWSM_SCAN_CONTROL oneLevel = control(1);
    scan("/", 0, &oneLevel, nullptr, nullptr, NWSM_TSA_DEFINED_RESOURCE);
    EXPECT_EQ(records(), 10) << "nor can a scan of one level";
    scan("/", 0, nullptr, nullptr, nullptr, NWSM_TSA_DEFINED_RESOURCE);
    EXPECT_EQ(records(), 3);
    for (int i = 7; i < 10; ++i)
        EXPECT_FALSE(flag("/d/f" + std::to_string(i)));
}

TEST_F(FsArchiveState, NoStoreIsMadeUntilAFlagIsCleared)
{
    file("/f", "x");
    scan("/");
    EXPECT_TRUE(flag("/f"));
    EXPECT_FALSE(fs::exists(store())) << "reading flags makes no store";
    ASSERT_EQ(backUp("/f"), 0u);
    EXPECT_TRUE(fs::exists(store()));
    EXPECT_EQ(fs::status(store()).permissions() & fs::perms::all, fs::perms(0600));
}

// The store's place cannot be written: the clear fails, the problem is
// reported with the store's path, and the flag stays set.
class FsArchiveStateUnwritable : public FsArchiveState {
protected:
    std::string archiveKeys() const override { return "archive_state = \"blocker/archive.sqlite\"\n"; }
};

TEST_F(FsArchiveStateUnwritable, IsReportedWithItsPath)
{
    write("blocker", "a file where the store's folder should be");
    file("/f", "x");
    testing::internal::CaptureStderr();
    EXPECT_EQ(backUp("/f"), NWSMTS_SET_FILE_INFO_ERR);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find((dir_ / "blocker/archive.sqlite").string()), std::string::npos) << err;
    EXPECT_TRUE(flag("/f"));
}

// A clear the store refused drops the connection's other clears too, even
// those it could have written later: the flags of one job stand or fall
// together, so the host's look at its last data set finds the failure, and
// the host hears the cause.
TEST_F(FsArchiveStateUnwritable, ARefusedClearKeepsEveryFlagOfTheJobSet)
{
    write("blocker", "a file where the store's folder should be");
    file("/d/f", "x");
    file("/d/g", "y");
    testing::internal::CaptureStderr();
    // The store can be made from the second data set on.
    EXPECT_EQ(backUpScan("/d", [this](int i) {
                  if (i == 1)
                      fs::remove(dir_ / "blocker");
              }),
              2);
    EXPECT_TRUE(flag("/d/g")) << "committed with a clear refused before it";
    EXPECT_TRUE(flag("/d/f"));
    const std::string err = testing::internal::GetCapturedStderr();
    // Without the host's log, what the host is told goes to stderr.
    EXPECT_NE(err.find("smsemu: " + (dir_ / "blocker/archive.sqlite").string() + ": archive state"),
              std::string::npos)
        << err;
    // The next job starts afresh.
    EXPECT_EQ(backUpScan("/d"), 3);
    EXPECT_FALSE(flag("/d/g"));
}

TEST_F(FsArchiveState, DefaultPlace)
{
    const fs::path path = smsemuDefaultArchiveStatePath("srv1.Linux File System/x");
    if (geteuid() == 0) {
        EXPECT_EQ(path, "/var/lib/smsemu/srv1.Linux File System%2Fx.archive-state.sqlite");
    } else {
        ScopedEnv state("XDG_STATE_HOME", "/somewhere/state");
        EXPECT_EQ(fs::path(smsemuDefaultArchiveStatePath(".a")), "/somewhere/state/smsemu/%2Ea.archive-state.sqlite");
    }
}

} // namespace
} // namespace smsemutest
