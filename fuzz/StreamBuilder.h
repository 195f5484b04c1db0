// Restore streams for the fuzz targets that feed the TSAs: a header, an
// attribute section, extents and pads, and the trailer, put together from
// the fuzzer's choices with every length and checksum right, so that the
// fuzzer reaches what the TSAs do with a well-formed stream (attributes,
// hard links, devices, holes) and not only the checks that refuse a broken
// one. A last choice may then damage the stream: a byte changed, the stream
// cut short or lengthened.
#ifndef KXSMS_FUZZ_STREAMBUILDER_H
#define KXSMS_FUZZ_STREAMBUILDER_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <xxhash.h>

#include "FuzzInput.h"
#include "core/StreamFormat.h"

namespace fuzzstream {

namespace stream = smsemu::stream;

// Names an attribute section often holds, and the one the TSA keeps for
// itself (user.kxsms.archive), which a restore must never apply.
inline const char *const c_AttributeNames[] = {
    "user.a",
    "user.comment",
    "user.kxsms.archive",
    "trusted.x",
    "security.capability",
    "system.posix_acl_access",
    "system.posix_acl_default",
    "system.other",
};

inline std::string record(void (*encode)(std::uint64_t, std::uint64_t, std::uint8_t *), std::uint64_t first,
                          std::uint64_t second)
{
    std::string bytes(stream::kRecordSize, '\0');
    encode(first, second, reinterpret_cast<std::uint8_t *>(bytes.data()));
    return bytes;
}

// The header's fields, as the fuzzer chooses them; name (and, for a hard
// link, the first name) are the caller's.
inline stream::Header chooseHeader(FuzzInput &in, std::string &target, std::string &user, std::string &group)
{
    stream::Header header;
    header.kind = static_cast<stream::Kind>(1 + in.byte() % 7);
    header.mode = static_cast<std::uint32_t>(in.number(2)) & 07777;
    header.uid = static_cast<std::uint32_t>(in.pick<std::uint64_t>({0, 1, 65534, 1000, 0xFFFFFFFF}));
    header.gid = header.uid;
    const std::int64_t times[] = {0, 1600000000, -1, INT64_MAX, 4102444800};
    header.atimeSeconds = in.pick(times);
    header.mtimeSeconds = in.pick(times);
    header.atimeNanoseconds = static_cast<std::uint32_t>(in.number(4) % 1000000000u);
    header.mtimeNanoseconds = static_cast<std::uint32_t>(in.number(4) % 1000000000u);
    if (header.kind == stream::Kind::CharDevice || header.kind == stream::Kind::BlockDevice) {
        header.deviceMajor = in.byte() % 4;
        header.deviceMinor = in.byte() % 8;
    }
    if (header.kind == stream::Kind::Symlink) {
        target = in.word();
        if (target.empty())
            target = "t";
    }
    const char *const owners[] = {"", "root", "nobody", "no-such-user-here"};
    user = in.pick(owners);
    group = in.pick(owners);
    return header;
}

// Appends the attribute record and its entries (none when the fuzzer
// chooses none).
inline void appendAttributes(FuzzInput &in, std::string &body)
{
    const size_t count = in.byte() % 4;
    if (count == 0)
        return;
    std::string section;
    for (size_t i = 0; i < count; ++i) {
        const std::string name = in.byte() % 4 == 0 ? in.word(16) : in.pick(c_AttributeNames);
        if (name.empty())
            continue;
        const std::string value = in.word(40);
        stream::appendAttribute(section, {name, value});
    }
    if (section.empty())
        return;
    std::string head(stream::kRecordSize, '\0');
    stream::encodeAttributes(count, section.size(), reinterpret_cast<std::uint8_t *>(head.data()));
    body += head + section;
}

// File data as extents with holes between them, and pads here and there.
inline std::uint64_t appendData(FuzzInput &in, std::string &body, std::uint64_t size)
{
    std::uint64_t at = 0, written = 0;
    while (at < size && !in.empty()) {
        const std::uint64_t hole = in.byte() % 3 == 0 ? in.byte() : 0;
        at += hole;
        if (at >= size)
            break;
        std::uint64_t length = 1 + in.byte();
        if (length > size - at)
            length = size - at;
        body += record(stream::encodeExtent, at, length);
        body += std::string(length, static_cast<char>('a' + at % 26));
        at += length;
        written += length;
        if (in.byte() % 8 == 0) {
            const std::uint64_t pad = in.byte() % 16;
            std::string head(stream::kRecordSize, '\0');
            stream::encodePad(pad, reinterpret_cast<std::uint8_t *>(head.data()));
            body += head + std::string(pad, '\0');
        }
    }
    return written;
}

// The damage the fuzzer may do to a finished stream.
inline void damage(FuzzInput &in, std::string &bytes)
{
    const std::uint8_t how = in.byte();
    if (bytes.empty() || how < 0xC0)
        return;
    const size_t at = static_cast<size_t>(in.number(2)) % bytes.size();
    if (how < 0xD0)
        bytes[at] = static_cast<char>(bytes[at] ^ (1 + in.byte()));
    else if (how < 0xE0)
        bytes.resize(at);
    else
        bytes += in.word(32);
}

// A stream as the program made it, perhaps changed by the fuzzer, with its
// checksums made right again: the header's, and the trailer's count and
// checksum over the records and their bytes as far as they reach. So a
// stream taken from a real backup keeps its records' meaning while the
// fuzzer changes their fields.
inline void repairStream(std::string &bytes)
{
    auto *data = reinterpret_cast<std::uint8_t *>(bytes.data());
    if (bytes.size() < stream::kHeaderPrefix)
        return;
    const size_t headerSize = stream::declaredHeaderSize(data);
    if (headerSize < stream::kMinHeader || headerSize > bytes.size())
        return;
    const std::uint64_t headerHash = XXH3_64bits(data, headerSize - stream::kChecksum);
    for (size_t i = 0; i < 8; ++i)
        data[headerSize - stream::kChecksum + i] = static_cast<std::uint8_t>(headerHash >> (8 * i));
    XXH3_state_t *state = XXH3_createState();
    XXH3_64bits_reset(state);
    std::uint64_t dataBytes = 0;
    for (size_t at = headerSize; at + stream::kRecordSize <= bytes.size();) {
        std::uint64_t first = 0;
        const stream::Tag tag = stream::tagOf(data + at);
        if (tag == stream::Tag::Trailer) {
            stream::encodeTrailer(dataBytes, XXH3_64bits_digest(state), data + at);
            break;
        }
        if (tag == stream::Tag::Other)
            break;
        std::uint64_t length = 0;
        if (tag == stream::Tag::Attributes) {
            stream::decodeAttributes(data + at, first, length);
        } else if (tag == stream::Tag::Pad) {
            stream::decodePad(data + at, length);
        } else {
            stream::decodeExtent(data + at, first, length);
        }
        const size_t left = bytes.size() - at - stream::kRecordSize;
        const size_t taken = length < left ? static_cast<size_t>(length) : left;
        XXH3_64bits_update(state, data + at, stream::kRecordSize + taken);
        if (tag == stream::Tag::Extent)
            dataBytes += taken;
        at += stream::kRecordSize + taken;
    }
    XXH3_freeState(state);
}

// Streams laid one after another, each starting with the header's magic.
inline std::vector<std::string> splitStreams(const std::string &bytes)
{
    std::vector<std::string> streams;
    size_t at = bytes.find("KXFH");
    while (at != std::string::npos) {
        const size_t next = bytes.find("KXFH", at + 4);
        streams.push_back(bytes.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next;
    }
    return streams;
}

// The stream of a file that holds `data` in one extent, as the directory
// TSA writes its objects.
inline std::string fileStream(const std::string &name, const std::string &data)
{
    stream::Header header;
    header.kind = stream::Kind::File;
    header.mode = 0644;
    header.size = data.size();
    header.name = name;
    // Empty texts that point somewhere: the encoder copies each text.
    header.target = header.user = header.group = std::string_view("", 0);
    std::string bytes(stream::headerSize(header), '\0');
    stream::encodeHeader(header, reinterpret_cast<std::uint8_t *>(bytes.data()));
    std::string body;
    if (!data.empty())
        body = record(stream::encodeExtent, 0, data.size()) + data;
    bytes += body;
    bytes += record(stream::encodeTrailer, data.size(), XXH3_64bits(body.data(), body.size()));
    return bytes;
}

// A whole stream for the data set `name`. A hard link names one of
// `earlier` (or a name of the fuzzer's) as its first name.
inline std::string buildStream(FuzzInput &in, const std::string &name, const std::vector<std::string> &earlier = {})
{
    std::string target, user, group;
    stream::Header header = chooseHeader(in, target, user, group);
    if (header.kind == stream::Kind::HardLink) {
        target = !earlier.empty() && in.byte() % 4 != 0 ? earlier[in.byte() % earlier.size()] : "/" + in.word(20);
        header.inodeDevice = 1 + in.byte();
        header.inode = 1 + in.byte();
    } else if (header.kind == stream::Kind::File && in.byte() % 2 == 0) {
        header.inodeDevice = 1 + in.byte();
        header.inode = 1 + in.byte();
    }
    const std::uint64_t size = header.kind == stream::Kind::File ? in.number(2) % 2048 : 0;
    header.size = size;
    header.name = name;
    header.target = target;
    header.user = user;
    header.group = group;

    std::string bytes(stream::headerSize(header), '\0');
    stream::encodeHeader(header, reinterpret_cast<std::uint8_t *>(bytes.data()));
    std::string body;
    if (header.kind != stream::Kind::HardLink || in.byte() % 8 == 0)
        appendAttributes(in, body);
    const std::uint64_t dataBytes = header.kind == stream::Kind::File ? appendData(in, body, size) : 0;
    bytes += body;
    bytes += record(stream::encodeTrailer, dataBytes, XXH3_64bits(body.data(), body.size()));
    damage(in, bytes);
    return bytes;
}

} // namespace fuzzstream

#endif
