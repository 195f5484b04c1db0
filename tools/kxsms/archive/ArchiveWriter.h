// Writes an archive: the header, then per data set its descriptor, its SMS
// stream in checksummed chunks and a trailer, and at the end the counts.
#ifndef KXSMS_TOOLS_ARCHIVEWRITER_H
#define KXSMS_TOOLS_ARCHIVEWRITER_H

#include <cstdint>

#include "archive/Format.h"
#include "io/Streams.h"

struct XXH3_state_s;

namespace kxsms {

class ArchiveWriter {
public:
    // Writes the archive header and the backup record at once; flags are
    // the header's (c_HeaderIncremental, c_HeaderPartial). Throws
    // std::invalid_argument when the record's paths and excludes do not fit.
    ArchiveWriter(OutputStream &out, uint16_t tsaType, uint64_t archiveId, int64_t created, uint32_t flags = 0,
                  const format::BackupRecord &record = {});
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter &) = delete;
    ArchiveWriter &operator=(const ArchiveWriter &) = delete;

    // Starts a member; its sequence number is assigned here. The name must be
    // 1..1023 bytes (throws std::invalid_argument otherwise).
    void beginMember(format::MemberDescriptor &member);
    // A member without data (member.listing Unchanged or NotSaved): its
    // header alone. Its sequence number is assigned here.
    void listMember(format::MemberDescriptor &member);
    // One block of the member's stream, at most 65536 bytes; empty blocks are dropped.
    void writeBlock(const unsigned char *data, size_t size);
    // Ends the member. complete is false when its stream could not be read to the end.
    void endMember(bool complete);
    // Writes the end record and flushes the stream. stopped records that the
    // backup ended before it had gone through every data set; interrupted,
    // that a signal ended it (the members before are complete).
    void finish(bool stopped = false, bool interrupted = false);

    uint64_t members() const { return members_; }
    uint64_t bytes() const { return totalBytes_; }
    uint64_t listed() const { return listed_; }

private:
    OutputStream &out_;
    uint64_t archiveId_;
    XXH3_state_s *stream_;
    unsigned char header_[format::memberHeaderSize(format::c_MaxNameLength)];
    bool inMember_ = false;
    uint64_t sequence_ = 0;
    uint64_t chunks_ = 0;
    uint64_t memberBytes_ = 0;
    uint64_t members_ = 0;
    uint64_t incomplete_ = 0;
    uint64_t totalBytes_ = 0;
    uint64_t listed_ = 0;
};

} // namespace kxsms

#endif
