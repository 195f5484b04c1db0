// The archive writer: one reused hashing state, no allocation per member or block.
#include "archive/ArchiveWriter.h"

#include <new>
#include <stdexcept>
#include <vector>

#include <xxhash.h>

namespace kxsms {

using namespace format;

ArchiveWriter::ArchiveWriter(OutputStream &out, uint16_t tsaType, uint64_t archiveId, int64_t created, uint32_t flags,
                             const BackupRecord &record)
    : out_(out), archiveId_(archiveId), stream_(XXH3_createState())
{
    if (stream_ == nullptr)
        throw std::bad_alloc();
    ArchiveHeader header;
    header.tsaType = tsaType;
    header.flags = flags;
    header.archiveId = archiveId;
    header.created = created;
    unsigned char head[c_ArchiveHeaderSize];
    encodeArchiveHeader(header, head);
    std::vector<unsigned char> bytes(head, head + sizeof head);
    if (!encodeBackupRecord(record, bytes)) {
        XXH3_freeState(stream_);
        throw std::invalid_argument("the paths and excludes of the backup take more than 256 KiB");
    }
    out_.write(bytes.data(), bytes.size());
}

ArchiveWriter::~ArchiveWriter()
{
    XXH3_freeState(stream_);
}

void ArchiveWriter::beginMember(MemberDescriptor &member)
{
    if (inMember_)
        throw std::logic_error("a member is already open");
    if (member.name.empty() || member.name.size() > c_MaxNameLength)
        throw std::invalid_argument("a member name must have 1 to 1023 bytes");
    member.sequence = sequence_;
    const size_t size = encodeMemberHeader(member, archiveId_, header_);
    out_.write(header_, size);
    XXH3_64bits_reset(stream_);
    chunks_ = 0;
    memberBytes_ = 0;
    inMember_ = true;
}

void ArchiveWriter::listMember(MemberDescriptor &member)
{
    if (inMember_)
        throw std::logic_error("a member is already open");
    if (member.name.empty() || member.name.size() > c_MaxNameLength)
        throw std::invalid_argument("a member name must have 1 to 1023 bytes");
    if (member.listing == Listing::Saved)
        throw std::invalid_argument("a listed member has no data");
    member.sequence = sequence_++;
    const size_t size = encodeMemberHeader(member, archiveId_, header_);
    out_.write(header_, size);
    ++members_;
    ++listed_;
}

void ArchiveWriter::writeBlock(const unsigned char *data, size_t size)
{
    if (!inMember_)
        throw std::logic_error("no member is open");
    if (size == 0)
        return;
    if (size > c_MaxChunkData)
        throw std::invalid_argument("a block may hold at most 65536 bytes");
    unsigned char head[c_ChunkHeaderSize];
    const uint64_t hash = hashChunk(data, size, chunks_);
    encodeChunkHeader(static_cast<uint32_t>(size), hash, head);
    // The member's checksum covers its chunks through their checksums, so the
    // data is hashed once.
    XXH3_64bits_update(stream_, head + 8, 8);
    out_.writeChunk(head, sizeof head, data, size);
    ++chunks_;
    memberBytes_ += size;
}

void ArchiveWriter::endMember(bool complete)
{
    if (!inMember_)
        throw std::logic_error("no member is open");
    MemberTrailer trailer;
    trailer.status = complete ? c_StatusComplete : c_StatusIncomplete;
    trailer.sequence = sequence_;
    trailer.chunks = chunks_;
    trailer.bytes = memberBytes_;
    trailer.streamHash = XXH3_64bits_digest(stream_);
    unsigned char bytes[c_MemberTrailerSize];
    encodeMemberTrailer(trailer, bytes);
    out_.write(bytes, sizeof bytes);
    inMember_ = false;
    ++sequence_;
    ++members_;
    if (!complete)
        ++incomplete_;
    totalBytes_ += memberBytes_;
}

void ArchiveWriter::finish(bool stopped, bool interrupted)
{
    if (inMember_)
        endMember(false);
    EndRecord end;
    end.flags = (stopped || interrupted ? c_EndStopped : 0) | (interrupted ? c_EndInterrupted : 0);
    end.archiveId = archiveId_;
    end.members = members_;
    end.incomplete = incomplete_;
    end.bytes = totalBytes_;
    unsigned char bytes[c_EndRecordSize];
    encodeEndRecord(end, bytes);
    out_.write(bytes, sizeof bytes);
    out_.finish();
}

} // namespace kxsms
