// The records of a kxsms archive of format 2 as a reader meets them: the
// archive header, the backup record, members saved (header, chunks,
// trailer) and members listed without data (unchanged, not saved), the end
// record. The archive is put together from the fuzzer's choices with every
// checksum right (ArchiveBuilder.h), so that the fuzzer reaches what the
// reader does with the records' fields and not only the checksums that
// refuse them; some choices make a record wrong on purpose.
//
// Whatever it reads, the reader must not crash, must hand out names of at
// most 1023 bytes and blocks of at most 65536; and an archive that no choice
// made wrong must read back exactly: every member with its name, listing,
// data and state, then the end record. Each record the builder wrote must
// also decode to what it encodes.
//
// Archives as kxsms wrote them are taken too (the seeds are real ones): their
// records' checksums are made right again after the fuzzer changed them
// (repairArchive), and the reader must read the same whether it is given
// the archive whole or in small pieces.
//
// Input: a byte for the size of the pieces the reader is given, a byte
// whose bit 0 chooses a real archive (the rest of the input; bit 1: the
// chunks' and members' checksums made right too) or the builder's choices.
// Compressed archives are left to archive_reader_fuzz.
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "ArchiveBuilder.h"
#include "archive/ArchiveReader.h"
#include "io/Streams.h"

namespace {

// The records decode to what was encoded: the header and the backup record.
void checkRecords(const fuzzarchive::BuiltArchive &built)
{
    if (!built.sound)
        return;
    kxsms::format::ArchiveHeader header;
    fuzzsupport::require(kxsms::format::decodeArchiveHeader(built.bytes.data(), header));
    fuzzsupport::require(header.version == built.header.version && header.archiveId == built.header.archiveId &&
                         header.tsaType == built.header.tsaType && header.flags == built.header.flags);
    if (!built.hasRecord)
        return;
    const unsigned char *record = built.bytes.data() + kxsms::format::c_ArchiveHeaderSize;
    fuzzsupport::require(kxsms::format::backupRecordSize(record) != 0);
    kxsms::format::BackupRecord decoded;
    fuzzsupport::require(kxsms::format::decodeBackupRecord(record, decoded));
    fuzzsupport::require(decoded.paths == built.record.paths && decoded.excludes == built.record.excludes &&
                         decoded.startedNanoseconds == built.record.startedNanoseconds);
}

} // namespace

namespace {

// What a reader makes of an archive: each member with its data and state,
// the end, the number of problems.
struct Reading {
    std::vector<std::string> members;
    bool opened = false;
    bool end = false;
    uint64_t problems = 0;
    bool operator==(const Reading &) const = default;
};

Reading readArchive(const std::vector<unsigned char> &bytes, size_t step, const fuzzarchive::BuiltArchive *built)
{
    Reading reading;
    fuzzarchive::PieceInput raw(bytes.data(), bytes.size(), step);
    kxsms::ArchiveInput archiveInput(raw, [](const std::string &) {});
    kxsms::ArchiveReader reader(archiveInput, [](const kxsms::ArchiveReader::Problem &) {});
    reading.opened = reader.open();
    if (!reading.opened) {
        fuzzsupport::require(built == nullptr || !built->sound);
        return reading;
    }
    kxsms::format::MemberDescriptor member;
    size_t index = 0;
    while (reader.nextMember(member) && index < 100000) {
        fuzzsupport::require(!member.name.empty() && member.name.size() <= kxsms::format::c_MaxNameLength);
        std::string read;
        const unsigned char *block = nullptr;
        size_t blockSize = 0;
        while (reader.readBlock(block, blockSize)) {
            fuzzsupport::require(blockSize <= kxsms::format::c_MaxChunkData && (blockSize == 0 || block != nullptr));
            read.append(reinterpret_cast<const char *>(block), blockSize);
        }
        const bool intact = reader.memberState() == kxsms::ArchiveReader::MemberState::Intact;
        if (built != nullptr && built->sound) {
            fuzzsupport::require(index < built->members.size());
            const fuzzarchive::BuiltMember &expected = built->members[index];
            fuzzsupport::require(member.name == expected.name && member.listing == expected.listing &&
                                 read == expected.data);
            fuzzsupport::require(intact == (expected.listing != kxsms::format::Listing::Saved || expected.complete));
        }
        reading.members.push_back(member.name + "\n" + std::to_string(static_cast<int>(member.listing)) + "\n" +
                                  std::to_string(static_cast<int>(reader.memberState())) + "\n" + read);
        ++index;
    }
    if (built != nullptr && built->sound)
        fuzzsupport::require(index == built->members.size() && reader.endSeen());
    reading.end = reader.endSeen();
    reading.problems = reader.problems();
    return reading;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const size_t step = 1 + static_cast<size_t>(input.byte()) * 97;
    const uint8_t mode = input.byte();
    if ((mode & 1) != 0) {
        const std::string rest = input.remaining();
        // Compressed archives are archive_reader_fuzz's: their records are
        // out of the fuzzer's reach here, and the decompressor's buffers
        // would make each run many times slower.
        if (rest.compare(0, 4, "\x28\xb5\x2f\xfd") == 0)
            return 0;
        std::vector<unsigned char> bytes(rest.begin(), rest.end());
        fuzzarchive::repairArchive(bytes, (mode & 2) != 0);
        fuzzsupport::require(readArchive(bytes, SIZE_MAX, nullptr) == readArchive(bytes, step, nullptr));
        return 0;
    }
    const fuzzarchive::BuiltArchive built = fuzzarchive::buildArchive(input);
    checkRecords(built);
    readArchive(built.bytes, step, &built);
    return 0;
}
