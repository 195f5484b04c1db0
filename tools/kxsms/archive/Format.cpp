// Encoding and checked decoding of the archive records.
#include "archive/Format.h"

#include <xxhash.h>

namespace kxsms::format {

namespace {

uint64_t hashOf(const unsigned char *data, size_t length)
{
    return XXH3_64bits(data, length);
}

} // namespace

const char *tsaName(uint16_t tsaType)
{
    switch (tsaType) {
    case c_TsaDirectory:
        return "directory";
    case c_TsaFileSystem:
        return "file-system";
    case c_TsaGroupWise:
        return "GroupWise";
    default:
        return "unknown";
    }
}

NameStyle nameStyle(uint16_t tsaType)
{
    return tsaType == c_TsaFileSystem ? NameStyle::FileSystem : NameStyle::Backslashed;
}

void encodeArchiveHeader(const ArchiveHeader &header, unsigned char (&out)[c_ArchiveHeaderSize])
{
    memcpy(out, c_ArchiveMagic, sizeof c_ArchiveMagic);
    put16(out + 8, header.version);
    put16(out + 10, header.tsaType);
    put32(out + 12, header.flags);
    put64(out + 16, header.archiveId);
    put64(out + 24, static_cast<uint64_t>(header.created));
    put64(out + 32, hashOf(out, 32));
}

bool decodeArchiveHeader(const unsigned char *in, ArchiveHeader &header)
{
    if (memcmp(in, c_ArchiveMagic, sizeof c_ArchiveMagic) != 0 || get64(in + 32) != hashOf(in, 32))
        return false;
    header.version = get16(in + 8);
    header.tsaType = get16(in + 10);
    header.flags = get32(in + 12);
    header.archiveId = get64(in + 16);
    header.created = static_cast<int64_t>(get64(in + 24));
    return true;
}

bool encodeBackupRecord(const BackupRecord &record, std::vector<unsigned char> &out)
{
    size_t size = c_BackupFixedSize + c_MemberHashSize;
    for (const auto *list : {&record.paths, &record.excludes}) {
        if (list->size() > 0xFFFF)
            return false;
        for (const std::string &text : *list) {
            if (text.size() > 0xFFFF)
                return false;
            size += 2 + text.size();
        }
    }
    if (size > c_MaxBackupRecord)
        return false;
    const size_t start = out.size();
    out.resize(start + size);
    unsigned char *p = out.data() + start;
    put32(p, c_BackupMagic);
    put32(p + 4, static_cast<uint32_t>(size));
    put16(p + 8, static_cast<uint16_t>(record.paths.size()));
    put16(p + 10, static_cast<uint16_t>(record.excludes.size()));
    put32(p + 12, static_cast<uint32_t>(c_BackupFixedSize));
    put64(p + 16, static_cast<uint64_t>(record.startedNanoseconds));
    put64(p + 24, record.followsId);
    put64(p + 32, static_cast<uint64_t>(record.followsStartedNanoseconds));
    size_t at = c_BackupFixedSize;
    for (const auto *list : {&record.paths, &record.excludes})
        for (const std::string &text : *list) {
            put16(p + at, static_cast<uint16_t>(text.size()));
            memcpy(p + at + 2, text.data(), text.size());
            at += 2 + text.size();
        }
    put64(p + at, hashOf(p, at));
    return true;
}

namespace {

// The fixed part of a backup record: 24 bytes in version 2 (0 at offset
// 12), c_BackupFixedSize from version 3 (that size there); 0 for neither.
size_t backupFixedPart(const unsigned char *fixedPart)
{
    const uint32_t declared = get32(fixedPart + 12);
    return declared == 0 ? c_BackupFixedSizeV2 : declared == c_BackupFixedSize ? c_BackupFixedSize : 0;
}

// The fixed part of a member header: 64 bytes in versions 1 and 2 (0 at
// offset 10), c_MemberFixedSize from version 3; 0 for neither.
size_t memberFixedPart(const unsigned char *fixedPart)
{
    const uint16_t declared = get16(fixedPart + 10);
    return declared == 0 ? c_MemberFixedSizeV2 : declared == c_MemberFixedSize ? c_MemberFixedSize : 0;
}

} // namespace

size_t backupRecordSize(const unsigned char *fixedPart)
{
    if (get32(fixedPart) != c_BackupMagic)
        return 0;
    const size_t fixed = backupFixedPart(fixedPart);
    const size_t size = get32(fixedPart + 4);
    return fixed != 0 && size >= fixed + c_MemberHashSize && size <= c_MaxBackupRecord ? size : 0;
}

bool decodeBackupRecord(const unsigned char *in, BackupRecord &record)
{
    const size_t size = backupRecordSize(in);
    if (size == 0)
        return false;
    const size_t hashed = size - c_MemberHashSize;
    if (get64(in + hashed) != hashOf(in, hashed))
        return false;
    const size_t fixed = backupFixedPart(in);
    const size_t counts[2] = {get16(in + 8), get16(in + 10)};
    std::vector<std::string> *lists[2] = {&record.paths, &record.excludes};
    record.startedNanoseconds = static_cast<int64_t>(get64(in + 16));
    record.followsId = fixed == c_BackupFixedSize ? get64(in + 24) : 0;
    record.followsStartedNanoseconds = fixed == c_BackupFixedSize ? static_cast<int64_t>(get64(in + 32)) : 0;
    size_t at = fixed;
    for (int l = 0; l < 2; ++l) {
        lists[l]->clear();
        for (size_t i = 0; i < counts[l]; ++i) {
            if (at + 2 > hashed)
                return false;
            const size_t length = get16(in + at);
            if (at + 2 + length > hashed)
                return false;
            lists[l]->emplace_back(reinterpret_cast<const char *>(in + at + 2), length);
            at += 2 + length;
        }
    }
    return at == hashed;
}

size_t encodeMemberHeader(const MemberDescriptor &member, uint64_t archiveId, unsigned char *out)
{
    const size_t nameLength = member.name.size();
    put32(out, c_MemberMagic);
    put16(out + 4, static_cast<uint16_t>(nameLength));
    const uint16_t listed = member.listing == Listing::Unchanged  ? c_FlagUnchanged
                            : member.listing == Listing::NotSaved ? c_FlagNotSaved
                                                                  : 0;
    put16(out + 6,
          static_cast<uint16_t>((member.parent ? c_FlagParent : 0) | (member.archive ? c_FlagArchive : 0) | listed));
    put16(out + 8, member.tsaType);
    put16(out + 10, static_cast<uint16_t>(c_MemberFixedSize));
    put32(out + 12, member.nameSpace);
    put64(out + 16, archiveId);
    put64(out + 24, member.sequence);
    put64(out + 32, static_cast<uint64_t>(member.created));
    put64(out + 40, static_cast<uint64_t>(member.modified));
    put64(out + 48, static_cast<uint64_t>(member.accessed));
    put64(out + 56, member.size);
    const Identity &id = member.identity;
    out[64] = id.kind;
    out[65] =
        static_cast<unsigned char>((id.exact ? c_IdentityExact : 0) | (id.hasChangeTime ? c_IdentityChangeTime : 0));
    put16(out + 66, 0);
    put32(out + 68, id.mode);
    put32(out + 72, id.uid);
    put32(out + 76, id.gid);
    put64(out + 80, id.size);
    put64(out + 88, static_cast<uint64_t>(id.mtimeSeconds));
    put64(out + 96, static_cast<uint64_t>(id.ctimeSeconds));
    put32(out + 104, id.mtimeNanoseconds);
    put32(out + 108, id.ctimeNanoseconds);
    memcpy(out + c_MemberFixedSize, member.name.data(), nameLength);
    const size_t hashed = c_MemberFixedSize + nameLength;
    put64(out + hashed, hashOf(out, hashed));
    return hashed + c_MemberHashSize;
}

size_t memberNameLength(const unsigned char *fixedPart)
{
    if (get32(fixedPart) != c_MemberMagic || memberFixedPart(fixedPart) == 0)
        return 0;
    const size_t length = get16(fixedPart + 4);
    return length <= c_MaxNameLength ? length : 0;
}

size_t memberHeaderSizeAt(const unsigned char *fixedPart)
{
    const size_t nameLength = memberNameLength(fixedPart);
    return nameLength == 0 ? 0 : memberFixedPart(fixedPart) + nameLength + c_MemberHashSize;
}

bool decodeMemberHeader(const unsigned char *in, MemberDescriptor &member, uint64_t &archiveId)
{
    const size_t nameLength = memberNameLength(in);
    if (nameLength == 0)
        return false;
    const size_t fixed = memberFixedPart(in);
    const size_t hashed = fixed + nameLength;
    if (get64(in + hashed) != hashOf(in, hashed))
        return false;

    const uint16_t flags = get16(in + 6);
    member.name.assign(reinterpret_cast<const char *>(in + fixed), nameLength);
    member.parent = (flags & c_FlagParent) != 0;
    member.archive = (flags & c_FlagArchive) != 0;
    member.listing = (flags & c_FlagUnchanged) != 0  ? Listing::Unchanged
                     : (flags & c_FlagNotSaved) != 0 ? Listing::NotSaved
                                                     : Listing::Saved;
    member.tsaType = get16(in + 8);
    member.nameSpace = get32(in + 12);
    archiveId = get64(in + 16);
    member.sequence = get64(in + 24);
    member.created = static_cast<int64_t>(get64(in + 32));
    member.modified = static_cast<int64_t>(get64(in + 40));
    member.accessed = static_cast<int64_t>(get64(in + 48));
    member.size = get64(in + 56);
    Identity &id = member.identity;
    id = Identity{};
    if (fixed == c_MemberFixedSize) {
        id.kind = in[64];
        id.exact = (in[65] & c_IdentityExact) != 0;
        id.hasChangeTime = (in[65] & c_IdentityChangeTime) != 0;
        id.mode = get32(in + 68);
        id.uid = get32(in + 72);
        id.gid = get32(in + 76);
        id.size = get64(in + 80);
        id.mtimeSeconds = static_cast<int64_t>(get64(in + 88));
        id.ctimeSeconds = static_cast<int64_t>(get64(in + 96));
        id.mtimeNanoseconds = get32(in + 104);
        id.ctimeNanoseconds = get32(in + 108);
    }
    return true;
}

void encodeChunkHeader(uint32_t length, uint64_t dataHash, unsigned char (&out)[c_ChunkHeaderSize])
{
    put32(out, c_ChunkMagic);
    put32(out + 4, length);
    put64(out + 8, dataHash);
}

uint32_t chunkLength(const unsigned char *in)
{
    if (get32(in) != c_ChunkMagic)
        return 0;
    const uint32_t length = get32(in + 4);
    return length <= c_MaxChunkData ? length : 0;
}

uint64_t chunkHash(const unsigned char *in)
{
    return get64(in + 8);
}

void encodeMemberTrailer(const MemberTrailer &trailer, unsigned char (&out)[c_MemberTrailerSize])
{
    put32(out, c_TrailerMagic);
    put32(out + 4, trailer.status);
    put64(out + 8, trailer.sequence);
    put64(out + 16, trailer.chunks);
    put64(out + 24, trailer.bytes);
    put64(out + 32, trailer.streamHash);
    put64(out + 40, hashOf(out, 40));
}

bool decodeMemberTrailer(const unsigned char *in, MemberTrailer &trailer)
{
    if (get32(in) != c_TrailerMagic || get64(in + 40) != hashOf(in, 40))
        return false;
    trailer.status = get32(in + 4);
    trailer.sequence = get64(in + 8);
    trailer.chunks = get64(in + 16);
    trailer.bytes = get64(in + 24);
    trailer.streamHash = get64(in + 32);
    return true;
}

void encodeEndRecord(const EndRecord &end, unsigned char (&out)[c_EndRecordSize])
{
    put32(out, c_EndMagic);
    put32(out + 4, end.flags);
    put64(out + 8, end.archiveId);
    put64(out + 16, end.members);
    put64(out + 24, end.incomplete);
    put64(out + 32, end.bytes);
    put64(out + 40, hashOf(out, 40));
}

bool decodeEndRecord(const unsigned char *in, EndRecord &end)
{
    if (get32(in) != c_EndMagic || get64(in + 40) != hashOf(in, 40))
        return false;
    end.flags = get32(in + 4);
    end.archiveId = get64(in + 8);
    end.members = get64(in + 16);
    end.incomplete = get64(in + 24);
    end.bytes = get64(in + 32);
    return true;
}

uint64_t hashChunk(const unsigned char *data, size_t length, uint64_t index)
{
    return XXH3_64bits_withSeed(data, length, index);
}

} // namespace kxsms::format
