// kxsms backup --incremental --clear-archive end to end, with the archive
// flags in the file-system TSA's state store: what each incremental saves
// after each kind of change, that no backup changes a source file, a
// read-only mount, an unprivileged user, a crash in the middle of a job,
// and clearing that fails.
#include <gtest/gtest.h>

#include "commands/KxsmsProgram.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using kxsms_test::quote;
using kxsms_test::readFile;
using kxsms_test::removeTree;
using kxsms_test::Result;
using kxsms_test::writeFile;

// Change time of every entry below root, to the nanosecond.
std::map<std::string, std::pair<long, long>> changeTimes(const fs::path &root)
{
    std::map<std::string, std::pair<long, long>> times;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        struct stat st;
        lstat(entry.path().c_str(), &st);
        times[entry.path().string()] = {st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
    }
    return times;
}

class Incremental : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = kxsms_test::makeScratch("kxsms-incremental");
        fs::permissions(dir_, fs::perms(0755));
        data_ = dir_ / "data";
        fs::create_directories(data_);
        setenv("KXSMS_PASSWORD", "", 1);
        setenv("KXLIB_LOG", (dir_ / "kxlib.log").c_str(), 1);
        unsetenv("SMSEMU_FAULTS");
        unsetenv("KXSMS_LIBRARY");
        useConfig(data_, "archive_state = \"" + (dir_ / "state/archive.sqlite").string() + "\"\n");
        writeFile(data_ / "tree/a.txt", "alpha\n");
        writeFile(data_ / "tree/b.txt", "beta\n");
        writeFile(data_ / "tree/sub/c.txt", "gamma\n");
        writeFile(data_ / "tree/sub/d.txt", std::string(100000, 'd'));
        writeFile(data_ / "tree/gone.txt", "soon gone\n");
        writeFile(data_ / "tree/old-name.txt", "renamed\n");
        fs::create_symlink("a.txt", data_ / "tree/link");
    }
    void TearDown() override
    {
        if (!mounted_.empty())
            umount2(mounted_.c_str(), MNT_DETACH);
        removeTree(dir_);
    }

    void useConfig(const fs::path &resource, const std::string &keys)
    {
        writeFile(dir_ / "smsemu.toml", "[[tsa]]\ntype = \"Linux File System\"\n" + keys +
                                            "\n  [[tsa.resource]]\n  name = \"/\"\n  path = \"" + resource.string() +
                                            "\"\n");
        setenv("SMSEMU_CONFIG", (dir_ / "smsemu.toml").c_str(), 1);
    }

    // Mounts the data read-only at view (undone at the end); why not, when it cannot be.
    std::string mountReadOnly(const fs::path &view)
    {
        fs::create_directories(view);
        if (geteuid() != 0 || mount(data_.c_str(), view.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return "bind mounts need root";
        mounted_ = view.string();
        if (mount(nullptr, view.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            return "cannot make the bind mount read-only";
        return "";
    }

    Result sh(const std::string &commandLine) { return kxsms_test::runShell(dir_, commandLine); }
    Result kxsms(const std::vector<std::string> &arguments, const std::string &prefix = "")
    {
        return sh(kxsms_test::kxsmsLine(arguments, prefix));
    }
    // Non-parents an archive holds the data of, with their state ("intact", ...).
    std::map<std::string, std::string> saved(const std::string &archive)
    {
        const Result listed = kxsms({"list", "-f", archive, "--json"});
        std::map<std::string, std::string> names;
        if (listed.out.empty())
            return names;
        for (const json &member : json::parse(listed.out))
            if (!member["parent"].get<bool>() && member["listing"] == "saved")
                names[member["name"].get<std::string>()] = member["state"].get<std::string>();
        return names;
    }
    std::set<std::string> savedNames(const std::string &archive)
    {
        std::set<std::string> names;
        for (const auto &[name, state] : saved(archive))
            names.insert(name);
        return names;
    }
    // Backs up /tree with --incremental --clear-archive; the source's change
    // times must not move.
    std::set<std::string> incremental(const std::string &archive, const std::string &prefix = "",
                                      const std::string &path = "/tree")
    {
        const auto before = changeTimes(data_);
        const Result r = kxsms({"backup", path, "--incremental", "--clear-archive", "-f", archive}, prefix);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(changeTimes(data_), before) << "a backup changed a source file";
        return savedNames(archive);
    }
    // Data sets whose archive flag reads set.
    std::set<std::string> flagged(const std::string &path, const std::string &prefix = "")
    {
        const Result r = kxsms({"ls", "-r", path, "--json"}, prefix);
        std::set<std::string> names;
        EXPECT_EQ(r.status, 0) << r.err;
        for (const json &entry : json::parse(r.out))
            if (entry["archive"].get<bool>() && !entry["parent"].get<bool>())
                names.insert(entry["name"].get<std::string>());
        return names;
    }

    // The changes of the sequence: create, modify, chmod, rename, delete.
    void change()
    {
        writeFile(data_ / "tree/new.txt", "new\n");
        writeFile(data_ / "tree/b.txt", "beta, longer\n");
        fs::permissions(data_ / "tree/sub/c.txt", fs::perms(0600));
        fs::rename(data_ / "tree/old-name.txt", data_ / "tree/sub/new-name.txt");
        fs::remove(data_ / "tree/gone.txt");
    }
    const std::set<std::string> changed_{"/tree/new.txt", "/tree/b.txt", "/tree/sub/c.txt", "/tree/sub/new-name.txt"};

    fs::path dir_;
    fs::path data_;
    std::string mounted_;
};

TEST_F(Incremental, SavesExactlyWhatChanged)
{
    EXPECT_EQ(incremental("full.kxa"),
              (std::set<std::string>{"/tree/a.txt", "/tree/b.txt", "/tree/sub/c.txt", "/tree/sub/d.txt",
                                     "/tree/gone.txt", "/tree/old-name.txt", "/tree/link"}));
    EXPECT_EQ(flagged("/tree"), std::set<std::string>{});
    EXPECT_EQ(incremental("none.kxa"), std::set<std::string>{});
    change();
    EXPECT_EQ(incremental("inc1.kxa"), changed_);
    // More changes: a touch of the data, an owner set again, a link made anew.
    writeFile(data_ / "tree/sub/d.txt", std::string(100000, 'e'));
    ASSERT_EQ(lchown((data_ / "tree/a.txt").c_str(), geteuid(), getegid()), 0);
    fs::remove(data_ / "tree/link");
    fs::create_symlink("b.txt", data_ / "tree/link");
    EXPECT_EQ(incremental("inc2.kxa"), (std::set<std::string>{"/tree/sub/d.txt", "/tree/a.txt", "/tree/link"}));
    EXPECT_EQ(incremental("inc3.kxa"), std::set<std::string>{});
}

TEST_F(Incremental, ExtendedAttributeWayStillWorks)
{
    if (setxattr(data_.c_str(), "user.kxsms-test", "1", 1, 0) != 0)
        GTEST_SKIP() << "no user extended attributes here";
    removexattr(data_.c_str(), "user.kxsms-test");
    useConfig(data_, "archive_flag = \"xattr\"\n");
    auto files = [](std::set<std::string> names) {
        names.erase("/tree/link"); // a link cannot carry the attribute: always saved
        return names;
    };
    EXPECT_EQ(kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "1.kxa"}).status, 0);
    char value[64];
    EXPECT_EQ(getxattr((data_ / "tree/a.txt").c_str(), "user.kxsms.archive", value, sizeof value), 32);
    EXPECT_EQ(kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "2.kxa"}).status, 0);
    EXPECT_EQ(files(savedNames("2.kxa")), std::set<std::string>{});
    writeFile(data_ / "tree/b.txt", "beta, longer\n");
    EXPECT_EQ(kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "3.kxa"}).status, 0);
    EXPECT_EQ(files(savedNames("3.kxa")), std::set<std::string>{"/tree/b.txt"});
    EXPECT_FALSE(fs::exists(dir_ / "state/archive.sqlite"));
}

