// Restores of several data sets on one connection: the folder of the
// previous data set is kept open for the next one. What others do to the
// target between two data sets (a folder renamed, removed, replaced by a
// symbolic link) never sends a file outside the resource nor loses it; the
// overwrite rules and the sizes of files hold as for a first data set.
#include "filesystem/FsFixture.h"
#include "StreamBytes.h"

#include <sys/stat.h>

#include <algorithm>

namespace smsemutest {
namespace {

class FsRestoreFolders : public FsTsa {
protected:
    static std::string fileStream(const std::string &name, const std::string &data, std::uint64_t size = 0)
    {
        HandHeader h;
        h.name = name;
        h.size = size != 0 ? size : data.size();
        return handStream(h, data.empty() ? std::vector<std::pair<std::uint64_t, std::string>>{}
                                          : std::vector<std::pair<std::uint64_t, std::string>>{{0, data}});
    }
    static std::string folderStream(const std::string &name, std::uint32_t mode)
    {
        HandHeader h;
        h.kind = 2;
        h.mode = mode;
        h.name = name;
        return handStream(h, {});
    }
    // Restores a stream of `name` in two writes: all but its last bytes,
    // then (after `during` and a look at the folder's names, into `seen`)
    // the rest: 3,000 bytes of 'n'. 0 when every call succeeded, else the step.
    int writtenMidway(const std::string &name, std::vector<std::string> &seen, const std::function<void()> &during)
    {
        const std::string stream = fileStream(name, std::string(3000, 'n'));
        UINT32 handle = 0;
        NWSM_DATA_SET_NAME_LIST *list = oneName(name);
        const CCODE opened = NWSMTSOpenDataSetForRestore(connection, 0, list, NWSM_OVERWRITE_DATA_SET, &handle);
        std::free(list);
        if (opened != 0)
            return 1;
        std::string copy = stream;
        const UINT32 first = static_cast<UINT32>(copy.size() - 10);
        if (NWSMTSWriteDataSet(connection, handle, first, reinterpret_cast<UINT8 *>(copy.data())) != 0)
            return 2;
        for (const auto &entry : fs::directory_iterator(real(fs::path(name).parent_path().string())))
            seen.push_back(entry.path().filename().string().rfind(".kxsms-restore-", 0) == 0
                               ? "(temporary)"
                               : entry.path().filename().string());
        std::sort(seen.begin(), seen.end());
        during();
        if (NWSMTSWriteDataSet(connection, handle, 10, reinterpret_cast<UINT8 *>(copy.data() + first)) != 0 ||
            NWSMTSCloseDataSet(connection, &handle) != 0)
            return 3;
        return 0;
    }
    bool exists(const std::string &name) const
    {
        struct stat info;
        return lstat(real(name).c_str(), &info) == 0;
    }
    // No temporary file left anywhere under the resource.
    void expectNoTemporaries() const
    {
        for (const auto &entry : fs::recursive_directory_iterator(dir_ / "data"))
            EXPECT_EQ(entry.path().filename().string().find(".kxsms-restore-"), std::string::npos) << entry.path();
    }
};

// Between two files of one folder, someone changes the folder. The second
// file never leaves the resource and is never lost.
TEST_F(FsRestoreFolders, TheFolderChangesBetweenTwoFiles)
{
    struct Case {
        const char *what;
        std::function<void()> change; // done by someone else between the two files
        const char *secondLandsAt; // the real name the second file is found under
    };
    const std::vector<Case> cases = {
        {"nothing", [] {}, "/t/a/two"},
        {"renamed", [this] { fs::rename(real("/t/a"), real("/t/moved")); }, "/t/moved/two"},
        {"renamed, a symbolic link to the outside put at its name",
         [this] {
             fs::rename(real("/t/a"), real("/t/moved"));
             fs::create_directory_symlink(dir_ / "outside", real("/t/a"));
         },
         "/t/moved/two"},
        {"removed", [this] { fs::remove_all(real("/t/a")); }, "/t/a/two"},
        {"removed, a symbolic link to the outside put at its name",
         [this] {
             fs::remove_all(real("/t/a"));
             fs::create_directory_symlink(dir_ / "outside", real("/t/a"));
         },
         nullptr},
        {"removed, a file put at its name",
         [this] {
             fs::remove_all(real("/t/a"));
             file("/t/a", "plain");
         },
         nullptr},
    };
    for (const Case &c : cases) {
        fs::remove_all(real("/t"));
        ASSERT_EQ(restore(std::nullopt, fileStream("/t/a/one", "first")).code(), 0u) << c.what;
        c.change();
        const CCODE second = restore(std::nullopt, fileStream("/t/a/two", "second")).code();
        if (c.secondLandsAt != nullptr) {
            EXPECT_EQ(second, 0u) << c.what;
            EXPECT_EQ(content(c.secondLandsAt), "second") << c.what;
        } else {
            EXPECT_EQ(second, NWSMTS_INVALID_PATH) << c.what;
        }
        EXPECT_TRUE(fs::is_empty(dir_ / "outside")) << c.what;
        expectNoTemporaries();
    }
}

// A folder removed through the TSA (a chain's removals) and made again by a
// later archive takes the later files.
TEST_F(FsRestoreFolders, AFolderRemovedAndMadeAgainTakesTheNextFiles)
{
    ASSERT_EQ(restore(std::nullopt, fileStream("/r/a/one", "1")).code(), 0u);
    fs::remove_all(real("/r/a"));
    ASSERT_EQ(restore(std::nullopt, folderStream("/r/a", 0755)).code(), 0u);
    ASSERT_EQ(restore(std::nullopt, fileStream("/r/a/two", "2")).code(), 0u);
    EXPECT_EQ(content("/r/a/two"), "2");
}

// The overwrite rules hold for every file of a folder, not only the first.
TEST_F(FsRestoreFolders, ExistingFilesOfOneFolder)
{
    struct Case {
        UINT32 mode;
        CCODE code;
        const char *after;
    };
    const std::vector<Case> cases = {
        {NWSM_RESTORE_MODE, NWSMTS_DATA_SET_ALREADY_EXISTS, "live"},
        {NWSM_OVERWRITE_DATA_SET, 0, "new"},
        {NWSM_KEEP_NEWER_DATA_SET, NWSMTS_DATA_SET_IS_OLDER, "live"}, // the live file is newer than 1600000000
    };
    for (const Case &c : cases) {
        fs::remove_all(real("/o"));
        ASSERT_EQ(restore(std::nullopt, fileStream("/o/first", "x"), c.mode).code(), 0u) << c.mode;
        file("/o/second", "live");
        // Named by the stream and by the host's list.
        EXPECT_EQ(restore(std::nullopt, fileStream("/o/second", "new"), c.mode).code(), c.code) << c.mode;
        EXPECT_EQ(content("/o/second"), c.after) << c.mode;
        file("/o/second", "live");
        EXPECT_EQ(restore("/o/second", fileStream("/o/second", "new"), c.mode).code(), c.code) << c.mode;
        EXPECT_EQ(content("/o/second"), c.after) << c.mode;
        expectNoTemporaries();
    }
}

// Sizes: a file has its stream's size whether its data reaches the end,
// stops before it (a hole at the end) or is empty.
TEST_F(FsRestoreFolders, SizesWithAndWithoutAHoleAtTheEnd)
{
    struct Case {
        const char *name;
        std::string data;
        std::uint64_t size;
    };
    const std::vector<Case> cases = {
        {"/s/full", "abcdef", 0},
        {"/s/hole-at-end", "abc", 1 << 20},
        {"/s/only-hole", "", 4096},
        {"/s/empty", "", 0},
    };
    for (const Case &c : cases) {
        HandHeader h;
        h.name = c.name;
        h.size = c.size != 0 ? c.size : c.data.size();
        std::vector<std::pair<std::uint64_t, std::string>> extents;
        if (!c.data.empty())
            extents.emplace_back(0, c.data);
        ASSERT_EQ(restore(std::nullopt, handStream(h, extents)).code(), 0u) << c.name;
        struct stat info;
        ASSERT_EQ(stat(real(c.name).c_str(), &info), 0) << c.name;
        EXPECT_EQ(static_cast<std::uint64_t>(info.st_size), h.size) << c.name;
        std::string expected = c.data;
        expected.resize(h.size, '\0');
        EXPECT_EQ(content(c.name), expected) << c.name;
    }
}

// While a file's data comes, its folder shows nothing of it where the
// process may link by descriptor (root) and the name is new: the file is
// unnamed until complete, so a job that dies leaves nothing behind. A name
// that is there is replaced from a temporary name; without that right
// (another user) every file has one. The file is complete at the close.
TEST_F(FsRestoreFolders, AFileBeingWrittenIsUnnamedUntilComplete)
{
    // The names in `folder` while the stream of `name` is written but for
    // its last bytes; 0 when the close then restored it whole, else a step.
    auto midway = [this](const std::string &name, std::vector<std::string> &seen) {
        if (int step = writtenMidway(name, seen, [] {}))
            return step;
        return content(name) == std::string(3000, 'n') ? 0 : 4;
    };
    struct Case {
        bool root;
        std::vector<std::string> newName;      // seen while /u/second (new) is written
        std::vector<std::string> existingName; // seen while /u/live (there) is written
    };
    const std::vector<Case> cases = {
        {true, {"first", "live"}, {"(temporary)", "first", "live", "second"}},
        {false, {"(temporary)", "first", "live"}, {"(temporary)", "first", "live", "second"}},
    };
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: to link by descriptor, and to become another user";
    for (const Case &c : cases) {
        fs::remove_all(real("/u"));
        auto run = [&] {
            // The folder's first file is how the folder is learned: named.
            if (restore(std::nullopt, fileStream("/u/first", "1")).code() != 0)
                return 10;
            file("/u/live", "live");
            std::vector<std::string> seenNew, seenExisting;
            if (int step = midway("/u/second", seenNew))
                return 20 + step;
            if (int step = midway("/u/live", seenExisting))
                return 30 + step;
            return seenNew == c.newName && seenExisting == c.existingName ? 0 : 40;
        };
        EXPECT_EQ(c.root ? run() : asNobody(run), 0) << (c.root ? "root" : "another user");
        expectNoTemporaries();
    }
}

// Someone else acts on an unnamed file's name or folder while its data
// comes: the file still lands whole under its name, and nothing is left.
TEST_F(FsRestoreFolders, TheNameOrFolderOfAnUnnamedFileChangesMidway)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: to link by descriptor";
    struct Case {
        const char *what;
        std::function<void()> during;
        const char *landsAt; // the file's name at the end
    };
    const std::vector<Case> cases = {
        {"the name taken", [this] { file("/m/second", "someone else's"); }, "/m/second"},
        {"the folder removed", [this] { fs::remove_all(real("/m")); }, "/m/second"},
        {"the folder renamed", [this] { fs::rename(real("/m"), real("/moved")); }, "/moved/second"},
    };
    for (const Case &c : cases) {
        fs::remove_all(real("/m"));
        fs::remove_all(real("/moved"));
        ASSERT_EQ(restore(std::nullopt, fileStream("/m/first", "1")).code(), 0u) << c.what;
        std::vector<std::string> seen;
        EXPECT_EQ(writtenMidway("/m/second", seen, c.during), 0) << c.what;
        EXPECT_EQ(seen, (std::vector<std::string>{"first"})) << c.what << ": unnamed while written";
        EXPECT_EQ(content(c.landsAt), std::string(3000, 'n')) << c.what;
        expectNoTemporaries();
    }
}

// A folder of mode 0555 restored by a user who is not root: its files still
// go in (the folder is open to its owner until the connection logs out), and
// it has its mode at the end.
TEST_F(FsRestoreFolders, AReadOnlyFolderRestoredByAUser)
{
    auto run = [this] {
        if (restore(std::nullopt, folderStream("/ro", 0555)).code() != 0)
            return 1;
        for (const char *name : {"/ro/a", "/ro/b", "/ro/c"})
            if (restore(std::nullopt, fileStream(name, name)).code() != 0)
                return 2;
        if (NWSMTSReleaseTargetService(&connection) != 0)
            return 3;
        connection = 0;
        return 0;
    };
    ASSERT_EQ(geteuid() == 0 ? asNobody(run) : run(), 0);
    struct stat info;
    ASSERT_EQ(stat(real("/ro").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0555u);
    for (const char *name : {"/ro/a", "/ro/b", "/ro/c"})
        EXPECT_EQ(content(name), name);
}

// What the folder's first file showed about new files there (their owner
// and group) is learned anew when another connection of the restore changes
// the folder: a file that follows still gets the group it asks for,
// whichever group the folder now gives.
TEST_F(FsRestoreFolders, AFolderChangedByTheRestoreIsLearnedAgain)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "giving a folder to another group takes root";
    const UINT32 mode = NWSM_OVERWRITE_DATA_SET | NWSM_RESTORE_MODE | NWSM_RESTORE_OWNER;
    auto owned = [](const std::string &name, std::uint32_t kind, std::uint32_t fileMode, std::uint32_t gid) {
        HandHeader h;
        h.kind = static_cast<std::uint8_t>(kind);
        h.mode = fileMode;
        h.name = name;
        h.gid = gid;
        if (kind == 1)
            h.size = 1;
        return handStream(h, kind == 1 ? std::vector<std::pair<std::uint64_t, std::string>>{{0, "x"}}
                                       : std::vector<std::pair<std::uint64_t, std::string>>{});
    };
    struct Case {
        const char *what;
        std::uint32_t firstMode, firstGid; // the folder as the archive's first member makes it
        std::uint32_t laterMode, laterGid; // ... and as a later member makes it again
        std::uint32_t fileGid;             // the group the files after that ask for
    };
    const std::vector<Case> cases = {
        {"made set-group-ID, files of root's group", 0755, 0, 02775, 4321, 0},
        {"made set-group-ID, files of the folder's group", 0755, 0, 02775, 4321, 4321},
        {"set-group-ID taken away, files of the folder's group", 02775, 4321, 0775, 4321, 4321},
        {"unchanged", 0755, 0, 0755, 0, 0},
    };
    for (const Case &c : cases) {
        fs::remove_all(real("/g"));
        ASSERT_EQ(restore(std::nullopt, owned("/g", 2, c.firstMode, c.firstGid), mode).code(), 0u) << c.what;
        ASSERT_EQ(restore(std::nullopt, owned("/g/one", 1, 0644, c.fileGid), mode).code(), 0u) << c.what;
        ASSERT_EQ(restore(std::nullopt, owned("/g/two", 1, 0644, c.fileGid), mode).code(), 0u) << c.what;
        // Another connection of the same TSA (another restore worker) makes it again.
        // (It stays logged in meanwhile: a logout looks every folder up again too.)
        const UINT32 first = connection;
        UINT32 other = loggedIn("srv1.Linux File System", "srv1");
        ASSERT_NE(other, 0u);
        connection = other;
        const CCODE again = restore(std::nullopt, owned("/g", 2, c.laterMode, c.laterGid), mode).code();
        connection = first;
        EXPECT_EQ(again, 0u) << c.what;
        for (const char *name : {"/g/three", "/g/four"})
            EXPECT_EQ(restore(std::nullopt, owned(name, 1, 0644, c.fileGid), mode).code(), 0u) << c.what;
        NWSMReleaseTSA(&other);
        for (const char *name : {"/g/one", "/g/two", "/g/three", "/g/four"}) {
            struct stat info;
            ASSERT_EQ(lstat(real(name).c_str(), &info), 0) << c.what;
            EXPECT_EQ(info.st_gid, c.fileGid) << c.what << " " << name;
            EXPECT_EQ(info.st_uid, 0u) << c.what << " " << name;
            EXPECT_EQ(info.st_mode & 07777, 0644u) << c.what << " " << name;
        }
        expectNoTemporaries();
    }
}

} // namespace
} // namespace smsemutest
