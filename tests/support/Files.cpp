#include "Files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> readLines(const fs::path &path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void writeFile(const fs::path &path, const std::string &content)
{
    if (path.has_parent_path())
        fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void setFileTimes(const fs::path &path, time_t seconds, long nanoseconds)
{
    const struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("cannot set the times of " + path.string() + ": " + std::strerror(errno));
}

std::string posixAclBlob(unsigned userId, unsigned userPerms)
{
    // Version 2, then (tag, permissions, id) entries in tag order.
    std::string blob;
    auto put = [&](std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            blob.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    auto entry = [&](unsigned tag, unsigned perms, unsigned id) {
        put(tag, 2);
        put(perms, 2);
        put(id, 4);
    };
    put(2, 4);
    entry(0x01, 6, 0xFFFFFFFF);             // owner
    entry(0x02, userPerms, userId);         // a named user
    entry(0x04, 4, 0xFFFFFFFF);             // owning group
    entry(0x10, userPerms | 4, 0xFFFFFFFF); // mask
    entry(0x20, 4, 0xFFFFFFFF);             // others
    return blob;
}

} // namespace testsupport
