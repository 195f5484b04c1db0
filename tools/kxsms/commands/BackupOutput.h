// Where a backup job puts what it does: the archive's members, the progress
// counts and the lines for stderr. A job run alone writes them at once
// (DirectOutput); a job that is one of several (ParallelBackup.h) records
// them, and the one writer of the archive replays them in the scan's order.
#ifndef KXSMS_TOOLS_BACKUPOUTPUT_H
#define KXSMS_TOOLS_BACKUPOUTPUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "KXSMS.h"
#include "archive/ArchiveWriter.h"
#include "commands/ArchiveFlagCheck.h"
#include "frame/Progress.h"
#include "frame/Signals.h"
#include "io/Streams.h"

namespace kxsms {

class BackupOutput {
public:
    // What the progress counts.
    enum class Count : uint8_t { Failed, Skipped, Unchanged, Done, DoneButFailed, FileData, Bytes };

    virtual ~BackupOutput() = default;

    // A buffer of KXSMS_MAX_BLOCK bytes for the next block read, which stays
    // the block's until writeBlock has taken it and the archive let it go;
    // null when the job stops.
    virtual unsigned char *nextBlock() = 0;
    // True when the job must stop at its next step.
    virtual bool stopping() const = 0;

    // Each assigns the member its sequence number in the archive (or a copy
    // of it, when it is recorded).
    virtual void listMember(format::MemberDescriptor &member) = 0;
    virtual void beginMember(format::MemberDescriptor &member) = 0;
    virtual void writeBlock(const unsigned char *block, unsigned int size) = 0;
    virtual void endMember(bool complete) = 0;

    virtual void message(const std::string &line) = 0;
    // The data set the progress line shows.
    virtual void showing(const std::string &name) = 0;
    virtual void count(Count what, uint64_t amount = 1) = 0;
    // A data set saved whole (for the check of cleared archive flags).
    virtual void saved(const std::string &name, unsigned long long size) = 0;
    // The job stops after what it has put out so far.
    virtual void stopsHere() {}
    // A block from nextBlock that is not written after all.
    virtual void unused(unsigned char * /*block*/) {}
    // The data set's stream is known to be saved here (not handed on).
    virtual void classified() {}
    // The scan's data set is done with (saved, listed or reported).
    virtual void betweenDataSets() {}
};

// Applies a count to the progress.
void countIn(Progress &progress, BackupOutput::Count what, uint64_t amount);
// The same, into a tally given to the progress later.
void countIn(Progress::Tally &tally, BackupOutput::Count what, uint64_t amount);

// Everything at once, into the archive writer (none for a dry run) and the
// progress, with blocks read into buffers used in turn.
class DirectOutput final : public BackupOutput {
public:
    DirectOutput(ArchiveWriter *writer, Progress &progress)
        : writer_(writer), progress_(progress), blocks_(KXSMS_MAX_BLOCK * OutputStream::c_HeldChunks)
    {
    }

    unsigned char *nextBlock() override
    {
        // The archive may still hold the last blocks: each goes to the next buffer.
        return blocks_.data() + (next_++ % OutputStream::c_HeldChunks) * KXSMS_MAX_BLOCK;
    }
    bool stopping() const override { return interrupted(); }

    void listMember(format::MemberDescriptor &member) override { writer_->listMember(member); }
    void beginMember(format::MemberDescriptor &member) override { writer_->beginMember(member); }
    void writeBlock(const unsigned char *block, unsigned int size) override { writer_->writeBlock(block, size); }
    void endMember(bool complete) override { writer_->endMember(complete); }

    void message(const std::string &line) override { progress_.message(line); }
    void showing(const std::string &name) override { progress_.begin(name); }
    void count(Count what, uint64_t amount) override { countIn(progress_, what, amount); }
    void saved(const std::string &name, unsigned long long size) override { lastSaved_.saved(name, size); }

    const LastSaved &lastSaved() const { return lastSaved_; }

private:
    ArchiveWriter *writer_;
    Progress &progress_;
    std::vector<unsigned char> blocks_;
    uint64_t next_ = 0;
    LastSaved lastSaved_;
};

} // namespace kxsms

#endif
