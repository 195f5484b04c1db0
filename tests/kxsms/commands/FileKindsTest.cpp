// kxsms end to end on every kind of file a Linux tree holds: hard links,
// FIFOs, devices, sockets, extended attributes and ACLs, and files that
// change while they are read. The program itself, through the module,
// against the file-system TSA of the SMS stand-in over a temporary tree.
#include <gtest/gtest.h>

#include "commands/KxsmsProgram.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using kxsms_test::quote;
using kxsms_test::readFile;
using kxsms_test::removeTree;
using kxsms_test::Result;
using kxsms_test::writeFile;

std::map<std::string, std::string> attributesOf(const fs::path &path)
{
    std::map<std::string, std::string> attributes;
    char names[4096];
    ssize_t length = llistxattr(path.c_str(), names, sizeof names);
    for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        char value[4096];
        ssize_t got = lgetxattr(path.c_str(), names + at, value, sizeof value);
        if (got >= 0)
            attributes[names + at] = std::string(value, static_cast<std::size_t>(got));
    }
    return attributes;
}

// Everything tar would compare of an entry: kind, mode, owner, times,
// content or target, device numbers, attributes, and which inode (by the
// first relative name found for it).
std::map<std::string, std::string> describeTree(const fs::path &root)
{
    std::map<std::string, std::string> entries;
    std::map<std::pair<dev_t, ino_t>, std::string> inodes;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        lstat(entry.path().c_str(), &st);
        const std::string name = fs::relative(entry.path(), root).string();
        std::ostringstream what;
        what << std::oct << (st.st_mode & 07777) << std::dec << " " << st.st_uid << ":" << st.st_gid << " ";
        if (S_ISLNK(st.st_mode)) {
            what << "link " << fs::read_symlink(entry.path()).string();
        } else if (S_ISDIR(st.st_mode)) {
            what << "dir " << st.st_mtime;
        } else if (S_ISFIFO(st.st_mode)) {
            what << "fifo " << st.st_mtime;
        } else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
            what << (S_ISCHR(st.st_mode) ? "chr " : "blk ") << major(st.st_rdev) << "," << minor(st.st_rdev) << " "
                 << st.st_mtime;
        } else if (S_ISREG(st.st_mode)) {
            auto [at, first] = inodes.try_emplace({st.st_dev, st.st_ino}, name);
            what << "file " << st.st_mtime << " inode of " << at->second << " " << readFile(entry.path()).size() << " "
                 << std::hash<std::string>()(readFile(entry.path()));
        } else {
            what << "other";
        }
        for (const auto &[key, value] : attributesOf(entry.path()))
            if (key != "user.kxsms.archive")
                what << " " << key << "=" << std::hash<std::string>()(value);
        entries[name] = what.str();
    }
    return entries;
}

// A time as kxsms shows it: local, to the second.
std::string localTime(time_t when)
{
    struct tm fields {};
    localtime_r(&when, &fields);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields);
    return text;
}

class FileKinds : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = kxsms_test::makeScratch("kxsms-kinds");
        data_ = dir_ / "data";
        fs::create_directories(data_ / "tree");
        // The archive flags go to a store of the test's own, never the machine's.
        writeFile(dir_ / "smsemu.toml", "[[tsa]]\ntype = \"Linux File System\"\narchive_state = \"" +
                                            (dir_ / "state/archive.sqlite").string() +
                                            "\"\n\n  [[tsa.resource]]\n  name = \"/\"\n"
                                            "  path = \"" +
                                            data_.string() + "\"\n");
        setenv("SMSEMU_CONFIG", (dir_ / "smsemu.toml").c_str(), 1);
        setenv("KXSMS_PASSWORD", "", 1);
        setenv("KXLIB_LOG", (dir_ / "kxlib.log").c_str(), 1);
        unsetenv("SMSEMU_FAULTS");
        unsetenv("KXSMS_LIBRARY");
    }
    void TearDown() override
    {
        unsetenv("SMSEMU_FAULTS");
        removeTree(dir_);
    }

    static void setTime(const fs::path &path, time_t when) { kxsms_test::setFileTime(path, when); }

    Result sh(const std::string &commandLine) { return kxsms_test::runShell(dir_, commandLine); }
    Result kxsms(const std::vector<std::string> &arguments) { return sh(kxsms_test::kxsmsLine(arguments)); }

    // Three names of one 1 MiB inode, in two directories.
    void makeHardLinks()
    {
        std::string big(1 << 20, '\0');
        for (std::size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<char>('a' + (i * 13 + i / 4096) % 26);
        writeFile(data_ / "tree/links/one", big);
        fs::create_directories(data_ / "tree/other");
        fs::create_hard_link(data_ / "tree/links/one", data_ / "tree/links/two");
        fs::create_hard_link(data_ / "tree/links/one", data_ / "tree/other/three");
        setTime(data_ / "tree/links/one", 1600000000);
    }

    fs::path dir_;
    fs::path data_;
};

