// Opening an archive for reading, and closing it.
#include "commands/ArchiveSource.h"

#include <sys/stat.h>

#include "archive/ArchiveFiles.h"
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
    input_ = std::make_unique<ArchiveInput>(*file_, [this](const std::string &what) {
        ++streamDamage_;
        progress_.message(label_ + ": " + what);
    });
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
    file_.reset();
    std::string error;
    if (fd_ >= 0)
        closeArchive(fd_, error);
    fd_ = -1;
}

} // namespace kxsms
