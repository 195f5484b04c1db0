// Backup streams built by hand, for restores of streams the TSA would never
// write: the byte layout of the file-system TSA's stream, written out here
// independently of the stand-in's own encoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>
#include <xxhash.h>

namespace smsemutest {

struct HandHeader {
    std::uint8_t kind = 1; // 1 file, 2 directory, 3 symbolic link, 4 hard link, 5 FIFO, 6/7 char/block device
    std::uint32_t mode = 0644;
    std::int64_t mtime = 1600000000;
    std::uint64_t size = 0;
    std::string name;
    std::string target;
    std::uint16_t version = 1; // 2: the fixed part has 24 more bytes (devices, inode); 3: 16 more (change time)
    std::uint32_t deviceMajor = 0, deviceMinor = 0;
    std::uint64_t inodeDevice = 0, inode = 0;
    std::int64_t ctime = 0;
    std::uint32_t ctimeNanoseconds = 0, afterChangeTime = 0; // the last must be 0
    std::uint32_t uid = 0, gid = 0; // no names are written: the numbers are the owner
};

inline void putLe(std::string &out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

inline std::string handHeader(const HandHeader &h)
{
    std::string out = "KXFH";
    putLe(out, h.version, 2);
    std::size_t length = (h.version == 1 ? 64 : h.version == 2 ? 88 : 104) + h.name.size() + h.target.size() + 8;
    putLe(out, length, 2);
    out.push_back(static_cast<char>(h.kind));
    out.push_back(0);
    putLe(out, h.name.size(), 2);
    putLe(out, h.target.size(), 2);
    out.push_back(0); // no user name
    out.push_back(0); // no group name
    putLe(out, h.mode, 4);
    putLe(out, h.uid, 4);
    putLe(out, h.gid, 4);
    putLe(out, 0, 4); // atime ns
    putLe(out, static_cast<std::uint64_t>(h.mtime), 8);
    putLe(out, static_cast<std::uint64_t>(h.mtime), 8);
    putLe(out, 0, 4);
    putLe(out, 0, 4);
    putLe(out, h.size, 8);
    if (h.version != 1) {
        putLe(out, h.deviceMajor, 4);
        putLe(out, h.deviceMinor, 4);
        putLe(out, h.inodeDevice, 8);
        putLe(out, h.inode, 8);
    }
    if (h.version >= 3) {
        putLe(out, static_cast<std::uint64_t>(h.ctime), 8);
        putLe(out, h.ctimeNanoseconds, 4);
        putLe(out, h.afterChangeTime, 4);
    }
    out += h.name;
    out += h.target;
    putLe(out, XXH3_64bits(out.data(), out.size()), 8);
    return out;
}

// A record after the header: its tag and two 64-bit fields.
inline std::string handRecord(const char *tag, std::uint64_t first, std::uint64_t second)
{
    std::string out(tag, 4);
    putLe(out, first, 8);
    putLe(out, second, 8);
    return out;
}

// Extents (offset, data) and a correct trailer after a header.
inline std::string handStream(const HandHeader &h, const std::vector<std::pair<std::uint64_t, std::string>> &extents)
{
    std::string body;
    std::uint64_t total = 0;
    for (const auto &[offset, data] : extents) {
        body += "KXFE";
        putLe(body, offset, 8);
        putLe(body, data.size(), 8);
        body += data;
        total += data.size();
    }
    std::string out = handHeader(h) + body + "KXFT";
    putLe(out, total, 8);
    putLe(out, XXH3_64bits(body.data(), body.size()), 8);
    return out;
}

// A whole stream with records (already encoded) between the header and the
// trailer, which counts `dataBytes` and hashes the records.
inline std::string withRecords(const HandHeader &h, const std::string &records, std::uint64_t dataBytes = 0)
{
    std::string out = handHeader(h) + records + "KXFT";
    putLe(out, dataBytes, 8);
    putLe(out, XXH3_64bits(records.data(), records.size()), 8);
    return out;
}

inline std::string attributeRecord(const std::vector<std::pair<std::string, std::string>> &attributes)
{
    std::string section;
    for (const auto &[name, value] : attributes) {
        section.push_back(static_cast<char>(name.size()));
        putLe(section, value.size(), 4);
        section += name + value;
    }
    std::string record = "KXFA";
    putLe(record, attributes.size(), 8);
    putLe(record, section.size(), 8);
    return record + section;
}

} // namespace smsemutest