TEST_F(Incremental, FromAReadOnlyMountSavesOnlyWhatChanged)
{
    const fs::path view = dir_ / "view";
    if (const std::string why = mountReadOnly(view); !why.empty())
        GTEST_SKIP() << why;
    useConfig(view, "archive_state = \"" + (dir_ / "state/archive.sqlite").string() + "\"\n");
    EXPECT_EQ(incremental("full.kxa").size(), 7u);
    EXPECT_EQ(incremental("none.kxa"), std::set<std::string>{});
    change();
    EXPECT_EQ(incremental("inc1.kxa"), changed_);
    EXPECT_EQ(incremental("inc2.kxa"), std::set<std::string>{});
}

TEST_F(Incremental, AnUnprivilegedUserKeepsTheFlagsInItsOwnStore)
{
    if (geteuid() != 0 || system("command -v setpriv >/dev/null") != 0)
        GTEST_SKIP() << "needs root and setpriv";
    if (const std::string why = kxsms_test::runKxsmsForOtherUsers(dir_); !why.empty())
        GTEST_SKIP() << why;
    const fs::path home = dir_ / "home";
    fs::create_directories(home);
    ASSERT_EQ(chown(home.c_str(), 65534, 65534), 0);
    for (const auto &entry : fs::recursive_directory_iterator(data_))
        if (entry.is_directory() && !entry.is_symlink())
            fs::permissions(entry.path(), fs::perms(0755));
    fs::permissions(data_, fs::perms(0755));
    useConfig(data_, "");
    fs::permissions(dir_ / "smsemu.toml", fs::perms(0644));
    const std::string asNobody = "XDG_STATE_HOME=" + quote(home.string()) + " KXLIB_LOG=/dev/null " +
                                 "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    const auto before = changeTimes(data_);
    Result r = kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "/dev/null"}, asNobody);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(home / "smsemu")) << "the store is in the user's state folder";
    r = kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "-"}, asNobody);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(flagged("/tree", asNobody), std::set<std::string>{});
    EXPECT_EQ(changeTimes(data_), before) << "the source is untouched";
}

