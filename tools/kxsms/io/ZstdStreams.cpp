// zstd compression of the whole archive stream, with fixed buffers.
#include <cstring>

#include <zstd.h>

#include "io/Streams.h"

namespace kxsms {

namespace {

[[noreturn]] void failZstd(const char *what, size_t code)
{
    throw IoError(std::string(what) + ": " + ZSTD_getErrorName(code));
}

constexpr unsigned char c_FrameMagic[4] = {0x28, 0xB5, 0x2F, 0xFD};

} // namespace

ZstdOutput::ZstdOutput(OutputStream &raw, int level, uint64_t frameInput)
    : raw_(raw), frameLimit_(frameInput), context_(ZSTD_createCCtx()), out_(ZSTD_CStreamOutSize())
{
    if (context_ == nullptr)
        throw IoError("cannot set up zstd compression");
    ZSTD_CCtx_setParameter(context_, ZSTD_c_compressionLevel, level);
    // A window no reader of ours refuses (see ZstdInput::c_WindowLogMax).
    ZSTD_CCtx_setParameter(context_, ZSTD_c_windowLog, 21);
}

ZstdOutput::~ZstdOutput()
{
    ZSTD_freeCCtx(context_);
}

void ZstdOutput::compress(const void *data, size_t size, int mode)
{
    ZSTD_inBuffer in = {data, size, 0};
    for (;;) {
        ZSTD_outBuffer out = {out_.data(), out_.size(), 0};
        const size_t left = ZSTD_compressStream2(context_, &out, &in, static_cast<ZSTD_EndDirective>(mode));
        if (ZSTD_isError(left))
            failZstd("cannot compress the archive", left);
        if (out.pos > 0)
            raw_.write(out_.data(), out.pos);
        const bool done = mode == ZSTD_e_continue ? in.pos == in.size : left == 0;
        if (done)
            return;
    }
}

void ZstdOutput::write(const void *data, size_t size)
{
    if (size == 0)
        return;
    compress(data, size, ZSTD_e_continue);
    frameInput_ += size;
    if (frameInput_ >= frameLimit_) {
        compress(nullptr, 0, ZSTD_e_end);
        frameInput_ = 0;
    }
}

void ZstdOutput::flush()
{
    if (frameInput_ > 0)
        compress(nullptr, 0, ZSTD_e_end);
    frameInput_ = 0;
    raw_.flush();
}

void ZstdOutput::finish()
{
    compress(nullptr, 0, ZSTD_e_end);
    frameInput_ = 0;
    raw_.finish();
}

struct ZstdInput::Workspace {
    ZSTD_DCtx *context = ZSTD_createDCtx();
    std::vector<unsigned char> in = std::vector<unsigned char>(ZSTD_DStreamInSize());

    Workspace()
    {
        if (context == nullptr)
            throw IoError("cannot set up zstd decompression");
    }
    ~Workspace() { ZSTD_freeDCtx(context); }
    Workspace(const Workspace &) = delete;
    Workspace &operator=(const Workspace &) = delete;
};

// The workspace the thread's last reader let go of.
std::unique_ptr<ZstdInput::Workspace> &ZstdInput::spareWorkspace()
{
    thread_local std::unique_ptr<Workspace> spare;
    return spare;
}

std::unique_ptr<ZstdInput::Workspace> ZstdInput::takeWorkspace()
{
    std::unique_ptr<Workspace> work = std::move(spareWorkspace());
    if (work == nullptr)
        work = std::make_unique<Workspace>();
    // Nothing of the last reader's frames or settings stays; the buffer's
    // bytes are never read before they are filled.
    ZSTD_DCtx_reset(work->context, ZSTD_reset_session_and_parameters);
    ZSTD_DCtx_setParameter(work->context, ZSTD_d_windowLogMax, c_WindowLogMax);
    return work;
}

ZstdInput::ZstdInput(InputStream &raw, DamageHandler onDamage)
    : raw_(raw), onDamage_(std::move(onDamage)), work_(takeWorkspace()), context_(work_->context), in_(work_->in)
{
}

ZstdInput::~ZstdInput()
{
    std::unique_ptr<Workspace> &spare = spareWorkspace();
    if (spare == nullptr)
        spare = std::move(work_);
}

bool ZstdInput::refill()
{
    if (eof_)
        return false;
    // Keep what is unread at the front (at most the 3 bytes a frame search holds back).
    const size_t kept = inSize_ - inPos_;
    memmove(in_.data(), in_.data() + inPos_, kept);
    rawOffset_ += inPos_;
    inPos_ = 0;
    inSize_ = kept;
    const size_t n = raw_.read(in_.data() + kept, in_.size() - kept);
    if (n == 0) {
        eof_ = true;
        return false;
    }
    inSize_ += n;
    return true;
}

void ZstdInput::skipToNextFrame()
{
    ZSTD_DCtx_reset(context_, ZSTD_reset_session_only);
    ++inPos_; // never find the broken frame's own start again
    for (;;) {
        while (inPos_ + 4 <= inSize_) {
            const void *hit = memchr(in_.data() + inPos_, c_FrameMagic[0], inSize_ - inPos_ - 3);
            if (hit == nullptr) {
                inPos_ = inSize_ - 3;
                break;
            }
            inPos_ = static_cast<size_t>(static_cast<const unsigned char *>(hit) - in_.data());
            if (memcmp(in_.data() + inPos_, c_FrameMagic, 4) == 0)
                return;
            ++inPos_;
        }
        if (inPos_ > inSize_)
            inPos_ = inSize_;
        if (!refill()) {
            inPos_ = inSize_;
            return;
        }
    }
}

size_t ZstdInput::read(void *data, size_t size)
{
    ZSTD_outBuffer out = {data, size, 0};
    while (out.pos == 0 && size > 0) {
        // Called even without new input: the decoder may still hold output.
        ZSTD_inBuffer in = {in_.data(), inSize_, inPos_};
        const size_t result = ZSTD_decompressStream(context_, &out, &in);
        const size_t at = inPos_;
        inPos_ = in.pos;
        if (ZSTD_isError(result)) {
            onDamage_("compressed data damaged near compressed offset " + std::to_string(rawOffset_ + at) + " (" +
                      ZSTD_getErrorName(result) + "); decoding goes on at the next frame");
            inPos_ = at;
            skipToNextFrame();
            continue;
        }
        if (out.pos == 0 && inPos_ == inSize_ && !refill())
            return 0;
    }
    return out.pos;
}

ArchiveInput::ArchiveInput(InputStream &raw, DamageHandler onDamage)
{
    unsigned char prefix[4];
    size_t length = 0;
    while (length < sizeof prefix) {
        const size_t n = raw.read(prefix + length, sizeof prefix - length);
        if (n == 0)
            break;
        length += n;
    }
    prefixed_ = std::make_unique<ReplayInput>(raw, prefix, length);
    if (length == sizeof prefix && memcmp(prefix, c_FrameMagic, sizeof prefix) == 0)
        zstd_ = std::make_unique<ZstdInput>(*prefixed_, std::move(onDamage));
}

ArchiveInput::~ArchiveInput() = default;

size_t ArchiveInput::read(void *data, size_t size)
{
    return zstd_ ? zstd_->read(data, size) : prefixed_->read(data, size);
}

} // namespace kxsms
