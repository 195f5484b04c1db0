#include "core/StreamFormat.h"

#include <cstring>
#include <xxhash.h>

namespace smsemu::stream {
namespace {

constexpr std::uint8_t kHeaderMagic[4] = {'K', 'X', 'F', 'H'};
constexpr std::uint8_t kExtentTag[4] = {'K', 'X', 'F', 'E'};
constexpr std::uint8_t kTrailerTag[4] = {'K', 'X', 'F', 'T'};
constexpr std::uint8_t kAttributesTag[4] = {'K', 'X', 'F', 'A'};
constexpr std::uint8_t kPadTag[4] = {'K', 'X', 'F', 'P'};
constexpr std::uint16_t kVersion = 3;
constexpr std::uint16_t kOldestVersion = 1;

template <class T>
void put(std::uint8_t *at, T value)
{
    auto bits = static_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        at[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

template <class T>
T get(const std::uint8_t *at)
{
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        bits |= static_cast<std::uint64_t>(at[i]) << (8 * i);
    return static_cast<T>(bits);
}

std::size_t fixedHeaderSize(std::uint16_t version)
{
    return version == 1 ? kFixedHeaderV1 : version == 2 ? kFixedHeader : kFixedHeaderV3;
}

} // namespace

std::size_t headerSize(const Header &header)
{
    return (header.hasChangeTime ? kFixedHeaderV3 : kFixedHeader) + header.name.size() + header.target.size() +
           header.user.size() + header.group.size() + kChecksum;
}

void encodeHeader(const Header &header, std::uint8_t *out)
{
    std::size_t size = headerSize(header);
    const std::size_t fixed = header.hasChangeTime ? kFixedHeaderV3 : kFixedHeader;
    std::memset(out, 0, fixed);
    std::memcpy(out, kHeaderMagic, 4);
    put<std::uint16_t>(out + 4, static_cast<std::uint16_t>(header.hasChangeTime ? 3 : 2));
    put<std::uint16_t>(out + 6, static_cast<std::uint16_t>(size));
    out[8] = static_cast<std::uint8_t>(header.kind);
    put<std::uint16_t>(out + 10, static_cast<std::uint16_t>(header.name.size()));
    put<std::uint16_t>(out + 12, static_cast<std::uint16_t>(header.target.size()));
    out[14] = static_cast<std::uint8_t>(header.user.size());
    out[15] = static_cast<std::uint8_t>(header.group.size());
    put<std::uint32_t>(out + 16, header.mode);
    put<std::uint32_t>(out + 20, header.uid);
    put<std::uint32_t>(out + 24, header.gid);
    put<std::uint32_t>(out + 28, header.atimeNanoseconds);
    put<std::int64_t>(out + 32, header.atimeSeconds);
    put<std::int64_t>(out + 40, header.mtimeSeconds);
    put<std::uint32_t>(out + 48, header.mtimeNanoseconds);
    put<std::uint64_t>(out + 56, header.size);
    put<std::uint32_t>(out + 64, header.deviceMajor);
    put<std::uint32_t>(out + 68, header.deviceMinor);
    put<std::uint64_t>(out + 72, header.inodeDevice);
    put<std::uint64_t>(out + 80, header.inode);
    if (header.hasChangeTime) {
        put<std::int64_t>(out + 88, header.ctimeSeconds);
        put<std::uint32_t>(out + 96, header.ctimeNanoseconds);
    }
    std::uint8_t *at = out + fixed;
    for (std::string_view text : {header.name, header.target, header.user, header.group}) {
        if (text.empty())
            continue; // an empty view may have no data to copy from
        std::memcpy(at, text.data(), text.size());
        at += text.size();
    }
    put<std::uint64_t>(at, XXH3_64bits(out, size - kChecksum));
}

bool plausibleHeaderPrefix(const std::uint8_t *data, std::size_t have)
{
    if (std::memcmp(data, kHeaderMagic, have < 4 ? have : 4) != 0)
        return false;
    if (have >= 6 && (get<std::uint16_t>(data + 4) < kOldestVersion || get<std::uint16_t>(data + 4) > kVersion))
        return false;
    if (have >= kHeaderPrefix) {
        std::size_t size = declaredHeaderSize(data);
        return size >= kMinHeader && size <= kMaxHeader;
    }
    return true;
}

std::size_t declaredHeaderSize(const std::uint8_t *prefix)
{
    return get<std::uint16_t>(prefix + 6);
}

bool decodeHeader(const std::uint8_t *data, std::size_t size, Header &header)
{
    if (size < kMinHeader || size > kMaxHeader || !plausibleHeaderPrefix(data, kHeaderPrefix) ||
        declaredHeaderSize(data) != size)
        return false;
    const std::uint16_t version = get<std::uint16_t>(data + 4);
    const std::size_t fixed = fixedHeaderSize(version);
    std::size_t nameLength = get<std::uint16_t>(data + 10);
    std::size_t targetLength = get<std::uint16_t>(data + 12);
    std::size_t userLength = data[14];
    std::size_t groupLength = data[15];
    if (nameLength == 0 || nameLength > kMaxName || targetLength > kMaxTarget ||
        fixed + nameLength + targetLength + userLength + groupLength + kChecksum != size)
        return false;
    if (get<std::uint64_t>(data + size - kChecksum) != XXH3_64bits(data, size - kChecksum))
        return false;

    std::uint8_t kind = data[8];
    const Kind lastKind = version == 1 ? Kind::Symlink : Kind::BlockDevice;
    if (kind < static_cast<std::uint8_t>(Kind::File) || kind > static_cast<std::uint8_t>(lastKind))
        return false;
    header.kind = static_cast<Kind>(kind);
    header.version = version;
    const bool named = header.kind == Kind::Symlink || header.kind == Kind::HardLink;
    if (named != (targetLength != 0) || (header.kind == Kind::HardLink && targetLength > kMaxName))
        return false;
    header.mode = get<std::uint32_t>(data + 16) & 07777;
    header.uid = get<std::uint32_t>(data + 20);
    header.gid = get<std::uint32_t>(data + 24);
    header.atimeNanoseconds = get<std::uint32_t>(data + 28);
    header.atimeSeconds = get<std::int64_t>(data + 32);
    header.mtimeSeconds = get<std::int64_t>(data + 40);
    header.mtimeNanoseconds = get<std::uint32_t>(data + 48);
    header.size = get<std::uint64_t>(data + 56);
    if (header.atimeNanoseconds >= 1000000000u || header.mtimeNanoseconds >= 1000000000u)
        return false;
    if (header.kind != Kind::File && header.size != 0)
        return false;
    if (version == 1) {
        header.deviceMajor = header.deviceMinor = 0;
        header.inodeDevice = header.inode = 0;
    } else {
        header.deviceMajor = get<std::uint32_t>(data + 64);
        header.deviceMinor = get<std::uint32_t>(data + 68);
        header.inodeDevice = get<std::uint64_t>(data + 72);
        header.inode = get<std::uint64_t>(data + 80);
        const bool device = header.kind == Kind::CharDevice || header.kind == Kind::BlockDevice;
        if (!device && (header.deviceMajor != 0 || header.deviceMinor != 0))
            return false;
        // A hard link says which inode it shares.
        if (header.kind == Kind::HardLink && header.inode == 0)
            return false;
    }
    header.hasChangeTime = version >= 3;
    header.ctimeSeconds = header.hasChangeTime ? get<std::int64_t>(data + 88) : 0;
    header.ctimeNanoseconds = header.hasChangeTime ? get<std::uint32_t>(data + 96) : 0;
    if (header.ctimeNanoseconds >= 1000000000u || (header.hasChangeTime && get<std::uint32_t>(data + 100) != 0))
        return false;
    // Sizes beyond what an off_t holds cannot be restored.
    if (header.size > static_cast<std::uint64_t>(INT64_MAX))
        return false;
    const char *text = reinterpret_cast<const char *>(data + fixed);
    header.name = std::string_view(text, nameLength);
    header.target = std::string_view(text + nameLength, targetLength);
    header.user = std::string_view(text + nameLength + targetLength, userLength);
    header.group = std::string_view(text + nameLength + targetLength + userLength, groupLength);
    return true;
}

Tag tagOf(const std::uint8_t *data)
{
    if (std::memcmp(data, kExtentTag, 4) == 0)
        return Tag::Extent;
    if (std::memcmp(data, kTrailerTag, 4) == 0)
        return Tag::Trailer;
    if (std::memcmp(data, kAttributesTag, 4) == 0)
        return Tag::Attributes;
    if (std::memcmp(data, kPadTag, 4) == 0)
        return Tag::Pad;
    return Tag::Other;
}

namespace {

// Every record after the header: a tag and two 64-bit fields.
void encodeRecord(const std::uint8_t *tag, std::uint64_t first, std::uint64_t second, std::uint8_t *out)
{
    std::memcpy(out, tag, 4);
    put<std::uint64_t>(out + 4, first);
    put<std::uint64_t>(out + 12, second);
}

void decodeRecord(const std::uint8_t *data, std::uint64_t &first, std::uint64_t &second)
{
    first = get<std::uint64_t>(data + 4);
    second = get<std::uint64_t>(data + 12);
}

} // namespace

void encodeExtent(std::uint64_t offset, std::uint64_t length, std::uint8_t *out)
{
    encodeRecord(kExtentTag, offset, length, out);
}

void decodeExtent(const std::uint8_t *data, std::uint64_t &offset, std::uint64_t &length)
{
    decodeRecord(data, offset, length);
}

void encodeTrailer(std::uint64_t dataBytes, std::uint64_t hash, std::uint8_t *out)
{
    encodeRecord(kTrailerTag, dataBytes, hash, out);
}

void decodeTrailer(const std::uint8_t *data, std::uint64_t &dataBytes, std::uint64_t &hash)
{
    decodeRecord(data, dataBytes, hash);
}

void encodePad(std::uint64_t length, std::uint8_t *out)
{
    encodeRecord(kPadTag, length, 0, out);
}

void decodePad(const std::uint8_t *data, std::uint64_t &length)
{
    length = get<std::uint64_t>(data + 4);
}

void encodeAttributes(std::uint64_t count, std::uint64_t bytes, std::uint8_t *out)
{
    encodeRecord(kAttributesTag, count, bytes, out);
}

void decodeAttributes(const std::uint8_t *data, std::uint64_t &count, std::uint64_t &bytes)
{
    decodeRecord(data, count, bytes);
}

bool plausibleAttributes(std::uint64_t count, std::uint64_t bytes)
{
    return count >= 1 && count <= kMaxAttributes && bytes >= count * (kAttributeEntryFixed + 1) &&
           bytes <= kMaxAttributeBytes;
}

std::size_t attributeEntrySize(const Attribute &attribute)
{
    return kAttributeEntryFixed + attribute.name.size() + attribute.value.size();
}

void appendAttribute(std::string &section, const Attribute &attribute)
{
    std::uint8_t fixed[kAttributeEntryFixed];
    fixed[0] = static_cast<std::uint8_t>(attribute.name.size());
    put<std::uint32_t>(fixed + 1, static_cast<std::uint32_t>(attribute.value.size()));
    section.append(reinterpret_cast<const char *>(fixed), sizeof fixed);
    section.append(attribute.name);
    section.append(attribute.value);
}

} // namespace smsemu::stream
