// The archive reader: a window over the stream, records decoded in place,
// and the resynchronisation that finds the next trustworthy record after damage.
#include "archive/ArchiveReader.h"

#include <cstring>
#include <new>

#include <xxhash.h>

#include "io/Text.h"

namespace kxsms {

using namespace format;

namespace {

// How much the resynchronisation looks at in one go: enough for the largest
// member header after any candidate position.
constexpr size_t c_ResyncWindow = 64u << 10;

std::string at(uint64_t offset)
{
    return "offset " + std::to_string(offset);
}

} // namespace

ArchiveReader::ArchiveReader(InputStream &in, ProblemHandler onProblem, bool verifyData)
    : in_(in), onProblem_(std::move(onProblem)), verifyData_(verifyData), stream_(XXH3_createState()),
      window_(new unsigned char[c_WindowSize])
{
    if (stream_ == nullptr)
        throw std::bad_alloc();
}

ArchiveReader::~ArchiveReader()
{
    XXH3_freeState(stream_);
}

size_t ArchiveReader::fill(size_t want)
{
    if (end_ - begin_ >= want || eof_)
        return end_ - begin_;
    if (begin_ + want > c_WindowSize) {
        memmove(window_.get(), window_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    while (end_ - begin_ < want && !eof_) {
        const size_t n = in_.read(window_.get() + end_, c_WindowSize - end_);
        if (n == 0)
            eof_ = true;
        end_ += n;
    }
    return end_ - begin_;
}

void ArchiveReader::consume(size_t n)
{
    begin_ += n;
    consumed_ += n;
}

void ArchiveReader::report(const std::string &member, uint64_t offset, const std::string &what)
{
    ++problems_;
    if (onProblem_)
        onProblem_(Problem{member, offset, what});
}

bool ArchiveReader::memberFailed(MemberState state, const std::string &what, uint64_t offset)
{
    // The first problem of a member is the one worth telling.
    if (state_ != MemberState::Intact)
        return false;
    state_ = state;
    report(memberName_, offset, what);
    return true;
}

bool ArchiveReader::acceptableMember(const unsigned char *record) const
{
    MemberDescriptor member;
    uint64_t id = 0;
    if (!decodeMemberHeader(record, member, id))
        return false;
    // A member of another archive (one that was itself backed up) or one
    // that went before cannot be where this archive goes on.
    return (!idKnown_ || id == archiveId_) && member.sequence >= nextSequence_;
}

bool ArchiveReader::acceptableEnd(const unsigned char *record) const
{
    EndRecord end;
    return decodeEndRecord(record, end) && (!idKnown_ || end.archiveId == archiveId_);
}

bool ArchiveReader::resync()
{
    for (;;) {
        const size_t available = fill(c_ResyncWindow);
        if (available < 4) {
            consume(available);
            break;
        }
        const unsigned char *p = cursor();
        size_t i = 0;
        bool found = false;
        while (i + 4 <= available) {
            const void *hit = memchr(p + i, 'K', available - i - 3);
            if (hit == nullptr) {
                i = available - 3;
                break;
            }
            i = static_cast<size_t>(static_cast<const unsigned char *>(hit) - p);
            const uint32_t magic = get32(p + i);
            if (magic == c_MemberMagic || magic == c_EndMagic) {
                size_t need = magic == c_EndMagic ? c_EndRecordSize : c_MemberPrefix;
                if (magic == c_MemberMagic && i + need <= available)
                    need = memberHeaderSizeAt(p + i);
                // Too close to the end of the window: look again with the
                // candidate at its front (the window then holds enough).
                if (need != 0 && i + need > available && !eof_ && i > 0)
                    break;
                if (need != 0 && i + need <= available &&
                    (magic == c_MemberMagic ? acceptableMember(p + i) : acceptableEnd(p + i))) {
                    found = true;
                    break;
                }
            }
            ++i;
        }
        consume(i);
        if (found)
            break;
    }

    const bool atEnd = end_ == begin_ && eof_;
    const uint64_t skipped = consumed_ - damageStart_;
    if (!damageCause_.empty() && !quietResync_)
        report("", damageStart_,
               damageCause_ + "; " + std::to_string(skipped) + " bytes skipped" +
                   (atEnd ? " up to the end of the archive" : ", reading goes on at " + at(consumed_)));
    else if (damageCause_.empty() && atEnd)
        report("", consumed_, "the archive is truncated: it ends without its end record");
    phase_ = atEnd ? Phase::Done : Phase::Between;
    return !atEnd;
}

bool ArchiveReader::open()
{
    const size_t available = fill(c_ArchiveHeaderSize);
    if (available == 0) {
        report("", 0, "the archive is empty");
        phase_ = Phase::Done;
        return false;
    }
    if (available >= c_ArchiveHeaderSize && decodeArchiveHeader(cursor(), header_)) {
        if (header_.version > c_Version || header_.version < c_FirstVersion) {
            report("", 0,
                   "archive format version " + std::to_string(header_.version) +
                       (header_.version > c_Version ? " is newer than" : " is not one") + " this kxsms reads (" +
                       std::to_string(c_FirstVersion) + " to " + std::to_string(c_Version) + ")");
            phase_ = Phase::Done;
            return false;
        }
        consume(c_ArchiveHeaderSize);
        headerIntact_ = true;
        idKnown_ = true;
        tsaKnown_ = true;
        archiveId_ = header_.archiveId;
        phase_ = Phase::Between;
        if (header_.version >= 2)
            readBackupRecord();
        return true;
    }

    // Not a header we can trust: go on at the first member if there is one.
    const bool magicMatches = available >= sizeof c_ArchiveMagic && memcmp(cursor(), c_ArchiveMagic, 8) == 0;
    header_ = ArchiveHeader{};
    damageStart_ = 0;
    damageCause_ = magicMatches ? "damaged archive header" : "no archive header";
    quietResync_ = true;
    const bool found = resync();
    quietResync_ = false;
    if (!found && !magicMatches) {
        report("", 0, "not a kxsms archive");
        return false;
    }
    const uint64_t skipped = consumed_ - damageStart_;
    report("", 0,
           damageCause_ + "; " + std::to_string(skipped) + " bytes skipped" +
               (found ? ", reading goes on at " + at(consumed_) : " up to the end of the archive"));
    return found;
}

void ArchiveReader::readBackupRecord()
{
    const uint64_t here = consumed_;
    size_t size = 0;
    if (fill(c_BackupPrefix) >= c_BackupPrefix && (size = backupRecordSize(cursor())) != 0 && fill(size) >= size &&
        decodeBackupRecord(cursor(), record_)) {
        consume(size);
        recordIntact_ = true;
        return;
    }
    // The members that follow are found as after any damage.
    record_ = BackupRecord{};
    damageStart_ = here;
    damageCause_ = "damaged backup record at " + at(here) + " (the paths and excludes of the backup are not known)";
    phase_ = Phase::Resync;
}

bool ArchiveReader::nextMember(MemberDescriptor &member)
{
    if (phase_ == Phase::Start && !open())
        return false;
    if (phase_ == Phase::InMember) {
        const unsigned char *data = nullptr;
        size_t size = 0;
        while (readBlock(data, size)) {
        }
    }

    for (;;) {
        if (phase_ == Phase::Done)
            return false;
        if (phase_ == Phase::Resync) {
            if (!resync())
                return false;
            continue;
        }

        const uint64_t here = consumed_;
        const size_t available = fill(c_MemberPrefix);
        if (available < 4) {
            consume(available);
            report("", here, "the archive is truncated: it ends without its end record");
            phase_ = Phase::Done;
            return false;
        }
        const uint32_t magic = get32(cursor());
        if (magic == c_EndMagic)
            return readEnd();

        if (magic != c_MemberMagic) {
            damageCause_ = "unexpected data at " + at(here) + " where a member should begin";
        } else if (available < c_MemberPrefix) {
            consume(available);
            report("", here, "the archive is truncated inside a member header");
            phase_ = Phase::Done;
            return false;
        } else if (const size_t size = memberHeaderSizeAt(cursor()); size == 0) {
            damageCause_ = "damaged member header at " + at(here);
        } else if (fill(size) < size) {
            damageCause_ = "a member header at " + at(here) + " that is damaged or cut short";
        } else if (uint64_t id = 0; !decodeMemberHeader(cursor(), member, id)) {
            damageCause_ = "damaged member header at " + at(here);
        } else if ((idKnown_ && id != archiveId_) || member.sequence < nextSequence_) {
            damageCause_ = "a member header at " + at(here) + " that does not belong to this archive";
        } else {
            if (!idKnown_) {
                idKnown_ = true;
                archiveId_ = id;
            }
            if (!tsaKnown_) {
                tsaKnown_ = true;
                header_.tsaType = member.tsaType;
            }
            if (member.sequence > nextSequence_)
                report("", here,
                       std::to_string(member.sequence - nextSequence_) + " member(s) lost before " + at(here));
            consume(size);
            memberName_ = member.name;
            memberSequence_ = member.sequence;
            nextSequence_ = member.sequence + 1;
            ++membersSeen_;
            chunks_ = 0;
            memberBytes_ = 0;
            state_ = MemberState::Intact;
            // Only an incremental backup passes data sets over as unchanged.
            if (member.listing == Listing::Unchanged && headerIntact_ && (header_.flags & c_HeaderIncremental) == 0)
                report(member.name, here, "listed as unchanged in an archive that is not incremental");
            // A member listed without data is its header alone.
            phase_ = member.listing == Listing::Saved ? Phase::InMember : Phase::Between;
            if (phase_ == Phase::InMember)
                XXH3_64bits_reset(stream_);
            return true;
        }
        // The resynchronisation looks at this position again and passes over it.
        damageStart_ = here;
        phase_ = Phase::Resync;
    }
}

bool ArchiveReader::readEnd()
{
    const uint64_t here = consumed_;
    if (fill(c_EndRecordSize) < c_EndRecordSize) {
        consume(end_ - begin_);
        report("", here, "the archive is truncated inside its end record");
        phase_ = Phase::Done;
        return false;
    }
    EndRecord end;
    if (!decodeEndRecord(cursor(), end) || (idKnown_ && end.archiveId != archiveId_)) {
        report("", here, "damaged end record at " + at(here));
        consume(c_EndRecordSize);
        phase_ = Phase::Done;
        return false;
    }
    consume(c_EndRecordSize);
    endRecord_ = end;
    endSeen_ = true;
    phase_ = Phase::Done;
    const bool clean = problems_ == 0;
    if (end.members > nextSequence_) {
        const uint64_t lost = end.members - nextSequence_;
        report("", here, std::to_string(lost) + (lost == 1 ? " member" : " members") + " lost before the end record");
    } else if (clean && (end.members != membersSeen_ || end.bytes != bytesSeen_)) {
        report("", here,
               "the end record counts " + counted(end.members, "member") + " and " + counted(end.bytes, "byte") +
                   ", the archive holds " + counted(membersSeen_, "member") + " and " + counted(bytesSeen_, "byte"));
    }
    if ((end.flags & c_EndInterrupted) != 0) {
        report("", here, "the backup that wrote this archive was interrupted: it holds the data sets saved before");
        ++recorded_;
    } else if ((end.flags & c_EndStopped) != 0) {
        report("", here, "the backup that wrote this archive stopped early: it holds only part of its data sets");
        ++recorded_;
    }
    return false;
}

bool ArchiveReader::readBlock(const unsigned char *&data, size_t &size)
{
    if (phase_ != Phase::InMember)
        return false;
    for (;;) {
        const uint64_t here = consumed_;
        const size_t available = fill(c_ChunkHeaderSize);
        if (available < 4 || (available < c_ChunkHeaderSize && eof_)) {
            consume(available);
            memberFailed(MemberState::Damaged, "the archive ends inside this member", here);
            report("", consumed_, "the archive is truncated: it ends without its end record");
            phase_ = Phase::Done;
            return false;
        }
        const uint32_t magic = get32(cursor());
        if (magic == c_TrailerMagic) {
            finishTrailer();
            return false;
        }
        const uint32_t length = chunkLength(cursor());
        if (length == 0) {
            // Framing is lost: the member ends here, and the next member is
            // searched for from this very position (it may start right here).
            memberFailed(MemberState::Damaged, "unexpected data at " + at(here) + " inside this member", here);
            damageStart_ = here;
            damageCause_.clear();
            phase_ = Phase::Resync;
            return false;
        }
        if (fill(c_ChunkHeaderSize + length) < c_ChunkHeaderSize + length) {
            // Either the archive ends inside this chunk or its length is
            // damaged; what is left is searched for the next member.
            memberFailed(
                MemberState::Damaged,
                "the archive ends inside this member, or the length of the chunk at " + at(here) + " is damaged", here);
            damageStart_ = here;
            damageCause_.clear();
            phase_ = Phase::Resync;
            return false;
        }
        const unsigned char *block = cursor() + c_ChunkHeaderSize;
        const uint64_t index = chunks_;
        unsigned char storedHash[8];
        memcpy(storedHash, cursor() + 8, sizeof storedHash);
        if (verifyData_ && hashChunk(block, length, index) != chunkHash(cursor())) {
            // The data or the length itself is damaged; a damaged length
            // would take the next records for data, so the next member is
            // searched for from just after this chunk's header.
            memberFailed(MemberState::Damaged,
                         "data chunk " + std::to_string(index) + " at " + at(here) + " fails its checksum", here);
            consume(c_ChunkHeaderSize);
            damageStart_ = here;
            damageCause_.clear();
            phase_ = Phase::Resync;
            return false;
        }
        ++chunks_;
        memberBytes_ += length;
        bytesSeen_ += length;
        consume(c_ChunkHeaderSize + length);
        if (verifyData_)
            XXH3_64bits_update(stream_, storedHash, sizeof storedHash);
        data = block;
        size = length;
        return true;
    }
}

void ArchiveReader::finishTrailer()
{
    const uint64_t here = consumed_;
    if (fill(c_MemberTrailerSize) < c_MemberTrailerSize) {
        consume(end_ - begin_);
        memberFailed(MemberState::Damaged, "the archive ends inside this member's trailer", here);
        report("", consumed_, "the archive is truncated: it ends without its end record");
        phase_ = Phase::Done;
        return;
    }
    MemberTrailer trailer;
    const bool intact = decodeMemberTrailer(cursor(), trailer);
    consume(c_MemberTrailerSize);
    phase_ = Phase::Between;
    if (!intact) {
        memberFailed(MemberState::Damaged, "damaged member trailer at " + at(here), here);
        return;
    }
    if (trailer.sequence != memberSequence_ || trailer.chunks != chunks_ || trailer.bytes != memberBytes_) {
        memberFailed(MemberState::Damaged,
                     "the trailer at " + at(here) + " counts " + std::to_string(trailer.chunks) + " chunks and " +
                         std::to_string(trailer.bytes) + " bytes, the member holds " + std::to_string(chunks_) +
                         " chunks and " + std::to_string(memberBytes_) + " bytes",
                     here);
        return;
    }
    if (verifyData_ && state_ == MemberState::Intact && trailer.streamHash != XXH3_64bits_digest(stream_)) {
        memberFailed(MemberState::Damaged, "the member's stream fails its checksum", here);
        return;
    }
    if (trailer.status != c_StatusComplete &&
        memberFailed(MemberState::Incomplete, "incomplete: the data set could not be read to its end at backup", here))
        ++recorded_;
}

} // namespace kxsms
