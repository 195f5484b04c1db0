// Opening an archive for reading, and closing it.
#include "commands/ArchiveSource.h"

#include <sys/stat.h>
#include <cstring>

#include "archive/ArchiveFiles.h"
#include "frame/ArchiveSecrets.h"
#include "frame/Signals.h"

namespace kxsms {

ArchiveSource::ArchiveSource(std::string path, Progress &progress, bool verifyData)
    : path_(std::move(path)), label_(archiveLabel(path_)), progress_(progress), verifyData_(verifyData)
{
}

ArchiveSource::~ArchiveSource()
{
    close();
}

bool ArchiveSource::open()
{
    std::string error;
    fd_ = openArchiveForReading(path_, error);
    if (fd_ < 0) {
        progress_.message(error);
        return false;
    }
    file_ = std::make_unique<FdInput>(fd_, &interrupted);
    const DamageHandler damage = [this](const std::string &what) {
        ++streamDamage_;
        progress_.message(label_ + ": " + what);
    };
    unsigned char magic[sizeof sealed::c_Magic];
    size_t got = 0;
    while (got < sizeof magic) {
        const size_t n = file_->read(magic + got, sizeof magic - got);
        if (n == 0)
            break;
        got += n;
    }
    InputStream *stream = nullptr;
    if (got == sizeof magic && memcmp(magic, sealed::c_Magic, sizeof magic) == 0) {
        sealed::Header header;
        sealed::LockedBytes key;
        if (sealed::readHeader(*file_, header, error))
            key = unlockArchive(header, path_, error);
        if (key.empty()) {
            progress_.message(label_ + ": " + error);
            return false;
        }
        sealed_ = std::make_unique<sealed::SealedInput>(*file_, header, std::move(key), damage);
        stream = sealed_.get();
    } else {
        replay_ = std::make_unique<ReplayInput>(*file_, magic, got);
        stream = replay_.get();
    }
    input_ = std::make_unique<ArchiveInput>(*stream, damage);
    reader_ = std::make_unique<ArchiveReader>(
        *input_,
        [this](const ArchiveReader::Problem &problem) {
            if (problem.member.empty())
                progress_.message(label_ + ": " + problem.what);
            else
                progress_.message(label_ + ": member " + printable(problem.member, names()) + ": " + problem.what);
        },
        verifyData_);
    return reader_->open();
}

uint64_t ArchiveSource::fileSize() const
{
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

NameStyle ArchiveSource::names() const
{
    return format::nameStyle(reader_->tsaType());
}

bool ArchiveSource::whole() const
{
    return !damaged() && reader_->endSeen() && (reader_->endRecord().flags & format::c_EndStopped) == 0;
}

void ArchiveSource::close()
{
    reader_.reset();
    input_.reset();
    sealed_.reset();
    replay_.reset();
    file_.reset();
    std::string error;
    if (fd_ >= 0)
        closeArchive(fd_, error);
    fd_ = -1;
}

} // namespace kxsms