TEST_F(Incremental, AKilledBackupLeavesTheFlagsOfUnsavedDataSetsSet)
{
    for (int i = 0; i < 200; ++i)
        writeFile(data_ / "second" / ("f" + std::to_string(1000 + i)),
                  std::string(50000, static_cast<char>('a' + i % 26)));
    // The archive goes into a pipe that stops being read after 3 MB: kxsms
    // blocks in the middle of /second and is killed there.
    const Result r = sh("mkfifo pipe && { \"$KXSMS\" backup /tree /second --clear-archive -f - > pipe & "
                        "pid=$!; { head -c 3000000 > part.kxa; kill -9 $pid; cat > /dev/null; } < pipe; "
                        "wait $pid; echo $? > status; }");
    ASSERT_EQ(readFile(dir_ / "status"), "137\n") << r.err;
    const std::map<std::string, std::string> inArchive = saved("part.kxa");
    const std::set<std::string> stillSet = flagged("/second");
    std::size_t clear = 0;
    for (int i = 0; i < 200; ++i) {
        const std::string name = "/second/f" + std::to_string(1000 + i);
        if (stillSet.count(name) != 0)
            continue;
        ++clear;
        auto found = inArchive.find(name);
        EXPECT_TRUE(found != inArchive.end() && found->second == "intact") << name << " reads saved but is not";
    }
    EXPECT_LT(clear, 200u);
    EXPECT_GT(inArchive.size(), 7u) << "the kill came in the middle of /second";
    EXPECT_EQ(flagged("/tree"), std::set<std::string>{}) << "the first path was done before the second began";
}

// ---- chains of archives ---------------------------------------------------------

// How the chain's backups reach the tree.
enum class Reach { Plain, ReadOnlyMount, Unprivileged };

// Hard-link counts of the files below root: a chain must bring links back as links.
std::map<std::string, nlink_t> linkCounts(const fs::path &root)
{
    std::map<std::string, nlink_t> counts;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        struct stat st;
        lstat(entry.path().c_str(), &st);
        if (S_ISREG(st.st_mode))
            counts[fs::relative(entry.path(), root).string()] = st.st_nlink;
    }
    return counts;
}

class Chain : public Incremental, public ::testing::WithParamInterface<Reach> {
protected:
    void SetUp() override
    {
        Incremental::SetUp();
        writeFile(data_ / "tree/olddir/inner.txt", "inner\n");
        writeFile(data_ / "tree/olddir/deeper/x.txt", "x\n");
        writeFile(data_ / "tree/hard1", "linked\n");
        fs::create_hard_link(data_ / "tree/hard1", data_ / "tree/hard2");
        out_ = dir_ / "out";
        fs::create_directories(out_);
        source_ = data_;
        if (GetParam() == Reach::ReadOnlyMount) {
            const fs::path view = dir_ / "view";
            if (const std::string why = mountReadOnly(view); !why.empty())
                GTEST_SKIP() << why;
            source_ = view;
        } else if (GetParam() == Reach::Unprivileged) {
            if (geteuid() != 0 || system("command -v setpriv >/dev/null") != 0)
                GTEST_SKIP() << "needs root and setpriv";
            if (const std::string why = kxsms_test::runKxsmsForOtherUsers(dir_); !why.empty())
                GTEST_SKIP() << why;
            const fs::path home = dir_ / "home";
            fs::create_directories(home);
            fs::permissions(dir_, fs::perms(0755));
            prefix_ = "XDG_STATE_HOME=" + quote(home.string()) + " KXLIB_LOG=/dev/null " +
                      "setpriv --reuid=65534 --regid=65534 --clear-groups ";
            for (const fs::path &path : {home, out_, data_})
                own(path);
            lchown(dir_.c_str(), 65534, 65534); // the archives are written there
        }
        // A directory its owner cannot write: a restore fills it all the same.
        writeFile(data_ / "tree/sealed/s.txt", "sealed\n");
        own(data_ / "tree/sealed");
        fs::permissions(data_ / "tree/sealed", fs::perms(0555));
        backUpWith(source_);
    }

    // The TSA's one resource is root; in the unprivileged run the store is the user's own.
    void backUpWith(const fs::path &root)
    {
        useConfig(root, GetParam() == Reach::Unprivileged
                            ? ""
                            : "archive_state = \"" + (dir_ / "state/archive.sqlite").string() + "\"\n");
        fs::permissions(dir_ / "smsemu.toml", fs::perms(0644));
    }

    // Everything below path belongs to the unprivileged user (when there is
    // one). A chown moves the change time even when the owner stays.
    void own(const fs::path &path)
    {
        if (GetParam() != Reach::Unprivileged)
            return;
        lchown(path.c_str(), 65534, 65534);
        if (fs::is_directory(path) && !fs::is_symlink(path))
            for (const auto &entry : fs::recursive_directory_iterator(path))
                lchown(entry.path().c_str(), 65534, 65534);
    }

    // A backup of /tree; the source's change times must not move.
    void backUp(const std::string &archive, bool incremental)
    {
        const auto before = changeTimes(data_);
        std::vector<std::string> arguments{"backup", "/tree", "--clear-archive", "-f", archive};
        if (incremental)
            arguments.push_back("--incremental");
        const Result r = kxsms(arguments, prefix_);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(changeTimes(data_), before) << "a backup changed a source file";
    }

    Result restore(const std::vector<std::string> &archives, const std::vector<std::string> &more = {})
    {
        backUpWith(out_);
        std::vector<std::string> arguments{"restore"};
        for (const std::string &archive : archives) {
            arguments.push_back("-f");
            arguments.push_back(archive);
        }
        arguments.insert(arguments.end(), more.begin(), more.end());
        const Result r = kxsms(arguments, prefix_);
        backUpWith(source_);
        return r;
    }

