// The sweep's tree: made, changed, damaged and described.
#include "SweepTree.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include <xxhash.h>

#include "Files.h"

namespace sweep {

namespace fs = std::filesystem;

namespace {

constexpr time_t c_Epoch = 1600000000;

void require(bool done, const std::string &what)
{
    if (!done)
        throw std::runtime_error("cannot make the sweep's tree: " + what + ": " + strerror(errno));
}

void file(const fs::path &path, const std::string &content, time_t when, mode_t mode = 0644)
{
    testsupport::writeFile(path, content);
    require(chmod(path.c_str(), mode) == 0, "chmod " + path.string());
    testsupport::setFileTimes(path, when, 123456789);
}

std::string pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + (i * 7 + i / 1000 + seed) % 26);
    return bytes;
}

void attribute(const fs::path &path, const char *name, const std::string &value)
{
    require(lsetxattr(path.c_str(), name, value.data(), value.size(), 0) == 0, std::string("xattr ") + name);
}

void socketAt(const fs::path &path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    require(path.string().size() < sizeof address.sun_path, "socket name too long " + path.string());
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    require(bind(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) == 0, "bind " + path.string());
    close(fd);
}

void directoryTimes(const fs::path &root)
{
    std::vector<fs::path> directories{root};
    for (const auto &entry : fs::recursive_directory_iterator(root))
        if (entry.is_directory() && !entry.is_symlink())
            directories.push_back(entry.path());
    for (const fs::path &directory : directories)
        testsupport::setFileTimes(directory, c_Epoch + 500);
}

std::string digest(const fs::path &path)
{
    const std::string content = testsupport::readFile(path);
    return std::to_string(content.size()) + ":" + std::to_string(XXH3_64bits(content.data(), content.size()));
}

std::string attributesOf(const fs::path &path)
{
    char names[4096];
    const ssize_t length = llistxattr(path.c_str(), names, sizeof names);
    std::map<std::string, std::string> sorted;
    for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(strlen(names + at)) + 1) {
        char value[4096];
        const ssize_t got = lgetxattr(path.c_str(), names + at, value, sizeof value);
        sorted[names + at] = got >= 0 ? std::string(value, static_cast<size_t>(got)) : "?";
    }
    std::string text;
    for (const auto &[name, value] : sorted)
        text += (text.empty() ? "" : " ") + name + "=" + std::to_string(XXH3_64bits(value.data(), value.size()));
    return text;
}

} // namespace