// ---- hard links -------------------------------------------------------------

TEST_F(FileKinds, HardLinksAreSavedOnceAndRestoredAsOneInode)
{
    makeHardLinks();
    const Result backup = kxsms({"backup", "/tree", "-f", "a.kxa"});
    ASSERT_EQ(backup.status, 0) << context(backup);
    EXPECT_LT(fs::file_size(dir_ / "a.kxa"), (1u << 20) + (1u << 16)) << "one copy of the data";

    for (const std::string to : {"/restored", "/again/deeper"}) {
        const Result restore = kxsms({"restore", "-f", "a.kxa", "--to", to});
        ASSERT_EQ(restore.status, 0) << context(restore);
        const fs::path back = data_ / to.substr(1) / "tree";
        struct stat one {
        }, two{}, three{};
        ASSERT_EQ(stat((back / "links/one").c_str(), &one), 0);
        ASSERT_EQ(stat((back / "links/two").c_str(), &two), 0);
        ASSERT_EQ(stat((back / "other/three").c_str(), &three), 0);
        EXPECT_EQ(one.st_ino, two.st_ino);
        EXPECT_EQ(one.st_ino, three.st_ino);
        EXPECT_EQ(one.st_nlink, 3u) << "linked to the copy restored, never to the original";
        EXPECT_EQ(describeTree(back), describeTree(data_ / "tree"));
    }
}

TEST_F(FileKinds, HardLinksRestoreInPlaceToTheFirstNameStillThere)
{
    makeHardLinks();
    // One scan: links/one, the first name met, holds the data.
    ASSERT_EQ(kxsms({"backup", "-j", "1", "/tree", "-f", "a.kxa"}).status, 0);
    fs::remove(data_ / "tree/links/two");
    fs::remove(data_ / "tree/other/three");
    const Result restore = kxsms({"restore", "-f", "a.kxa", "--in-place", "--overwrite", "never"});
    ASSERT_EQ(restore.status, 0) << context(restore);
    struct stat one {
    }, three{};
    ASSERT_EQ(stat((data_ / "tree/links/one").c_str(), &one), 0);
    ASSERT_EQ(stat((data_ / "tree/other/three").c_str(), &three), 0);
    EXPECT_EQ(one.st_ino, three.st_ino);
    EXPECT_EQ(one.st_nlink, 3u);
}

// The first name cannot be restored (its open for restore fails): its links
// fail too, each with a message that names the name they link to.
TEST_F(FileKinds, HardLinkWithoutItsFirstNameFailsNamingIt)
{
    makeHardLinks();
    ASSERT_EQ(kxsms({"backup", "-j", "1", "/tree", "-f", "a.kxa"}).status, 0);
    // Restore order: /tree, /tree/links, /tree/links/one (the 3rd open), ...
    // with one module object, each way; several would open in another order.
    setenv("SMSEMU_FAULTS", "NWSMTSOpenDataSetForRestore@3=0xFFFDFFF2", 1);
    const Result restore = kxsms({"restore", "-j", "1", "-f", "a.kxa", "--to", "/r"});
    unsetenv("SMSEMU_FAULTS");
    EXPECT_EQ(restore.status, 1) << context(restore);
    EXPECT_NE(restore.err.find("/r/tree/links/two"), std::string::npos) << restore.err;
    EXPECT_NE(restore.err.find("/r/tree/other/three"), std::string::npos) << restore.err;
    EXPECT_NE(restore.err.find("not linked to /r/tree/links/one"), std::string::npos) << restore.err;
    EXPECT_FALSE(fs::exists(data_ / "r/tree/links/two"));
}