    fs::path out_;
    fs::path source_;
    std::string prefix_;
};

TEST_P(Chain, RestoresTheTreeAsItWasAtTheNewestBackup)
{
    backUp("full.kxa", false);
    // Create, modify, chmod, rename a file and a directory, delete.
    change();
    fs::rename(data_ / "tree/olddir", data_ / "tree/renamed-dir");
    own(data_ / "tree/new.txt");
    backUp("inc1.kxa", true);
    EXPECT_EQ(savedNames("inc1.kxa"),
              (std::set<std::string>{"/tree/new.txt", "/tree/b.txt", "/tree/sub/c.txt", "/tree/sub/new-name.txt",
                                     "/tree/renamed-dir/inner.txt", "/tree/renamed-dir/deeper/x.txt"}))
        << "the files below a renamed directory are saved under their new names";

    // More changes: a file written again, a file and a link deleted, a new
    // directory, a directory's mode, a link pointed elsewhere.
    writeFile(data_ / "tree/a.txt", "alpha, again\n");
    fs::remove(data_ / "tree/sub/d.txt");
    fs::remove(data_ / "tree/hard2");
    writeFile(data_ / "tree/fresh/f.txt", "fresh\n");
    fs::remove(data_ / "tree/link");
    fs::create_symlink("new.txt", data_ / "tree/link");
    for (const char *made : {"tree/fresh", "tree/link"})
        own(data_ / made);
    fs::permissions(data_ / "tree/sub", fs::perms(0750));
    backUp("inc2.kxa", true);
    EXPECT_EQ(savedNames("inc2.kxa"),
              (std::set<std::string>{"/tree/a.txt", "/tree/fresh/f.txt", "/tree/link", "/tree/hard1"}));

    // A dry run names the archive each data set would come from.
    const Result preview = restore({"full.kxa", "inc1.kxa", "inc2.kxa"}, {"--to", "/r", "-n"});
    EXPECT_EQ(preview.status, 0) << preview.err;
    for (const char *line : {"restore /r/tree/a.txt (from inc2.kxa)", "restore /r/tree/sub/c.txt (from inc1.kxa)",
                             "restore /r/tree/gone.txt"})
        EXPECT_EQ(preview.out.find(line) != std::string::npos, std::string(line).find("gone") == std::string::npos)
            << line << "\n"
            << preview.out;
    EXPECT_FALSE(fs::exists(out_ / "r"));

    const Result r = restore({"full.kxa", "inc1.kxa", "inc2.kxa"}, {"--to", "/r"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kxsms_test::describeTree(out_ / "r/tree"), kxsms_test::describeTree(data_ / "tree"));
    EXPECT_EQ(linkCounts(out_ / "r/tree"), linkCounts(data_ / "tree"));
    EXPECT_EQ(r.err.find("removed"), std::string::npos) << "an empty target has nothing to remove: " << r.err;
}

// Names of one inode the incremental backup only lists: it reads each
// one's stream header, saves none, and so sees every name as a file, where
// the full backup saved the names after the first as hard links. The
// restore of the chain takes those links all the same: one in the same
// directory as its first name, one in another.
TEST_P(Chain, HardLinksOnlyListedComeBackLinkedFromTheFullBackup)
{
    writeFile(data_ / "tree/deep/er/hard3", "linked across\n");
    fs::create_hard_link(data_ / "tree/deep/er/hard3", data_ / "tree/hard4");
    own(data_ / "tree/deep");
    own(data_ / "tree/hard4");
    backUp("full.kxa", false);
    change();
    own(data_ / "tree/new.txt");
    backUp("inc.kxa", true);
    EXPECT_EQ(savedNames("inc.kxa"), changed_) << "the hard links are unchanged";

    const Result r = restore({"full.kxa", "inc.kxa"}, {"--to", "/r"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("the chain lacks"), std::string::npos) << r.err;
    EXPECT_EQ(kxsms_test::describeTree(out_ / "r/tree"), kxsms_test::describeTree(data_ / "tree"));
    EXPECT_EQ(linkCounts(out_ / "r/tree"), linkCounts(data_ / "tree"));
    EXPECT_EQ(fs::equivalent(out_ / "r/tree/hard1", out_ / "r/tree/hard2"), true);
    EXPECT_EQ(fs::equivalent(out_ / "r/tree/deep/er/hard3", out_ / "r/tree/hard4"), true);
}

INSTANTIATE_TEST_SUITE_P(Reaches, Chain, ::testing::Values(Reach::Plain, Reach::ReadOnlyMount, Reach::Unprivileged),
                         [](const ::testing::TestParamInfo<Reach> &tested) {
                             switch (tested.param) {
                             case Reach::ReadOnlyMount:
                                 return std::string("ReadOnlyMount");
                             case Reach::Unprivileged:
                                 return std::string("Unprivileged");
                             default:
                                 return std::string("Plain");
                             }
                         });

class ChainInPlace : public Incremental {
protected:
    // full, changes, inc1, more changes, inc2 (made with prefix before
    // kxsms); returns what the tree held then.
    std::map<std::string, std::string> makeChain(const std::string &inc2Prefix = "", int inc2Status = 0)
    {
        EXPECT_EQ(kxsms({"backup", "/tree", "--clear-archive", "-f", "full.kxa"}).status, 0);
        change();
        EXPECT_EQ(kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "inc1.kxa"}).status, 0);
        writeFile(data_ / "tree/a.txt", "alpha, again\n");
        fs::remove_all(data_ / "tree/sub");
        // A fault counted across connections ("the N-th call") falls on a
        // known data set only with one object.
        std::vector<std::string> inc2{"backup", "/tree", "--incremental", "--clear-archive", "-f", "inc2.kxa"};
        if (!inc2Prefix.empty())
            inc2.insert(inc2.end(), {"-j", "1"});
        const Result r = kxsms(inc2, inc2Prefix);
        EXPECT_EQ(r.status, inc2Status) << r.err;
        return kxsms_test::describeTree(data_ / "tree");
    }
    // A full backup, a change to a.txt, and a clearing run into lost.kxa
    // that kxsms's state does not see (another state folder).
    void clearUnrecorded()
    {
        EXPECT_EQ(kxsms({"backup", "/tree", "--clear-archive", "-f", "full.kxa"}).status, 0);
        writeFile(data_ / "tree/a.txt", "new");
        EXPECT_EQ(kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "lost.kxa"},
                        "XDG_STATE_HOME=" + quote((dir_ / "other-state").string()) + " ")
                      .status,
                  0);
    }
    // What was deleted since the full backup comes back with an old time,
    // and the tree is edited after the last backup.
    void undoDeletions()
    {
        for (const char *name : {"tree/gone.txt", "tree/old-name.txt", "tree/sub/c.txt", "tree/sub/d.txt"}) {
            writeFile(data_ / name, "as before\n");
            kxsms_test::setFileTime(data_ / name, 1600000000);
        }
        kxsms_test::setFileTime(data_ / "tree/sub", 1600000000);
        writeFile(data_ / "tree/made-later.txt", "live\n");
    }
};

