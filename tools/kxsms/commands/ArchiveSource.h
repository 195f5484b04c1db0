// An archive opened for reading (-f FILE, or - for standard input): its file,
// its stream (decompressed when it is compressed) and its reader, every
// problem found reported under the archive's name. list, verify and restore
// read their archives through it.
#ifndef KXSMS_TOOLS_ARCHIVESOURCE_H
#define KXSMS_TOOLS_ARCHIVESOURCE_H

#include <cstdint>
#include <memory>
#include <string>

#include "archive/ArchiveReader.h"
#include "frame/Progress.h"
#include "io/Sealed.h"
#include "io/Streams.h"
#include "io/Text.h"

namespace kxsms {

class ArchiveSource {
public:
    // verifyData false leaves the data checksums unchecked (a listing).
    ArchiveSource(std::string path, Progress &progress, bool verifyData = true);
    ~ArchiveSource();
    ArchiveSource(const ArchiveSource &) = delete;
    ArchiveSource &operator=(const ArchiveSource &) = delete;

    // Opens the file and reads the archive header; false (reported) when the
    // file cannot be opened or holds no archive, or is encrypted and the
    // command's credentials do not open it. A read a signal broke off
    // throws Interrupted, one that failed IoError.
    bool open();
    bool isOpen() const { return reader_ != nullptr; }

    // How the archive is named in messages.
    const std::string &label() const { return label_; }
    ArchiveReader &reader() { return *reader_; }
    const ArchiveReader &reader() const { return *reader_; }
    // How the names of the archive's TSA are shown.
    NameStyle names() const;

    // Damage outside any member (lost members, a truncated archive) or in one.
    bool damaged() const { return reader_->problems() > 0 || streamDamage_ > 0; }
    // Damaged beyond what its backup recorded in it (see ArchiveReader::damage).
    bool corrupted() const { return reader_->damage() > 0 || streamDamage_ > 0; }
    // It lists every data set its backup went through.
    bool whole() const;
    // The bytes read of the file so far, and its size when it is a regular
    // file (0: not known, as of a pipe).
    uint64_t bytesRead() const { return file_ ? file_->bytesRead() : 0; }
    uint64_t fileSize() const;

private:
    void close();

    std::string path_;
    std::string label_;
    Progress &progress_;
    bool verifyData_;
    int fd_ = -1;
    uint64_t streamDamage_ = 0;
    std::unique_ptr<FdInput> file_;
    std::unique_ptr<ReplayInput> replay_;         // a plain archive: its first bytes again
    std::unique_ptr<sealed::SealedInput> sealed_; // an encrypted one, opened
    std::unique_ptr<ArchiveInput> input_;
    std::unique_ptr<ArchiveReader> reader_;
};

} // namespace kxsms

#endif