// ---- FIFOs, devices, sockets ---------------------------------------------------

TEST_F(FileKinds, FifosAndDevicesRoundTripAndSocketsAreIgnored)
{
    ASSERT_EQ(mkfifo((data_ / "tree/pipe").c_str(), 0640), 0);
    setTime(data_ / "tree/pipe", 1500000000);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(mknod((data_ / "tree/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        ASSERT_EQ(mknod((data_ / "tree/disk").c_str(), S_IFBLK | 0600, makedev(7, 200)), 0);
    }
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (data_ / "tree/sock").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    writeFile(data_ / "tree/file", "data\n");

    const Result backup = kxsms({"backup", "/tree", "-f", "a.kxa"});
    close(sock);
    ASSERT_EQ(backup.status, 0) << context(backup);
    EXPECT_NE(backup.err.find("/tree/sock: ignored"), std::string::npos) << backup.err;
    EXPECT_EQ(backup.err.find("/tree/pipe"), std::string::npos) << "a FIFO is saved without a word";

    fs::remove(socketPath);
    const Result restore = kxsms({"restore", "-f", "a.kxa", "--to", "/restored"});
    ASSERT_EQ(restore.status, 0) << context(restore);
    EXPECT_EQ(describeTree(data_ / "restored/tree"), describeTree(data_ / "tree"));
    EXPECT_TRUE(fs::is_fifo(data_ / "restored/tree/pipe"));
    if (!root)
        GTEST_SKIP() << "devices are made by root only";
    EXPECT_TRUE(fs::is_character_file(data_ / "restored/tree/null"));
}

// list shows each kind as a long tar listing does, from the stream: mode,
// owner, size, time to the second (--full-time: the nanoseconds) and link
// targets; --json carries the same fields. An incremental's unchanged
// members show what the archive recorded of them.
TEST_F(FileKinds, ListShowsEveryKindWithModeOwnerTimeAndTarget)
{
    makeHardLinks();
    writeFile(data_ / "tree/file", "data\n");
    fs::permissions(data_ / "tree/file", fs::perms(04751));
    fs::create_symlink("file", data_ / "tree/link");
    ASSERT_EQ(mkfifo((data_ / "tree/pipe").c_str(), 0640), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(mknod((data_ / "tree/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    }
    const timespec times[2] = {{1600000000, 123456789}, {1600000000, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, (data_ / "tree/file").c_str(), times, 0), 0);
    ASSERT_EQ(kxsms({"backup", "/tree", "--clear-archive", "-f", "a.kxa"}).status, 0);

    const std::string user = getpwuid(geteuid())->pw_name, group = getgrgid(getegid())->gr_name;
    const std::string owner = user + "/" + group;
    const Result listed = kxsms({"list", "-f", "a.kxa"});
    ASSERT_EQ(listed.status, 0) << context(listed);
    const std::string when = localTime(1600000000);
    std::vector<std::string> lines = {
        "-rwsr-x--x " + owner, "5 " + when + " /tree/file\n", "drwx", " /tree/links\n",
        "lrwxrwxrwx " + owner, " /tree/link -> file\n", "prw-r----- " + owner, "0 ", " /tree/pipe\n",
        "hrw-r--r-- " + owner, " /tree/links/two link to /tree/links/one\n"};
    if (root)
        lines.insert(lines.end(), {"crw-", "      1,3 "});
    for (const std::string &line : lines)
        EXPECT_NE(listed.out.find(line), std::string::npos) << line << "\n" << listed.out;
    const Result full = kxsms({"list", "-f", "a.kxa", "--full-time", "/tree/file"});
    EXPECT_NE(full.out.find(when + ".123456789 /tree/file"), std::string::npos) << full.out;

    const Result json = kxsms({"list", "-f", "a.kxa", "--json"});
    ASSERT_EQ(json.status, 0) << context(json);
    std::map<std::string, nlohmann::json> members;
    for (const nlohmann::json &member : nlohmann::json::parse(json.out))
        members[member["name"].get<std::string>()] = member;
    const nlohmann::json &file = members["/tree/file"];
    EXPECT_EQ(file["kind"], "-");
    EXPECT_EQ(file["mode"], 04751);
    EXPECT_EQ(file["uid"], geteuid());
    EXPECT_EQ(file["gid"], getegid());
    EXPECT_EQ(file["user"], user);
    EXPECT_EQ(file["group"], group);
    EXPECT_EQ(file["mtime_ns"], 1600000000123456789LL);
    EXPECT_EQ(members["/tree/link"]["kind"], "l");
    EXPECT_EQ(members["/tree/link"]["target"], "file");
    EXPECT_EQ(members["/tree/links/two"]["kind"], "h");
    EXPECT_EQ(members["/tree/links/two"]["link"], "/tree/links/one");
    EXPECT_EQ(members["/tree/pipe"]["kind"], "p");
    EXPECT_EQ(members["/tree/links"]["kind"], "d");

    ASSERT_EQ(kxsms({"backup", "/tree", "--incremental", "-f", "inc.kxa"}).status, 0);
    const Result unchanged = kxsms({"list", "-f", "inc.kxa", "--full-time", "/tree/file"});
    EXPECT_NE(unchanged.out.find("-rwsr-x--x "), std::string::npos) << unchanged.out;
    EXPECT_NE(unchanged.out.find(when + ".123456789 /tree/file  [unchanged]"), std::string::npos) << unchanged.out;

    // info gives the exact times where the TSA's stream has them.
    const Result info = kxsms({"info", "/tree/file"});
    EXPECT_NE(info.out.find("modified: " + when + ".123456789\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("mode:     -rwsr-x--x\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("changed:  "), std::string::npos) << info.out;
    const Result infoJson = kxsms({"info", "/tree/link", "--json"});
    const nlohmann::json link = nlohmann::json::parse(infoJson.out);
    EXPECT_EQ(link["target"], "file");
    EXPECT_TRUE(link.contains("ctime_ns"));

    // ls --full-time shows the same exact times, modes and owners, from the
    // TSA, for one level, a subtree and one data set; -l keeps the scan's
    // time to the second.
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> lines;
    } listings[] = {
        {{"ls", "--full-time", "/tree"},
         {"-rwsr-x--x " + owner, "5 " + when + ".123456789 /tree/file\n", " /tree/link -> file\n",
          "prw-r----- " + owner, "drwx"}},
        {{"ls", "-rl", "--full-time", "/tree"},
         {" /tree\n", "5 " + when + ".123456789 /tree/file\n", "/tree/links/two\n"}},
        {{"ls", "--full-time", "/tree/file"}, {"-rwsr-x--x " + owner, "5 " + when + ".123456789 /tree/file\n"}},
        {{"ls", "-l", "/tree"}, {"- ", " /tree/file\n"}},
    };
    for (const auto &listing : listings) {
        const Result ls = kxsms(listing.args);
        EXPECT_EQ(ls.status, 0) << context(ls);
        for (const std::string &line : listing.lines)
            EXPECT_NE(ls.out.find(line), std::string::npos) << line << "\n" << ls.out;
        EXPECT_EQ(ls.out.find(".123456789") != std::string::npos, listing.args[1] != "-l") << ls.out;
    }
    std::map<std::string, nlohmann::json> entries;
    for (const nlohmann::json &entry : nlohmann::json::parse(kxsms({"ls", "--json", "--full-time", "/tree"}).out))
        entries[entry["name"].get<std::string>()] = entry;
    EXPECT_EQ(entries["/tree/file"]["mtime_ns"], 1600000000123456789LL);
    EXPECT_EQ(entries["/tree/file"]["mode"], 04751);
    EXPECT_EQ(entries["/tree/file"]["user"], user);
    EXPECT_TRUE(entries["/tree/file"].contains("ctime_ns"));
    EXPECT_EQ(entries["/tree/link"]["target"], "file");
    EXPECT_EQ(entries["/tree/pipe"]["kind"], "p");
    EXPECT_FALSE(nlohmann::json::parse(kxsms({"ls", "--json", "/tree"}).out)[0].contains("mtime_ns"))
        << "the plain JSON listing opens no data set";
}

// An unprivileged restore cannot make devices: each fails with the cause,
// everything else is restored.
TEST_F(FileKinds, DevicesThatCannotBeMadeFailAlone)
{
    if (geteuid() != 0 || system("command -v setpriv >/dev/null") != 0)
        GTEST_SKIP() << "needs root to make the device and setpriv to drop it";
    if (const std::string why = kxsms_test::runKxsmsForOtherUsers(dir_); !why.empty())
        GTEST_SKIP() << why;
    ASSERT_EQ(mknod((data_ / "tree/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    writeFile(data_ / "tree/file", "data\n");
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    fs::create_directories(data_ / "r");
    ASSERT_EQ(chown((data_ / "r").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
    ASSERT_EQ(chmod((dir_ / "a.kxa").c_str(), 0644), 0);
    const Result restore = sh("setpriv --reuid=65534 --regid=65534 --clear-groups \"$KXSMS\" -u nobody restore "
                              "-f a.kxa --to /r --no-xattrs 2>&1");
    if (restore.out.find("Login denied") != std::string::npos || restore.out.find("login") != std::string::npos)
        GTEST_SKIP() << "the scratch user cannot log in here: " << restore.out;
    EXPECT_EQ(restore.status, 1) << context(restore);
    EXPECT_NE(restore.out.find("/r/tree/null"), std::string::npos) << restore.out;
    EXPECT_NE(restore.out.find("Operation not permitted"), std::string::npos) << restore.out;
    EXPECT_EQ(readFile(data_ / "r/tree/file"), "data\n");
}

// ls --full-time of a data set the user cannot open keeps the columns:
// ? where the TSA's stream would tell, the scan's size and time.
TEST_F(FileKinds, LsFullTimeOfADataSetThatCannotBeOpenedKeepsTheColumns)
{
    if (geteuid() != 0 || system("command -v setpriv >/dev/null") != 0)
        GTEST_SKIP() << "needs root to drop to nobody with setpriv";
    if (const std::string why = kxsms_test::runKxsmsForOtherUsers(dir_); !why.empty())
        GTEST_SKIP() << why;
    writeFile(data_ / "tree/open", "data\n");
    writeFile(data_ / "tree/closed", "secret\n");
    ASSERT_EQ(chmod((data_ / "tree/closed").c_str(), 0), 0);
    ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
    const Result ls = sh("setpriv --reuid=65534 --regid=65534 --clear-groups \"$KXSMS\" -u nobody ls --full-time "
                         "/tree 2>&1");
    if (ls.out.find("Login denied") != std::string::npos || ls.out.find("login") != std::string::npos)
        GTEST_SKIP() << "the scratch user cannot log in here: " << ls.out;
    EXPECT_EQ(ls.status, 0) << context(ls);
    std::map<std::string, std::string> lines;
    std::istringstream in(ls.out);
    for (std::string line; std::getline(in, line);)
        lines[line.substr(line.rfind(' ') + 1)] = line;
    EXPECT_EQ(lines["/tree/closed"].rfind("-????????? ?  ", 0), 0u) << ls.out;
    EXPECT_NE(lines["/tree/closed"].find(" 7 "), std::string::npos) << ls.out;
    EXPECT_EQ(lines["/tree/open"].rfind("-rw-r--r-- ", 0), 0u) << ls.out;
    EXPECT_EQ(lines["/tree/open"].size(), lines["/tree/closed"].size() + 8) << "the same columns, and a fraction\n"
                                                                            << ls.out;
}

// ---- extended attributes and ACLs ---------------------------------------------------

TEST_F(FileKinds, ExtendedAttributesAndAclsRoundTrip)
{
    writeFile(data_ / "tree/dir/file", "data\n");
    const fs::path file = data_ / "tree/dir/file", dir = data_ / "tree/dir";
    const std::string access = testsupport::posixAclBlob(1234, 6), defaults = testsupport::posixAclBlob(4321, 4);
    if (setxattr(file.c_str(), "user.comment", "hello", 5, 0) != 0 ||
        setxattr(file.c_str(), "system.posix_acl_access", access.data(), access.size(), 0) != 0 ||
        setxattr(dir.c_str(), "system.posix_acl_default", defaults.data(), defaults.size(), 0) != 0 ||
        setxattr(dir.c_str(), "user.empty", "", 0, 0) != 0)
        GTEST_SKIP() << "this file system keeps no extended attributes or ACLs";
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa", "--clear-archive"}).status, 0);

    const Result restore = kxsms({"restore", "-f", "a.kxa", "--to", "/restored"});
    ASSERT_EQ(restore.status, 0) << context(restore);
    const auto back = attributesOf(data_ / "restored/tree/dir/file");
    EXPECT_EQ(back.count("user.kxsms.archive"), 0u) << "the archive flag is this machine's, never restored";
    EXPECT_EQ(back.at("user.comment"), "hello");
    EXPECT_EQ(back.at("system.posix_acl_access"), access);
    EXPECT_EQ(attributesOf(data_ / "restored/tree/dir").at("system.posix_acl_default"), defaults);
    EXPECT_EQ(describeTree(data_ / "restored/tree"), describeTree(data_ / "tree"));

    const Result plain = kxsms({"restore", "-f", "a.kxa", "--to", "/plain", "--no-xattrs"});
    ASSERT_EQ(plain.status, 0) << context(plain);
    EXPECT_EQ(attributesOf(data_ / "plain/tree/dir/file").count("user.comment"), 0u);
    EXPECT_EQ(readFile(data_ / "plain/tree/dir/file"), "data\n");
}

// A file system without extended attributes (ramfs): the data is restored,
// each data set whose attributes could not be applied is named with them,
// and the exit status is 1.
TEST_F(FileKinds, AFileSystemWithoutAttributesGetsTheDataAndAReport)
{
    writeFile(data_ / "tree/file", "data\n");
    if (setxattr((data_ / "tree/file").c_str(), "user.comment", "hello", 5, 0) != 0)
        GTEST_SKIP() << "this file system keeps no extended attributes";
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    fs::create_directories(data_ / "ram");
    if (mount("none", (data_ / "ram").c_str(), "ramfs", 0, nullptr) != 0)
        GTEST_SKIP() << "cannot mount a ramfs here";
    struct Unmount {
        fs::path at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{data_ / "ram"};
    const Result restore = kxsms({"restore", "-f", "a.kxa", "--to", "/ram"});
    EXPECT_EQ(restore.status, 1) << context(restore);
    EXPECT_EQ(readFile(data_ / "ram/tree/file"), "data\n");
    EXPECT_NE(restore.err.find("cannot restore /ram/tree/file"), std::string::npos) << restore.err;
    EXPECT_NE(restore.err.find("user.comment"), std::string::npos) << restore.err;
    const Result plain = kxsms({"restore", "-f", "a.kxa", "--to", "/ram/plain", "--no-xattrs"});
    EXPECT_EQ(plain.status, 0) << context(plain);
}

// An archive written before the stream had its second version (a file, a
// file of mode 0640 in a directory, a symbolic link) restores as it was.
TEST_F(FileKinds, ArchivesOfTheFirstStreamVersionStillRestore)
{
    fs::copy_file(fs::path(KXSMS_TEST_DATA) / "first-stream-version.kxa", dir_ / "old.kxa");
    const Result restore = kxsms({"restore", "-f", "old.kxa", "--to", "/r"});
    ASSERT_EQ(restore.status, 0) << context(restore);
    const fs::path tree = data_ / "r/tree";
    EXPECT_EQ(readFile(tree / "a.txt"), "alpha\n");
    EXPECT_EQ(readFile(tree / "sub/b.txt"), "beta\n");
    EXPECT_EQ(fs::read_symlink(tree / "link"), "a.txt");
    struct stat st {};
    ASSERT_EQ(stat((tree / "sub/b.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtime, 1600000000);
    ASSERT_EQ(stat((tree / "sub").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1500000000);
}

// A chain of archives of format version 2 (no identity in the members, no
// archive followed) restores as it always did, and lists.
TEST_F(FileKinds, ArchivesOfFormatTwoStillRestoreAsAChain)
{
    for (const char *name : {"format2-full.kxa", "format2-inc.kxa"})
        fs::copy_file(fs::path(KXSMS_TEST_DATA) / name, dir_ / name);
    const Result listed = kxsms({"list", "-f", "format2-inc.kxa"});
    ASSERT_EQ(listed.status, 0) << context(listed);
    EXPECT_NE(listed.out.find("/tree/a.txt  [unchanged]"), std::string::npos) << listed.out;
    const Result restore = kxsms({"restore", "-f", "format2-full.kxa", "-f", "format2-inc.kxa", "--to", "/r"});
    ASSERT_EQ(restore.status, 0) << context(restore);
    const fs::path tree = data_ / "r/tree";
    EXPECT_EQ(readFile(tree / "a.txt"), "alpha\n");
    EXPECT_EQ(readFile(tree / "c.txt"), "new\n");
    EXPECT_EQ(readFile(tree / "sub/b.txt"), "beta, again\n");
    EXPECT_EQ(fs::read_symlink(tree / "link"), "a.txt");
}

// ---- files that change while they are read -------------------------------------------

// kxsms writes the archive to a pipe of one page that the test does not read:
// it stops in its first large write, with the file open and partly read.
// The file is changed then, and the pipe drained.
class ChangingFile : public FileKinds, public ::testing::WithParamInterface<bool> {};

TEST_P(ChangingFile, IsSavedAsItWasOpenedAndReported)
{
    const bool grow = GetParam();
    std::string original(1 << 20, '\0');
    for (std::size_t i = 0; i < original.size(); ++i)
        original[i] = static_cast<char>('A' + i % 23);
    writeFile(data_ / "tree/log", original);

    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    fcntl(pipeFds[1], F_SETPIPE_SZ, 4096);
    const int capacity = fcntl(pipeFds[1], F_GETPIPE_SZ);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        const int err = open((dir_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(err, STDERR_FILENO);
        // One module object: its reader is the archive's writer, held by the full pipe.
        execl(KXSMS_BINARY, "kxsms", "backup", "-j", "1", "/tree", "-f", "-", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    // However long kxsms takes to start on a busy machine (up to two minutes).
    int queued = 0;
    for (int i = 0; i < 120000 && queued < capacity; ++i) {
        ioctl(pipeFds[0], FIONREAD, &queued);
        usleep(1000);
    }
    ASSERT_EQ(queued, capacity) << "kxsms did not fill the pipe";
    if (grow)
        std::ofstream(data_ / "tree/log", std::ios::app) << "appended while the backup read it";
    else
        ASSERT_EQ(truncate((data_ / "tree/log").c_str(), 1000), 0);
    std::string archive;
    char buffer[65536];
    for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        archive.append(buffer, static_cast<std::size_t>(got));
    close(pipeFds[0]);
    int raw = 0;
    ASSERT_EQ(waitpid(child, &raw, 0), child);
    const std::string err = readFile(dir_ / "stderr");
    EXPECT_EQ(WEXITSTATUS(raw), 1) << err;
    EXPECT_NE(err.find("/tree/log: changed while it was being read"), std::string::npos) << err;
    writeFile(dir_ / "a.kxa", archive);

    const Result verify = kxsms({"verify", "-f", "a.kxa"});
    EXPECT_EQ(verify.status, 0) << context(verify);
    const Result restore = kxsms({"restore", "-f", "a.kxa", "--to", "/restored"});
    ASSERT_EQ(restore.status, 0) << context(restore);
    const std::string back = readFile(data_ / "restored/tree/log");
    ASSERT_EQ(back.size(), original.size()) << "the size it had when its backup began";
    if (grow) {
        EXPECT_EQ(back, original);
    } else {
        EXPECT_EQ(back.substr(0, 1000), original.substr(0, 1000));
        EXPECT_EQ(back.back(), '\0') << "what was cut off reads as zeros";
    }
}

INSTANTIATE_TEST_SUITE_P(Changes, ChangingFile, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &tested) {
                             return std::string(tested.param ? "appended" : "truncated");
                         });

// The TSA's word that a file changed arrives as the read after a whole
// stream. A fault on that read (a file whose stream fills its last block
// exactly) takes the same path: warned, exit 1, and the member restores.
TEST_F(FileKinds, InUseAfterAWholeStreamIsAWarningNotALoss)
{
    const passwd *user = getpwuid(geteuid());
    const group *grp = getgrgid(getegid());
    ASSERT_NE(user, nullptr);
    ASSERT_NE(grp, nullptr);
    const std::string name = "/tree/f";
    // Header (104 + name + owner names + checksum: version 3, with the
    // change time), one extent record, the data, the trailer.
    const std::size_t header = 104 + name.size() + std::strlen(user->pw_name) + std::strlen(grp->gr_name) + 8;
    const std::size_t size = 65536 - header - 20 - 20;
    writeFile(data_ / name.substr(1), std::string(size, 'q'));
    // Reads: the probe of /tree opens and closes without reading; /tree is
    // read once (short), /tree/f once (full), then once more.
    setenv("SMSEMU_FAULTS", "NWSMTSReadDataSet@3=0xFFFDFFF5", 1);
    const Result backup = kxsms({"backup", "-j", "1", "/tree", "-f", "a.kxa"});
    unsetenv("SMSEMU_FAULTS");
    EXPECT_EQ(backup.status, 1) << context(backup);
    EXPECT_NE(backup.err.find("/tree/f: changed while it was being read"), std::string::npos) << backup.err;
    const Result restore = kxsms({"restore", "-f", "a.kxa", "--to", "/restored"});
    ASSERT_EQ(restore.status, 0) << context(restore);
    EXPECT_EQ(readFile(data_ / "restored/tree/f"), std::string(size, 'q'));
}

// The TSA leaving a data set out (as it does sockets) is a notice, not a failure.
TEST_F(FileKinds, ExcludedByTheTsaIsANotice)
{
    writeFile(data_ / "tree/a", "a");
    writeFile(data_ / "tree/b", "b");
    // Opens: the probe of /tree, /tree, /tree/a, /tree/b.
    setenv("SMSEMU_FAULTS", "NWSMTSOpenDataSetForBackup@3=0xFFFDFFF7", 1);
    const Result backup = kxsms({"backup", "-j", "1", "/tree", "-f", "a.kxa"});
    unsetenv("SMSEMU_FAULTS");
    EXPECT_EQ(backup.status, 0) << context(backup);
    EXPECT_NE(backup.err.find("/tree/a: ignored"), std::string::npos) << backup.err;
    const Result restore = kxsms({"restore", "-f", "a.kxa", "--to", "/restored"});
    ASSERT_EQ(restore.status, 0) << context(restore);
    EXPECT_TRUE(fs::exists(data_ / "restored/tree/b"));
    EXPECT_FALSE(fs::exists(data_ / "restored/tree/a"));
}

} // namespace