// What was deleted before the newest backup and put back since with its old
// modification time (cp -p, tar) has a new change time: it is live data, and
// a removal of the chain keeps it. --overwrite always removes it.
TEST_F(ChainInPlace, RemovesWhatTheNewestArchiveNoLongerListsAndKeepsWhatIsNewer)
{
    const auto atNewest = makeChain();
    undoDeletions();
    // A file deleted before the last backup and made again since is live data.
    writeFile(data_ / "tree/sub/new-name.txt", "made again after the backup\n");
    const std::vector<std::string> chain{"-f", "full.kxa", "-f", "inc1.kxa", "-f", "inc2.kxa", "--in-place"};
    auto restore = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), "restore");
        extra.insert(extra.end(), chain.begin(), chain.end());
        return kxsms(extra);
    };

    const Result preview = restore({"-n"});
    EXPECT_EQ(preview.status, 0) << preview.err;
    for (const char *name : {"gone.txt", "sub/c.txt", "sub/d.txt", "sub/new-name.txt"})
        EXPECT_NE(preview.out.find(std::string("keep /tree/") + name +
                                   ": not in inc2.kxa, but it was changed after that backup started"),
                  std::string::npos)
            << name << "\n"
            << preview.out;
    EXPECT_TRUE(fs::exists(data_ / "tree/gone.txt")) << "a dry run changes nothing";

    Result r = restore({});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char *name : {"tree/gone.txt", "tree/old-name.txt", "tree/sub/c.txt", "tree/sub/d.txt"}) {
        EXPECT_EQ(readFile(data_ / name), "as before\n") << name;
        EXPECT_NE(r.err.find(std::string("kept /") + name + ": not in inc2.kxa, but it was changed after"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_EQ(readFile(data_ / "tree/made-later.txt"), "live\n") << "what no archive knows is left alone";
    EXPECT_EQ(readFile(data_ / "tree/sub/new-name.txt"), "made again after the backup\n");
    EXPECT_TRUE(fs::is_directory(data_ / "tree/sub")) << "a parent that still holds live data stays";
    EXPECT_NE(r.err.find("kept /tree/sub: not in inc2.kxa, but "), std::string::npos) << r.err;

    r = restore({"--overwrite", "always"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char *name : {"tree/gone.txt", "tree/old-name.txt", "tree/sub/c.txt", "tree/sub/d.txt"}) {
        EXPECT_FALSE(fs::exists(data_ / name)) << name;
        EXPECT_NE(r.err.find(std::string("removed /") + name + ": not in inc2.kxa"), std::string::npos) << r.err;
    }
    EXPECT_EQ(readFile(data_ / "tree/made-later.txt"), "live\n");
}

TEST_F(ChainInPlace, OverwriteAlwaysRemovesEverythingGoneAndNeverRemovesNothing)
{
    const auto atNewest = makeChain();
    undoDeletions();
    Result r =
        kxsms({"restore", "-f", "full.kxa", "-f", "inc1.kxa", "-f", "inc2.kxa", "--in-place", "--overwrite", "never"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(data_ / "tree/gone.txt"));
    EXPECT_NE(r.err.find("kept /tree/gone.txt: not in inc2.kxa, but --overwrite never keeps what exists"),
              std::string::npos)
        << r.err;
    fs::remove(data_ / "tree/made-later.txt");
    r = kxsms({"restore", "-f", "full.kxa", "-f", "inc1.kxa", "-f", "inc2.kxa", "--in-place", "--overwrite", "always"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kxsms_test::describeTree(data_ / "tree"), atNewest);
}

TEST_F(ChainInPlace, ADamagedNewestArchiveRemovesNothing)
{
    makeChain();
    undoDeletions();
    const std::string whole = readFile(dir_ / "inc2.kxa");
    writeFile(dir_ / "inc2.kxa", whole.substr(0, whole.size() - 20));
    const Result r =
        kxsms({"restore", "-f", "full.kxa", "-f", "inc1.kxa", "-f", "inc2.kxa", "--in-place", "--overwrite", "always"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("inc2.kxa does not: it is damaged or incomplete"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(data_ / "tree/gone.txt"));
}

TEST_F(ChainInPlace, ArchivesThatAreNotOneChainAreRefused)
{
    makeChain();
    EXPECT_EQ(kxsms({"backup", "/tree/a.txt", "-f", "other.kxa"}).status, 0);
    struct Case {
        std::vector<std::string> archives;
        const char *message;
    };
    for (const Case &c : {Case{{"inc1.kxa", "full.kxa"}, "full.kxa was started before inc1.kxa"},
                          Case{{"full.kxa", "other.kxa"}, "other.kxa backs up /tree/a.txt, full.kxa backs up /tree"},
                          Case{{"inc1.kxa", "inc1.kxa"}, "are the same archive"}}) {
        std::vector<std::string> arguments{"restore", "--to", "/r"};
        for (const std::string &archive : c.archives)
            arguments.insert(arguments.end(), {"-f", archive});
        const Result r = kxsms(arguments);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(data_ / "r")) << "nothing is restored";
    }
}

// The newest backup could not open a.txt (the only file it had to save: the
// third open after the path's probe and /tree): the chain takes the copy
// before it, and says so.
TEST_F(ChainInPlace, WhatTheNewestBackupCouldNotSaveComesFromAnEarlierArchive)
{
    makeChain("SMSEMU_FAULTS=NWSMTSOpenDataSetForBackup@3=0xFFFDFFF5 ", 1);
    const Result listed = kxsms({"list", "-f", "inc2.kxa"});
    EXPECT_NE(listed.out.find("/tree/a.txt  [not saved]"), std::string::npos) << listed.out;
    const Result r = kxsms({"restore", "-f", "full.kxa", "-f", "inc1.kxa", "-f", "inc2.kxa", "--to", "/r"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("restoring the copy of /tree/a.txt in full.kxa: inc2.kxa could not save it"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(readFile(data_ / "r/tree/a.txt"), "alpha\n");
}

TEST_F(ChainInPlace, AnIncrementalArchiveAloneNamesWhatItDoesNotHold)
{
    makeChain();
    const Result r = kxsms({"restore", "-f", "inc2.kxa", "--to", "/r"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("not restoring /tree/b.txt: inc2.kxa lists it as unchanged"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(data_ / "r/tree/a.txt"), "alpha, again\n");
    const Result listed = kxsms({"list", "-f", "inc2.kxa"});
    EXPECT_NE(listed.out.find("/tree/b.txt  [unchanged]"), std::string::npos) << listed.out;

    // Restored one after the other, each archive alone: what an incremental
    // lists as unchanged is there already, and is no failure.
    fs::remove_all(data_ / "r");
    for (const char *archive : {"full.kxa", "inc1.kxa", "inc2.kxa"}) {
        const Result one = kxsms({"restore", "-f", archive, "--to", "/r"});
        EXPECT_EQ(one.status, 0) << archive << ": " << one.err;
    }
    EXPECT_EQ(readFile(data_ / "r/tree/b.txt"), "beta, longer\n");
}

// A restore into a read-only file system: one line per data set, in the
// system's words, and no second line from the TSA.
TEST_F(Incremental, ARestoreToAReadOnlyFileSystemSaysSoOncePerDataSet)
{
    if (const std::string why = mountReadOnly(data_ / "ro"); !why.empty())
        GTEST_SKIP() << why;
    EXPECT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    const Result r = kxsms({"restore", "-f", "a.kxa", "--to", "/ro/r"});
    EXPECT_EQ(r.status, 1) << r.err;
    size_t lines = 0;
    std::istringstream in(r.err);
    for (std::string line; std::getline(in, line);) {
        if (line.find("kxsms: restore: ") == 0)
            continue;
        ++lines;
        EXPECT_EQ(line.find("kxsms: cannot restore /ro/r/tree"), 0u) << line;
        EXPECT_NE(line.find("Read-only file system"), std::string::npos) << line;
    }
    EXPECT_EQ(lines, 9u) << r.err; // /tree, its 4 files and link, sub and its 2 files
    EXPECT_EQ(r.err.find("smsemu:"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Insufficient access rights"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("0 data sets, 9 failed"), std::string::npos) << r.err;
}

// A clearing run into another archive between two backups of a chain (a
// second schedule, a test): the newest archive lists a.txt as unchanged,
// but the copy the chain holds is older. The chain is refused before
// anything is written; with --allow-gaps, a.txt fails and nothing of its old
// data is written, and the rest comes back.
TEST_F(ChainInPlace, AThrowawayClearingRunBetweenIsNamedAndItsDataSetsFail)
{
    EXPECT_EQ(kxsms({"backup", "/tree", "--clear-archive", "-f", "full.kxa"}).status, 0);
    writeFile(data_ / "tree/a.txt", "new");
    fs::create_directories(dir_ / "elsewhere");
    EXPECT_EQ(kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "elsewhere/throwaway.kxa"}).status,
              0);
    writeFile(data_ / "tree/b.txt", "beta, nightly\n");
    Result r = kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "nightly.kxa"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("warning: this backup follows archive "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("elsewhere/throwaway.kxa (another schedule's?)"), std::string::npos) << r.err;

    r = kxsms({"restore", "-f", "full.kxa", "-f", "nightly.kxa", "--to", "/r"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("nightly.kxa follows archive "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(", which is not in the chain"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(data_ / "r")) << "nothing is written";

    const std::string lacks = "/tree/a.txt: the chain lacks the archive that saved the version nightly.kxa lists";
    const Result preview = kxsms({"restore", "-n", "--allow-gaps", "-f", "full.kxa", "-f", "nightly.kxa", "--to", "/r"});
    EXPECT_EQ(preview.status, 1) << preview.err;
    EXPECT_NE(preview.err.find(lacks), std::string::npos) << preview.err;
    EXPECT_EQ(preview.out.find("/r/tree/a.txt"), std::string::npos) << preview.out;

    r = kxsms({"restore", "--allow-gaps", "-f", "full.kxa", "-f", "nightly.kxa", "--to", "/r"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(lacks), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(data_ / "r/tree/a.txt")) << "none of the old data is written";
    EXPECT_EQ(readFile(data_ / "r/tree/b.txt"), "beta, nightly\n");
    EXPECT_EQ(readFile(data_ / "r/tree/sub/d.txt"), std::string(100000, 'd'));

    // The three archives together are one chain.
    r = kxsms({"restore", "-f", "full.kxa", "-f", "elsewhere/throwaway.kxa", "-f", "nightly.kxa", "--to", "/r2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(data_ / "r2/tree/a.txt"), "new");
}

// Without kxsms's state (another state folder for the clearing run between)
// nothing records the gap: the per-entry check alone keeps the old copy out.
TEST_F(ChainInPlace, ACopyOfAnotherVersionIsNeverRestored)
{
    clearUnrecorded();
    fs::permissions(data_ / "tree/sub/c.txt", fs::perms(0600)); // the mode alone
    EXPECT_EQ(kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "inc.kxa"}).status, 0);
    const Result r = kxsms({"restore", "-f", "full.kxa", "-f", "inc.kxa", "--to", "/r"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("/tree/a.txt: the chain lacks the archive that saved the version inc.kxa lists"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(data_ / "r/tree/a.txt"));
    EXPECT_EQ(readFile(data_ / "r/tree/b.txt"), "beta\n") << "unchanged since the full backup";
    struct stat st{};
    ASSERT_EQ(lstat((data_ / "r/tree/sub/c.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "saved again by inc.kxa for its new mode";
}

// A real chain given without its middle archive: refused, then with
// --allow-gaps what the middle one saved fails, the rest comes back.
TEST_F(ChainInPlace, AChainWithoutItsMiddleArchiveIsRefusedOrFailsWhatItLacks)
{
    makeChain();
    Result r = kxsms({"restore", "-f", "full.kxa", "-f", "inc2.kxa", "--to", "/r"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("inc2.kxa follows archive "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--allow-gaps"), std::string::npos) << r.err;
    r = kxsms({"restore", "--allow-gaps", "-f", "full.kxa", "-f", "inc2.kxa", "--to", "/r"});
    EXPECT_EQ(r.status, 1) << r.err;
    // inc1 saved b.txt (new content) and new.txt; inc2 lists both as unchanged.
    EXPECT_NE(r.err.find("/tree/b.txt: the chain lacks the archive that saved the version inc2.kxa lists"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("cannot restore /tree/new.txt: inc2.kxa lists it as unchanged, and no archive before it "
                         "holds its data"),
              std::string::npos)
        << r.err;
    for (const char *name : {"r/tree/b.txt", "r/tree/new.txt"})
        EXPECT_FALSE(fs::exists(data_ / name)) << name;
    EXPECT_EQ(readFile(data_ / "r/tree/a.txt"), "alpha, again\n");
}

// verify given a chain checks each archive and reports, line for line, what
// a restore of that chain (restore -n) finds of the versions its newest
// archive lists.
enum class ChainSetup : uint8_t {
    ThreeArchives,      // full, inc1, inc2 (makeChain)
    UnrecordedClearing, // full, a clearing run kxsms's state does not see, inc
};

struct VerifyCase {
    const char *name;
    ChainSetup setup;
    std::vector<const char *> archives;
    int status;
    std::vector<const char *> reported; // in stderr (or the summary)
    std::vector<const char *> absent;
};

class VerifyChain : public ChainInPlace, public ::testing::WithParamInterface<VerifyCase> {};

// The lines of a chain check in text: what the chain lacks or cannot restore.
std::vector<std::string> chainCheckLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.find("the chain lacks") != std::string::npos && line.find("/tree/") != std::string::npos)
            lines.push_back(line.substr(line.find("/tree/")));
        else if (const size_t at = line.find("cannot restore "); at != std::string::npos)
            lines.push_back(line.substr(at));
    }
    return lines;
}

TEST_P(VerifyChain, ReportsWhatARestoreOfTheChainWouldFind)
{
    const VerifyCase &c = GetParam();
    if (c.setup == ChainSetup::ThreeArchives) {
        makeChain();
    } else {
        clearUnrecorded();
        EXPECT_EQ(kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "inc.kxa"}).status, 0);
    }
    std::vector<std::string> verify{"verify"}, preview{"restore", "-n", "--allow-gaps", "--to", "/r"};
    for (const char *archive : c.archives)
        for (std::vector<std::string> *args : {&verify, &preview}) {
            args->push_back("-f");
            args->push_back(archive);
        }
    const Result v = kxsms(verify);
    EXPECT_EQ(v.status, c.status) << v.err;
    for (const char *text : c.reported)
        EXPECT_NE(v.err.find(text), std::string::npos) << text << "\n" << v.err;
    for (const char *text : c.absent)
        EXPECT_EQ(v.err.find(text), std::string::npos) << text << "\n" << v.err;

    const Result r = kxsms(preview);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(chainCheckLines(v.err), chainCheckLines(r.err)) << "verify:\n" << v.err << "restore -n:\n" << r.err;
    EXPECT_FALSE(fs::exists(data_ / "r"));
}

INSTANTIATE_TEST_SUITE_P(
    Chains, VerifyChain,
    ::testing::Values(
        VerifyCase{"Whole",
                   ChainSetup::ThreeArchives,
                   {"full.kxa", "inc1.kxa", "inc2.kxa"},
                   0,
                   {"the chain is intact and holds every version its newest archive lists"},
                   {"lacks", "cannot restore", "not in the chain"}},
        VerifyCase{"MiddleArchiveMissing",
                   ChainSetup::ThreeArchives,
                   {"full.kxa", "inc2.kxa"},
                   1,
                   {"inc2.kxa follows archive ", ", which is not in the chain",
                    "/tree/b.txt: the chain lacks the archive that saved the version inc2.kxa lists",
                    "cannot restore /tree/new.txt: inc2.kxa lists it as unchanged, and no archive before it holds "
                    "its data",
                    "the chain is damaged or incomplete"},
                   {"/tree/a.txt"}},
        VerifyCase{"OutOfOrder",
                   ChainSetup::ThreeArchives,
                   {"inc1.kxa", "full.kxa", "inc2.kxa"},
                   2,
                   {"full.kxa was started before inc1.kxa: the archives are not one chain"},
                   {"lacks", "intact"}},
        VerifyCase{"SameArchiveTwice",
                   ChainSetup::ThreeArchives,
                   {"full.kxa", "full.kxa"},
                   2,
                   {"full.kxa and full.kxa are the same archive"},
                   {"intact"}},
        VerifyCase{"ListedVersionDiffers",
                   ChainSetup::UnrecordedClearing,
                   {"full.kxa", "inc.kxa"},
                   1,
                   {"/tree/a.txt: the chain lacks the archive that saved the version inc.kxa lists"},
                   {"not in the chain", "/tree/b.txt"}}),
    [](const ::testing::TestParamInfo<VerifyCase> &row) { return std::string(row.param.name); });

struct FailedClear {
    const char *name;
    const char *keys;   // the TSA's archive keys (%s: the test folder)
    const char *faults; // SMSEMU_FAULTS
    const char *report; // what stderr must hold besides the warning
};

class ClearingFails : public Incremental, public ::testing::WithParamInterface<FailedClear> {};

TEST_P(ClearingFails, IsReportedAndExitsOne)
{
    const FailedClear &c = GetParam();
    std::string keys = c.keys;
    if (auto at = keys.find("%s"); at != std::string::npos)
        keys.replace(at, 2, dir_.string());
    writeFile(dir_ / "blocker", "a file where the store's folder would be");
    useConfig(data_, keys);
    const std::string prefix = std::string(c.faults).empty() ? "" : "SMSEMU_FAULTS=" + quote(c.faults) + " ";
    Result r = kxsms({"backup", "/tree", "--incremental", "--clear-archive", "-f", "1.kxa"}, prefix);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("warning: the archive flags could not be cleared"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the next incremental backup will save those data sets again"), std::string::npos);
    EXPECT_NE(r.err.find(c.report), std::string::npos) << r.err;
    EXPECT_EQ(savedNames("1.kxa").size(), 7u) << "the data itself was saved";
    r = kxsms({"backup", "/tree", "--incremental", "-f", "2.kxa"}, prefix);
    EXPECT_EQ(r.status, 0) << "without --clear-archive nothing is checked: " << r.err;
    EXPECT_EQ(savedNames("2.kxa").size(), 7u);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ClearingFails,
    ::testing::Values(FailedClear{"StoreCannotBeMade", "archive_state = \"%s/blocker/archive.sqlite\"\n", "",
                                  "blocker/archive.sqlite"},
                      FailedClear{"TsaRefuses", "archive_state = \"%s/state/archive.sqlite\"\n",
                                  "NWSMTSSetArchiveStatus@*=0xFFFDFFB6", "still reads as changed"}),
    [](const ::testing::TestParamInfo<FailedClear> &tested) { return std::string(tested.param.name); });

} // namespace
