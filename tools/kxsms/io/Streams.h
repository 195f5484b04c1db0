// Byte streams under the archive: plain file descriptors (files and pipes)
// and zstd compression of the whole stream. Streams only go forward, but for
// one thing: a file written from its start may have its first bytes written
// again (an encrypted archive's header, made while the rest is written).
#ifndef KXSMS_TOOLS_STREAMS_H
#define KXSMS_TOOLS_STREAMS_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kxsms {

// A read or write that failed; the message says what and why.
class IoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A read that a signal broke off because the job is to stop.
class Interrupted : public IoError {
public:
    using IoError::IoError;
};

// Where a stream reports damage it can step over (a broken compressed frame).
using DamageHandler = std::function<void(const std::string &what)>;

class OutputStream {
public:
    // writeChunk may keep a pointer to a chunk's data (not its head) until
    // this many chunks, that one included, have been given to it, or until
    // any other write: a caller that rotates this many data buffers is safe.
    static constexpr size_t c_HeldChunks = 4;

    virtual ~OutputStream() = default;
    virtual void write(const void *data, size_t size) = 0;
    // A record header and its data, written as one piece where that saves a copy.
    virtual void writeChunk(const void *head, size_t headSize, const void *data, size_t size)
    {
        write(head, headSize);
        write(data, size);
    }
    // Hands everything written so far down to the file descriptor (ending a
    // compression frame, sealing a part-filled chunk), so that a sync of the
    // file then covers it. Writing may go on after.
    virtual void flush() {}
    // Flushes everything and ends any compression frame. Nothing may follow.
    virtual void finish() = 0;
    // Whether overwrite may be called: the stream is a file written from its start.
    virtual bool overwritable() const { return false; }
    // Writes size bytes at offset from the stream's start, over bytes written
    // there before; only where overwritable().
    virtual void overwrite(uint64_t offset, const void *data, size_t size);
};

class InputStream {
public:
    virtual ~InputStream() = default;
    // Up to size bytes; 0 only at the end of the stream.
    virtual size_t read(void *data, size_t size) = 0;
};

// Buffered writes to a file descriptor. Chunks of 32 KiB and more go out with
// writev straight from the caller's memory, together with what is buffered,
// up to c_HeldChunks of them in one call.
class FdOutput : public OutputStream {
public:
    explicit FdOutput(int fd, size_t bufferSize = 1u << 20);
    // Says that fd is a regular file this stream writes from its start,
    // which makes it overwritable(). Before the first write.
    void fromFileStart() { fileFromStart_ = true; }
    // Says that what is written will be made durable at the end (fsync):
    // the disk is asked to start writing it every c_WriteBackEvery bytes, so
    // that it writes while the job goes on and the final fsync waits only
    // for the rest. After fromFileStart.
    void writeBackEarly() { writeBack_ = fileFromStart_; }
    static constexpr uint64_t c_WriteBackEvery = 8u << 20;
    void write(const void *data, size_t size) override;
    void writeChunk(const void *head, size_t headSize, const void *data, size_t size) override;
    void flush() override;
    void finish() override;
    bool overwritable() const override { return fileFromStart_; }
    void overwrite(uint64_t offset, const void *data, size_t size) override;
    // May be asked from any thread (the progress line) while another writes.
    uint64_t bytesWritten() const { return written_.load(std::memory_order_relaxed); }

private:
    static constexpr size_t c_MaxHead = 32;

    void flushHeld();
    void writeVector(struct iovec *vector, int count);

    void startWriteBack(uint64_t written);

    int fd_;
    bool fileFromStart_ = false;
    bool writeBack_ = false;
    uint64_t writeBackFrom_ = 0; // where the next early write-back starts
    std::vector<unsigned char> buffer_;
    size_t used_ = 0;
    std::atomic<uint64_t> written_{0};
    // Chunks waiting to go out after the buffered bytes: their heads copied,
    // their data still the caller's.
    unsigned char heads_[c_HeldChunks][c_MaxHead];
    struct Held {
        size_t headSize;
        const void *data;
        size_t size;
    } held_[c_HeldChunks];
    size_t heldCount_ = 0;
};

