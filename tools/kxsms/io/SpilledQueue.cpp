#include "io/SpilledQueue.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "io/WholeTransfers.h"

namespace kxsms {

namespace {

int openTemporary()
{
    const char *folder = getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0')
        folder = "/tmp";
    return open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

} // namespace

SpilledQueue::SpilledQueue(size_t inMemory) : inMemory_(inMemory > 0 ? inMemory : 1) {}

SpilledQueue::~SpilledQueue()
{
    if (fd_ >= 0)
        close(fd_);
}

void SpilledQueue::push(std::string_view record)
{
    // Once records are in the file, later ones follow them there.
    if ((memory_.size() < inMemory_ && inFile_ == 0) || !spill(record))
        memory_.emplace_back(record);
}

bool SpilledQueue::spill(std::string_view record)
{
    if (noFile_)
        return false;
    // Records in memory behind ones in the file (the file failed once)
    // would come out of order: they stay in memory.
    if (fd_ < 0) {
        fd_ = openTemporary();
        if (fd_ < 0) {
            noFile_ = true;
            return false;
        }
    }
    const uint32_t length = static_cast<uint32_t>(record.size());
    if (!writeWhole(fd_, &length, sizeof length, writeAt_) ||
        !writeWhole(fd_, record.data(), record.size(), writeAt_ + static_cast<off_t>(sizeof length))) {
        // What was written of this record is past writeAt_: overwritten or
        // never read.
        noFile_ = inFile_ == 0;
        if (noFile_)
            dropFile();
        return false;
    }
    writeAt_ += static_cast<off_t>(sizeof length + record.size());
    ++inFile_;
    ++spilledEver_;
    return true;
}

SpilledQueue::Pop SpilledQueue::pop(std::string &record, std::string &error)
{
    if (!memory_.empty()) {
        record = std::move(memory_.front());
        memory_.pop_front();
        return Pop::Taken;
    }
    if (inFile_ == 0)
        return Pop::Empty;
    uint32_t length = 0;
    bool read = readWhole(fd_, &length, sizeof length, readAt_);
    if (read) {
        record.resize(length);
        read = readWhole(fd_, record.data(), length, readAt_ + static_cast<off_t>(sizeof length));
    }
    if (!read) {
        error = errno != 0 ? strerror(errno) : "the file ended early";
        inFile_ = 0;
        dropFile();
        return Pop::Lost;
    }
    readAt_ += static_cast<off_t>(sizeof length + length);
    if (--inFile_ == 0) {
        // Emptied: the file starts again from its beginning.
        readAt_ = writeAt_ = 0;
        if (ftruncate(fd_, 0) != 0)
            dropFile();
    }
    return Pop::Taken;
}

void SpilledQueue::dropFile()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    readAt_ = writeAt_ = 0;
}

} // namespace kxsms