void makeTree(const fs::path &root)
{
    require(fs::create_directory(root), "mkdir " + root.string());
    file(root / "empty.txt", "", c_Epoch + 1);
    file(root / "small.txt", "small\n", c_Epoch + 2);
    file(root / "block.bin", pattern(65536, 1), c_Epoch + 3);
    file(root / "big.bin", pattern(200000, 2), c_Epoch + 4);
    file(root / "readonly.txt", "read only\n", c_Epoch + 5, 0444);
    file(root / "setuid", "#!/bin/sh\n", c_Epoch + 6, 04755);
    file(root / "name with spaces.txt", "spaces\n", c_Epoch + 7);
    file(root / "caf\xc3\xa9.txt", "utf-8\n", c_Epoch + 8);
    file(root / "bytes\xff.bin", "not utf-8\n", c_Epoch + 9);
    file(root / "xattr.txt", "attributes\n", c_Epoch + 10);
    attribute(root / "xattr.txt", "user.comment", "a comment");
    attribute(root / "xattr.txt", "user.empty", "");
    file(root / "acl.txt", "acl\n", c_Epoch + 11, 0640);
    attribute(root / "acl.txt", "system.posix_acl_access", testsupport::posixAclBlob(65534, 4));
    {
        // A sparse file: data at both ends, a hole between.
        const fs::path sparse = root / "sparse.bin";
        const int fd = open(sparse.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        require(fd >= 0 && pwrite(fd, "head", 4, 0) == 4 && pwrite(fd, "tail", 4, (1 << 20) - 4) == 4, "sparse");
        close(fd);
        testsupport::setFileTimes(sparse, c_Epoch + 12);
    }
    file(root / "hard1", "linked\n", c_Epoch + 13);
    require(link((root / "hard1").c_str(), (root / "hard2").c_str()) == 0, "link");
    require(symlink("small.txt", (root / "link").c_str()) == 0, "symlink");
    require(symlink("nowhere/at/all", (root / "dangling").c_str()) == 0, "symlink");
    require(mkfifo((root / "fifo").c_str(), 0640) == 0, "mkfifo");
    if (geteuid() == 0)
        require(mknod((root / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0, "mknod");
    for (const char *special : {"link", "dangling", "fifo", "null"})
        if (fs::exists(fs::symlink_status(root / special)))
            testsupport::setFileTimes(root / special, c_Epoch + 20);
    socketAt(root / "socket");
    file(root / "dir1/a.txt", "a\n", c_Epoch + 14);
    file(root / "dir1/b.txt", pattern(70000, 3), c_Epoch + 15);
    file(root / "dir1/deep/deeper/c.txt", "c\n", c_Epoch + 16);
    require(symlink("../dir1/deep", (root / "dir1/up").c_str()) == 0, "symlink");
    testsupport::setFileTimes(root / "dir1/up", c_Epoch + 21);
    file(root / "dir1/deep/hard3", "linked across\n", c_Epoch + 17);
    require(link((root / "dir1/deep/hard3").c_str(), (root / "hard4").c_str()) == 0, "link");
    fs::create_directories(root / "emptydir");
    file(root / "private/secret.txt", "secret\n", c_Epoch + 18, 0600);
    require(chmod((root / "private").c_str(), 0700) == 0, "chmod private");
    directoryTimes(root);
}

void changeTree(const fs::path &root)
{
    file(root / "small.txt", "small, changed\n", c_Epoch + 1000);
    file(root / "dir1/new.txt", "new\n", c_Epoch + 1001);
    fs::remove(root / "big.bin");
    fs::rename(root / "dir1/a.txt", root / "dir1/a-renamed.txt");
    require(chmod((root / "readonly.txt").c_str(), 0440) == 0, "chmod");
    directoryTimes(root);
}

void damageTree(const fs::path &root)
{
    fs::remove(root / "small.txt");
    fs::remove(root / "link");
    fs::remove_all(root / "dir1/deep");
    file(root / "block.bin", "older and shorter\n", 1500000000);
    file(root / "name with spaces.txt", "changed after the backup\n", c_Epoch + 2000);
    directoryTimes(root);
}

TreeDescription describeTree(const fs::path &root)
{
    // In name order, so that the entries sharing an inode are named after
    // the same one whatever order the directories list them in.
    std::map<std::string, struct stat> found;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::end(it); it.increment(error)) {
        struct stat st;
        if (lstat(it->path().c_str(), &st) == 0)
            found[it->path().lexically_relative(root).string()] = st;
    }
    TreeDescription entries;
    std::map<std::pair<dev_t, ino_t>, std::string> inodes;
    for (const auto &[name, st] : found) {
        const fs::path path = root / name;
        EntryState &entry = entries[name];
        entry.directory = S_ISDIR(st.st_mode);
        entry.mode = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
        entry.time = std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
        if (S_ISLNK(st.st_mode))
            entry.content = "-> " + fs::read_symlink(path, error).string();
        else if (S_ISREG(st.st_mode))
            entry.content = digest(path);
        else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
            entry.content = std::to_string(major(st.st_rdev)) + "," + std::to_string(minor(st.st_rdev));
        entry.attributes = attributesOf(path);
        if (!entry.directory && st.st_nlink > 1)
            entry.inode = inodes.emplace(std::make_pair(st.st_dev, st.st_ino), name).first->second;
    }
    return entries;
}

TreeDescription atDetail(TreeDescription tree, Detail detail)
{
    for (auto &[name, entry] : tree) {
        if (detail != Detail::Whole && entry.directory)
            entry.time.clear();
        if (detail == Detail::Entry)
            entry.inode.clear();
    }
    return tree;
}

std::string describe(const EntryState &entry)
{
    std::string text = entry.mode;
    for (const std::string *field : {&entry.time, &entry.content, &entry.attributes})
        if (!field->empty())
            text += " " + *field;
    if (!entry.inode.empty())
        text += " inode of " + entry.inode;
    return text;
}

void afterTimesOf(const fs::path &root)
{
    struct timespec latest = {0, 0};
    auto later = [](const timespec &a, const timespec &b) {
        return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
    };
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::end(it); it.increment(error)) {
        struct stat st;
        if (lstat(it->path().c_str(), &st) == 0 && later(st.st_ctim, latest))
            latest = st.st_ctim;
    }
    const fs::path probe = root.parent_path() / ".clock-probe";
    testsupport::writeFile(probe, "x");
    for (struct stat now = {}; stat(probe.c_str(), &now) == 0 && !later(now.st_ctim, latest);)
        utimensat(AT_FDCWD, probe.c_str(), nullptr, 0);
    fs::remove(probe);
}

bool copyTree(const fs::path &from, const fs::path &to)
{
    std::error_code ignored;
    fs::remove_all(to, ignored);
    auto quote = [](const std::string &text) {
        std::string quoted = "'";
        for (char c : text)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    };
    return system(("cp -a " + quote(from.string()) + " " + quote(to.string())).c_str()) == 0;
}

} // namespace sweep