// Compresses everything written into zstd frames on another stream. A frame
// ends every few MiB of input, so that a reader can start again at the next
// frame after damage.
class ZstdOutput : public OutputStream {
public:
    static constexpr uint64_t c_FrameInput = 8u << 20;

    // frameInput: uncompressed bytes after which a frame ends.
    explicit ZstdOutput(OutputStream &raw, int level = 3, uint64_t frameInput = c_FrameInput);
    ~ZstdOutput() override;
    void write(const void *data, size_t size) override;
    void flush() override;
    void finish() override;

private:
    void compress(const void *data, size_t size, int mode);

    OutputStream &raw_;
    uint64_t frameLimit_;
    struct ZSTD_CCtx_s *context_;
    std::vector<unsigned char> out_;
    uint64_t frameInput_ = 0;
};

// Reads a file descriptor. A read broken off by a signal is tried again,
// unless stop (when given) then says the job is to stop: that throws
// Interrupted.
class FdInput : public InputStream {
public:
    explicit FdInput(int fd, bool (*stop)() = nullptr);
    size_t read(void *data, size_t size) override;
    // May be asked from any thread (the progress line) while another reads.
    uint64_t bytesRead() const { return bytesRead_.load(std::memory_order_relaxed); }

private:
    bool waitForData();

    int fd_;
    bool (*stop_)();
    bool mayWait_ = false; // a pipe, a terminal, a socket: a read may wait for ever
    std::atomic<uint64_t> bytesRead_{0};
};

// A stream whose first bytes were read already: those bytes again, then the rest.
class ReplayInput : public InputStream {
public:
    static constexpr size_t c_MaxPrefix = 16;
    ReplayInput(InputStream &raw, const unsigned char *prefix, size_t size);
    size_t read(void *data, size_t size) override;

private:
    InputStream &raw_;
    unsigned char prefix_[c_MaxPrefix];
    size_t length_;
    size_t position_ = 0;
};

// Decompresses zstd frames from another stream. Damage inside a frame is
// reported and skipped: decoding starts again at the next frame.
class ZstdInput : public InputStream {
public:
    ZstdInput(InputStream &raw, DamageHandler onDamage);
    ~ZstdInput() override;
    size_t read(void *data, size_t size) override;

    // Frames that need a larger window than this are refused as damage,
    // which bounds the memory a hostile archive can make us take.
    static constexpr int c_WindowLogMax = 23;

private:
    // The decompression context and the input buffer. The last one a thread
    // let go of is kept for its next reader: setting them up (a buffer of
    // 128 KiB, the context's tables and window) cost more than reading a
    // small archive, as in a chain of many archives.
    struct Workspace;
    static std::unique_ptr<Workspace> takeWorkspace();
    static std::unique_ptr<Workspace> &spareWorkspace();

    bool refill();
    void skipToNextFrame();

    InputStream &raw_;
    DamageHandler onDamage_;
    std::unique_ptr<Workspace> work_;
    struct ZSTD_DCtx_s *context_;
    std::vector<unsigned char> &in_;
    size_t inPos_ = 0;
    size_t inSize_ = 0;
    uint64_t rawOffset_ = 0; // compressed bytes consumed before in_
    bool eof_ = false;
};

// The archive as a reader sees it: looks at the first bytes and decompresses
// when they are a zstd frame, passes the bytes through otherwise.
class ArchiveInput : public InputStream {
public:
    ArchiveInput(InputStream &raw, DamageHandler onDamage);
    ~ArchiveInput() override;
    size_t read(void *data, size_t size) override;
    bool compressed() const { return zstd_ != nullptr; }

private:
    std::unique_ptr<ReplayInput> prefixed_; // the first bytes, looked at, then the rest
    std::unique_ptr<ZstdInput> zstd_;
};

} // namespace kxsms

#endif
