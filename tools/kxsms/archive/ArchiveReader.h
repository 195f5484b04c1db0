// Reads an archive record by record, checking every length before it is
// trusted and every checksum, and steps over damage: a damaged member is
// reported and skipped, and after damage the reader finds the next member.
//
// Memory is bounded whatever the input: one window of 1 MiB, names of at most
// 1023 bytes, chunks of at most 65536 bytes.
#ifndef KXSMS_TOOLS_ARCHIVEREADER_H
#define KXSMS_TOOLS_ARCHIVEREADER_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/Format.h"
#include "io/Streams.h"

struct XXH3_state_s;

namespace kxsms {

class ArchiveReader {
public:
    struct Problem {
        std::string member; // name of the member concerned, empty when none
        uint64_t offset;    // offset in the (uncompressed) archive stream
        std::string what;
    };
    using ProblemHandler = std::function<void(const Problem &)>;

    enum class MemberState { Intact, Damaged, Incomplete };

    // verifyData false skips the data checksums (listing); framing, lengths
    // and record checksums are always checked.
    ArchiveReader(InputStream &in, ProblemHandler onProblem, bool verifyData = true);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader &) = delete;
    ArchiveReader &operator=(const ArchiveReader &) = delete;

    // Reads the archive header. False when the input holds no archive (or one
    // of a newer format); the reason has been reported. A damaged header is
    // reported and reading goes on at the first member.
    bool open();
    bool headerIntact() const { return headerIntact_; }
    const format::ArchiveHeader &header() const { return header_; }
    // The TSA type the archive was written from: the header's, or the first
    // member's when the header is damaged.
    uint16_t tsaType() const { return header_.tsaType; }
    // What the backup was asked for (format version 2); false when the
    // archive has no such record (version 1) or it is damaged (reported).
    bool backupRecordIntact() const { return recordIntact_; }
    const format::BackupRecord &backupRecord() const { return record_; }

    // Steps to the next member, skipping what is left of the current one. A
    // member listed without data (member.listing not Saved) has no blocks.
    // False at the end of the archive (or of what could be read of it).
    bool nextMember(format::MemberDescriptor &member);
    // The next block of the current member's stream (valid until the next
    // call). False at the end of the member; memberState() then tells how it ended.
    // Once a member is found damaged no further block of it is returned.
    bool readBlock(const unsigned char *&data, size_t &size);
    MemberState memberState() const { return state_; }

    // True when an intact end record closed the archive.
    bool endSeen() const { return endSeen_; }
    const format::EndRecord &endRecord() const { return endRecord_; }
    uint64_t problems() const { return problems_; }
    // The problems that are damage: all but what the backup itself recorded
    // (a data set it could not read to its end, a job it stopped early).
    uint64_t damage() const { return problems_ - recorded_; }
    uint64_t offset() const { return consumed_; }

    static constexpr size_t c_WindowSize = 1u << 20;

private:
    enum class Phase { Start, Between, InMember, Resync, Done };

    size_t fill(size_t want);
    const unsigned char *cursor() const { return window_.get() + begin_; }
    void consume(size_t n);
    void report(const std::string &member, uint64_t offset, const std::string &what);
    // True when the problem was reported (a member's first only).
    bool memberFailed(MemberState state, const std::string &what, uint64_t offset);
    bool acceptableMember(const unsigned char *record) const;
    bool acceptableEnd(const unsigned char *record) const;
    // Scans for the next record a reader can trust; false at the end of input.
    bool resync();
    bool readEnd();
    void readBackupRecord();
    void finishTrailer();

    InputStream &in_;
    ProblemHandler onProblem_;
    bool verifyData_;
    XXH3_state_s *stream_;

    std::unique_ptr<unsigned char[]> window_; // c_WindowSize bytes, not cleared: only read bytes are looked at
    size_t begin_ = 0;
    size_t end_ = 0;
    bool eof_ = false;
    uint64_t consumed_ = 0;

    Phase phase_ = Phase::Start;
    format::ArchiveHeader header_;
    bool headerIntact_ = false;
    bool idKnown_ = false;
    uint64_t archiveId_ = 0;
    bool tsaKnown_ = false;
    bool recordIntact_ = false;
    format::BackupRecord record_;

    // Where damage began and why, while resynchronising.
    uint64_t damageStart_ = 0;
    std::string damageCause_; // empty when a member's own report already tells of it
    bool quietResync_ = false;

    // The current member.
    std::string memberName_;
    uint64_t memberSequence_ = 0;
    uint64_t chunks_ = 0;
    uint64_t memberBytes_ = 0;
    MemberState state_ = MemberState::Intact;

    uint64_t nextSequence_ = 0;
    uint64_t membersSeen_ = 0;
    uint64_t bytesSeen_ = 0;
    uint64_t problems_ = 0;
    uint64_t recorded_ = 0; // of problems_, recorded by the backup
    bool endSeen_ = false;
    format::EndRecord endRecord_;
};

} // namespace kxsms

#endif
