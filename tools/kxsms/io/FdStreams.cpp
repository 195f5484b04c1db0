// Archive bytes to and from file descriptors: files, pipes, standard input and
// output. Writes are buffered; large blocks go out with writev without a copy.
#include <cerrno>
#include <cstring>

#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include "io/Streams.h"
#include "io/WholeTransfers.h"

namespace kxsms {

namespace {

constexpr size_t c_DirectWrite = 32u << 10;

[[noreturn]] void fail(const char *what)
{
    throw IoError(std::string(what) + ": " + strerror(errno));
}

} // namespace

void OutputStream::overwrite(uint64_t, const void *, size_t)
{
    throw std::logic_error("this stream cannot write over what it wrote");
}

FdOutput::FdOutput(int fd, size_t bufferSize) : fd_(fd), buffer_(bufferSize) {}

void FdOutput::writeVector(struct iovec *vector, int count)
{
    while (count > 0) {
        const ssize_t n = writev(fd_, vector, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("cannot write the archive");
        }
        const auto moved = static_cast<uint64_t>(n);
        const uint64_t written = written_.fetch_add(moved, std::memory_order_relaxed) + moved;
        if (writeBack_ && written - writeBackFrom_ >= c_WriteBackEvery)
            startWriteBack(written);
        size_t left = static_cast<size_t>(n);
        while (count > 0 && left >= vector->iov_len) {
            left -= vector->iov_len;
            ++vector;
            --count;
        }
        if (count > 0) {
            vector->iov_base = static_cast<char *>(vector->iov_base) + left;
            vector->iov_len -= left;
        }
    }
}

// Asks the disk to start writing what was written since the last time,
// without waiting for it. What it answers does not matter: a write-back that
// fails is reported by the final fsync, which is the judge of durability.
void FdOutput::startWriteBack(uint64_t written)
{
    (void)sync_file_range(fd_, static_cast<off_t>(writeBackFrom_), static_cast<off_t>(written - writeBackFrom_),
                          SYNC_FILE_RANGE_WRITE);
    writeBackFrom_ = written;
}

void FdOutput::flushHeld()
{
    if (heldCount_ == 0)
        return;
    struct iovec vector[1 + 2 * c_HeldChunks];
    int count = 0;
    if (used_ > 0)
        vector[count++] = {buffer_.data(), used_};
    for (size_t i = 0; i < heldCount_; ++i) {
        vector[count++] = {heads_[i], held_[i].headSize};
        vector[count++] = {const_cast<void *>(held_[i].data), held_[i].size};
    }
    writeVector(vector, count);
    used_ = 0;
    heldCount_ = 0;
}

void FdOutput::flush()
{
    if (heldCount_ > 0) {
        flushHeld();
        return;
    }
    if (used_ == 0)
        return;
    struct iovec vector = {buffer_.data(), used_};
    writeVector(&vector, 1);
    used_ = 0;
}

void FdOutput::write(const void *data, size_t size)
{
    // Held chunks go first: they came before these bytes.
    flushHeld();
    const auto *bytes = static_cast<const unsigned char *>(data);
    while (size > 0) {
        if (used_ == buffer_.size())
            flush();
        const size_t n = size < buffer_.size() - used_ ? size : buffer_.size() - used_;
        memcpy(buffer_.data() + used_, bytes, n);
        used_ += n;
        bytes += n;
        size -= n;
    }
}

void FdOutput::writeChunk(const void *head, size_t headSize, const void *data, size_t size)
{
    if (size < c_DirectWrite || headSize > c_MaxHead) {
        write(head, headSize);
        write(data, size);
        return;
    }
    memcpy(heads_[heldCount_], head, headSize);
    held_[heldCount_++] = {headSize, data, size};
    if (heldCount_ == c_HeldChunks)
        flushHeld();
}

void FdOutput::finish()
{
    flush();
}

void FdOutput::overwrite(uint64_t offset, const void *data, size_t size)
{
    if (!fileFromStart_)
        OutputStream::overwrite(offset, data, size);
    // What is buffered may lie over the same bytes: it goes out first.
    flush();
    if (!writeWhole(fd_, data, size, static_cast<off_t>(offset))) {
        if (errno == 0)
            errno = EIO;
        fail("cannot write the archive");
    }
}

ReplayInput::ReplayInput(InputStream &raw, const unsigned char *prefix, size_t size)
    : raw_(raw), length_(size < c_MaxPrefix ? size : c_MaxPrefix)
{
    memcpy(prefix_, prefix, length_);
}

size_t ReplayInput::read(void *data, size_t size)
{
    if (position_ < length_) {
        const size_t n = size < length_ - position_ ? size : length_ - position_;
        memcpy(data, prefix_ + position_, n);
        position_ += n;
        return n;
    }
    return raw_.read(data, size);
}

FdInput::FdInput(int fd, bool (*stop)()) : fd_(fd), stop_(stop)
{
    struct stat st;
    mayWait_ = stop_ != nullptr && fstat(fd_, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode);
}

// A stop signal that came between the look at stop_ and a read from a pipe
// would leave the read waiting for ever (a writer that never writes again).
// So the stop signals are held back while stop_ is asked, and let in only
// while ppoll waits for data; false when the job is to stop.
bool FdInput::waitForData()
{
    sigset_t stops, before;
    sigemptyset(&stops);
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stops, number);
    pthread_sigmask(SIG_BLOCK, &stops, &before);
    sigset_t during = before;
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        sigdelset(&during, number);
    struct pollfd wanted = {fd_, POLLIN, 0};
    bool goOn;
    while ((goOn = !stop_()) && ppoll(&wanted, 1, nullptr, &during) < 0 && (errno == EINTR || errno == EAGAIN)) {
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return goOn;
}

size_t FdInput::read(void *data, size_t size)
{
    for (;;) {
        if (mayWait_ && !waitForData())
            throw Interrupted("reading the archive was interrupted");
        const ssize_t n = ::read(fd_, data, size);
        if (n >= 0) {
            bytesRead_.store(bytesRead_.load(std::memory_order_relaxed) + static_cast<uint64_t>(n),
                             std::memory_order_relaxed);
            return static_cast<size_t>(n);
        }
        if (errno != EINTR)
            fail("cannot read the archive");
        if (stop_ != nullptr && stop_())
            throw Interrupted("reading the archive was interrupted");
    }
}

} // namespace kxsms
