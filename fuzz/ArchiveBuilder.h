// kxsms archives for the fuzz targets: read in pieces, put together record by record from
// the fuzzer's choices with every checksum right: an archive header of any
// version, a backup record, members saved (chunks, trailer) or listed
// without data, an end record. Some choices make a record wrong on purpose
// (a chunk checksum, a count, a sequence, an archive id, a missing trailer,
// a byte changed); the builder notes whether any did, so that a target can
// hold the reader to reading a sound archive exactly.
#ifndef KXSMS_FUZZ_ARCHIVEBUILDER_H
#define KXSMS_FUZZ_ARCHIVEBUILDER_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <xxhash.h>

#include "FuzzInput.h"
#include "archive/Format.h"
#include "io/Streams.h"

namespace fuzzarchive {

namespace format = kxsms::format;

// Bytes handed out in pieces of at most `step`, as a pipe delivers them.
class PieceInput : public kxsms::InputStream {
public:
    PieceInput(const unsigned char *data, size_t size, size_t step) : data_(data), size_(size), step_(step) {}
    size_t read(void *out, size_t size) override
    {
        size_t n = size_ - at_;
        n = n < size ? n : size;
        n = n < step_ ? n : step_;
        if (n == 0)
            return 0; // an empty input may have no bytes at all (data_ null)
        memcpy(out, data_ + at_, n);
        at_ += n;
        return n;
    }

private:
    const unsigned char *data_;
    size_t size_;
    size_t step_;
    size_t at_ = 0;
};

struct BuiltMember {
    std::string name;
    format::Listing listing = format::Listing::Saved;
    bool complete = true;
    std::string data; // the chunks' data, in order
};

struct BuiltArchive {
    std::vector<unsigned char> bytes;
    format::ArchiveHeader header;
    format::BackupRecord record;
    bool hasRecord = false;
    std::vector<BuiltMember> members;
    bool sound = true; // no choice made anything wrong
};

// A choice that is usually right: wrong one time in `odds` (and never when
// the input has run out).
inline bool wrong(FuzzInput &in, BuiltArchive &archive, unsigned odds = 16)
{
    const bool chosen = in.byte() % odds == odds - 1;
    archive.sound = archive.sound && !chosen;
    return chosen;
}

inline void append(std::vector<unsigned char> &out, const unsigned char *bytes, size_t size)
{
    out.insert(out.end(), bytes, bytes + size);
}

inline std::string memberName(FuzzInput &in)
{
    const char *const names[] = {"/src", "/src/a", "/src/b/c", "DOM1:\\dir\\x", ".CN=Admin.O=Acme.[Root]"};
    std::string name = in.byte() % 4 == 0 ? in.word(40) : in.pick(names);
    return name.empty() ? "/x" : name;
}

inline void appendMember(FuzzInput &in, BuiltArchive &archive, uint64_t sequence)
{
    format::MemberDescriptor member;
    member.name = memberName(in);
    member.tsaType = wrong(in, archive, 32) ? in.byte() : archive.header.tsaType;
    member.nameSpace = in.pick<uint32_t>({2, 0, 0xFFFFFFFE, 256});
    const uint8_t flags = in.byte();
    member.parent = (flags & 1) != 0;
    member.archive = (flags & 2) != 0;
    member.listing = static_cast<format::Listing>((flags >> 2) % 3);
    member.created = static_cast<int64_t>(in.number(4));
    member.modified = static_cast<int64_t>(in.number(4));
    member.accessed = static_cast<int64_t>(in.number(4));
    member.size = in.number(2);
    member.sequence = wrong(in, archive) ? in.byte() : sequence;
    const uint64_t id = wrong(in, archive) ? archive.header.archiveId + 1 : archive.header.archiveId;
    unsigned char head[format::memberHeaderSize(format::c_MaxNameLength)];
    append(archive.bytes, head, format::encodeMemberHeader(member, id, head));
    BuiltMember built{member.name, member.listing, true, {}};
    if (member.listing != format::Listing::Saved) {
        archive.members.push_back(built);
        return;
    }
    XXH3_state_t *state = XXH3_createState();
    XXH3_64bits_reset(state);
    const uint64_t chunks = in.byte() % 4;
    for (uint64_t c = 0; c < chunks; ++c) {
        std::string data = in.word(80);
        if (data.empty())
            data = "d";
        unsigned char chunk[format::c_ChunkHeaderSize];
        uint64_t hash = format::hashChunk(reinterpret_cast<const unsigned char *>(data.data()), data.size(), c);
        if (wrong(in, archive))
            hash ^= 1;
        format::encodeChunkHeader(static_cast<uint32_t>(data.size()), hash, chunk);
        XXH3_64bits_update(state, chunk + 8, 8);
        append(archive.bytes, chunk, sizeof chunk);
        append(archive.bytes, reinterpret_cast<const unsigned char *>(data.data()), data.size());
        built.data += data;
    }
    format::MemberTrailer trailer;
    trailer.status = in.byte() % 8 == 0 ? format::c_StatusIncomplete : format::c_StatusComplete;
    built.complete = trailer.status == format::c_StatusComplete;
    trailer.sequence = member.sequence;
    trailer.chunks = wrong(in, archive) ? chunks + 1 : chunks;
    trailer.bytes = built.data.size();
    trailer.streamHash = XXH3_64bits_digest(state);
    XXH3_freeState(state);
    if (wrong(in, archive))
        trailer.streamHash ^= 2;
    if (!wrong(in, archive, 32)) {
        unsigned char bytes[format::c_MemberTrailerSize];
        format::encodeMemberTrailer(trailer, bytes);
        append(archive.bytes, bytes, sizeof bytes);
    }
    archive.members.push_back(built);
}

// An archive; `paths` and `started` are the backup record's and `id` the
// archive's when given (a chain's archives share their paths), else the
// fuzzer's.
inline BuiltArchive buildArchive(FuzzInput &in, const std::vector<std::string> *paths = nullptr, int64_t started = 0,
                                 uint64_t id = 0)
{
    BuiltArchive archive;
    format::ArchiveHeader &header = archive.header;
    header.version = static_cast<uint16_t>(wrong(in, archive, 32) ? in.pick<uint16_t>({0, 1, 3}) : format::c_Version);
    header.tsaType = static_cast<uint16_t>(in.byte() % 8 == 0 ? in.byte() % 4 : format::c_TsaFileSystem);
    header.flags = in.byte() % 4 == 0 ? in.byte() % 4 : 0;
    header.archiveId = id != 0 ? id : 1 + in.byte() % 8;
    header.created = static_cast<int64_t>(in.number(4));
    unsigned char head[format::c_ArchiveHeaderSize];
    format::encodeArchiveHeader(header, head);
    append(archive.bytes, head, sizeof head);
    if (header.version >= 2 && !wrong(in, archive, 32)) {
        format::BackupRecord &record = archive.record;
        if (paths != nullptr) {
            record.paths = *paths;
        } else {
            for (size_t i = in.byte() % 3; i > 0; --i)
                record.paths.push_back(memberName(in));
        }
        for (size_t i = in.byte() % 3; i > 0; --i)
            record.excludes.push_back(in.word(12));
        record.startedNanoseconds = paths != nullptr ? started : static_cast<int64_t>(in.number(2)) * 1000;
        archive.hasRecord = format::encodeBackupRecord(record, archive.bytes);
    }
    const uint64_t members = in.byte() % 6;
    for (uint64_t i = 0; i < members; ++i)
        appendMember(in, archive, i);
    if (!wrong(in, archive)) {
        format::EndRecord end;
        end.flags = in.byte() % 8 == 0 ? format::c_EndStopped : 0;
        end.archiveId = header.archiveId;
        end.members = wrong(in, archive) ? members + 1 : members;
        for (const BuiltMember &member : archive.members)
            end.incomplete += member.listing == format::Listing::Saved && !member.complete ? 1 : 0;
        for (const BuiltMember &member : archive.members)
            end.bytes += member.data.size();
        unsigned char bytes[format::c_EndRecordSize];
        format::encodeEndRecord(end, bytes);
        append(archive.bytes, bytes, sizeof bytes);
    }
    // Damage anywhere: a byte changed or the archive cut short.
    if (!archive.bytes.empty() && wrong(in, archive, 32)) {
        const size_t at = static_cast<size_t>(in.number(2)) % archive.bytes.size();
        if (in.byte() % 2 == 0)
            archive.bytes[at] ^= static_cast<unsigned char>(1 + in.byte());
        else
            archive.bytes.resize(at);
    }
    return archive;
}

// An archive as kxsms wrote it, perhaps changed by the fuzzer, with the
// checksums of its records made right again (and, with data, its chunks'
// and members' too), so that the fuzzer changes the fields of real records
// rather than breaking their checksums. Bytes that start no record are
// passed over, as a reader resynchronising does.
inline void repairArchive(std::vector<unsigned char> &bytes, bool data)
{
    const size_t size = bytes.size();
    unsigned char *p = bytes.data();
    auto putHash = [](unsigned char *at, uint64_t hash) { format::put64(at, hash); };
    size_t at = 0;
    if (size >= format::c_ArchiveHeaderSize && memcmp(p, format::c_ArchiveMagic, sizeof format::c_ArchiveMagic) == 0) {
        putHash(p + 32, XXH3_64bits(p, 32));
        at = format::c_ArchiveHeaderSize;
    }
    XXH3_state_t *state = XXH3_createState();
    XXH3_64bits_reset(state);
    uint64_t chunk = 0;
    while (at + 8 <= size) {
        const uint32_t magic = format::get32(p + at);
        size_t length = 0;
        if (magic == format::c_BackupMagic) {
            length = format::get32(p + at + 4);
            if (length >= format::c_BackupFixedSize + format::c_MemberHashSize && length <= size - at)
                putHash(p + at + length - 8, XXH3_64bits(p + at, length - 8));
        } else if (magic == format::c_MemberMagic && at + format::c_MemberFixedSize <= size) {
            const size_t name = format::get16(p + at + 4);
            length = format::memberHeaderSize(name);
            if (name > 0 && name <= format::c_MaxNameLength && length <= size - at)
                putHash(p + at + length - 8, XXH3_64bits(p + at, length - 8));
            XXH3_64bits_reset(state);
            chunk = 0;
        } else if (magic == format::c_ChunkMagic && at + format::c_ChunkHeaderSize <= size) {
            const size_t count = format::get32(p + at + 4);
            length = format::c_ChunkHeaderSize + count;
            if (count <= format::c_MaxChunkData && length <= size - at && data)
                putHash(p + at + 8, format::hashChunk(p + at + format::c_ChunkHeaderSize, count, chunk));
            XXH3_64bits_update(state, p + at + 8, 8);
            ++chunk;
        } else if (magic == format::c_TrailerMagic && at + format::c_MemberTrailerSize <= size) {
            if (data)
                putHash(p + at + 32, XXH3_64bits_digest(state));
            putHash(p + at + 40, XXH3_64bits(p + at, 40));
            length = format::c_MemberTrailerSize;
        } else if (magic == format::c_EndMagic && at + format::c_EndRecordSize <= size) {
            putHash(p + at + 40, XXH3_64bits(p + at, 40));
            length = format::c_EndRecordSize;
        }
        at += length == 0 || length > size - at ? 1 : length;
    }
    XXH3_freeState(state);
}

} // namespace fuzzarchive

#endif
