// Sealing and opening the chunks of the sealed container. Each chunk is
// checked by itself, so that damage costs only the chunks it touches.
#include <csignal>
#include <cstring>
#include <functional>

#include <pthread.h>
#include <sodium.h>

#include "io/Sealed.h"

namespace kxsms::sealed {

namespace {

constexpr size_t c_Length = 4;
constexpr size_t c_AdSize = 9;
constexpr char c_KdfContext[crypto_kdf_CONTEXTBYTES + 1] = "kxsmsarc";

// The chunk key from the archive key; for AES-256-GCM expanded once.
LockedBytes chunkKey(const LockedBytes &archiveKey, Cipher cipher)
{
    LockedBytes key(c_KeySize);
    crypto_kdf_derive_from_key(key.data(), key.size(), 1, c_KdfContext, archiveKey.data());
    if (cipher != Cipher::Aes256Gcm)
        return key;
    if (!crypto_aead_aes256gcm_is_available())
        throw IoError("this processor has no AES instructions: the archive's cipher (AES-256-GCM) is not available");
    LockedBytes state(sizeof(crypto_aead_aes256gcm_state));
    crypto_aead_aes256gcm_beforenm(reinterpret_cast<crypto_aead_aes256gcm_state *>(state.data()), key.data());
    return state;
}

// The chunk's nonce (its number) and additional data (number, last).
void chunkNonce(uint64_t index, bool last, unsigned char (&nonce)[24], unsigned char (&ad)[c_AdSize])
{
    memset(nonce, 0, sizeof nonce);
    for (int i = 0; i < 8; ++i)
        nonce[i] = ad[i] = static_cast<unsigned char>(index >> (8 * i));
    ad[8] = last ? 1 : 0;
}

void seal(Cipher cipher, const LockedBytes &key, uint64_t index, bool last, const unsigned char *plain, size_t size,
          unsigned char *out)
{
    unsigned char nonce[24], ad[c_AdSize];
    chunkNonce(index, last, nonce, ad);
    unsigned long long written = 0;
    if (cipher == Cipher::Aes256Gcm)
        crypto_aead_aes256gcm_encrypt_afternm(out, &written, plain, size, ad, sizeof ad, nullptr, nonce,
                                              reinterpret_cast<const crypto_aead_aes256gcm_state *>(key.data()));
    else
        crypto_aead_xchacha20poly1305_ietf_encrypt(out, &written, plain, size, ad, sizeof ad, nullptr, nonce,
                                                   key.data());
}

bool unseal(Cipher cipher, const LockedBytes &key, uint64_t index, bool last, const unsigned char *in, size_t size,
            unsigned char *plain)
{
    unsigned char nonce[24], ad[c_AdSize];
    chunkNonce(index, last, nonce, ad);
    unsigned long long written = 0;
    if (cipher == Cipher::Aes256Gcm)
        return crypto_aead_aes256gcm_decrypt_afternm(
                   plain, &written, nullptr, in, size, ad, sizeof ad, nonce,
                   reinterpret_cast<const crypto_aead_aes256gcm_state *>(key.data())) == 0;
    return crypto_aead_xchacha20poly1305_ietf_decrypt(plain, &written, nullptr, in, size, ad, sizeof ad, nonce,
                                                      key.data()) == 0;
}

// Ends a thread that waits on wake for stopping, and wipes the plain text
// of its slots.
template <typename Slots>
void stopAndWipe(std::mutex &mutex, bool &stopping, std::condition_variable &wake, std::vector<std::thread> &threads,
                 Slots &slots)
{
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    for (std::thread &thread : threads)
        thread.join();
    for (auto &slot : slots)
        sodium_memzero(slot.plain.data(), slot.plain.size());
}

size_t readFully(InputStream &raw, unsigned char *out, size_t size)
{
    size_t got = 0;
    while (got < size) {
        const size_t n = raw.read(out + got, size - got);
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

} // namespace

std::thread threadWithoutSignals(std::function<void()> body)
{
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    std::thread thread(std::move(body));
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return thread;
}

SealedOutput::SealedOutput(OutputStream &raw, const std::vector<unsigned char> &header, LockedBytes archiveKey,
                           Cipher cipher, size_t slots, unsigned sealers)
    : SealedOutput(raw, std::make_shared<PendingHeader>(header), std::move(archiveKey), cipher, slots, sealers)
{
}

SealedOutput::SealedOutput(OutputStream &raw, std::shared_ptr<PendingHeader> header, LockedBytes archiveKey,
                           Cipher cipher, size_t slots, unsigned sealers)
    : raw_(raw), header_(std::move(header)), cipher_(cipher), key_(chunkKey(archiveKey, cipher)),
      slots_(slots < 2 ? 2 : slots), sealed_(slots_.size() + OutputStream::c_HeldChunks)
{
    for (Slot &slot : slots_)
        slot.plain.resize(c_ChunkSize);
    for (std::vector<unsigned char> &chunk : sealed_)
        chunk.resize(c_ChunkSize + c_Tag);
    if (!header_->madeAtOnce() && raw_.overwritable()) {
        const std::vector<unsigned char> zeros(header_->size());
        raw_.write(zeros.data(), zeros.size());
        reserved_ = true;
    }
    placeHeader(false);
    for (unsigned i = 0; i < sealers; ++i)
        sealers_.push_back(threadWithoutSignals([this] { sealAll(); }));
}

void SealedOutput::placeHeader(bool wait)
{
    if (placed_ || (!wait && !header_->ready()))
        return;
    const std::vector<unsigned char> &bytes = header_->get();
    if (reserved_)
        raw_.overwrite(0, bytes.data(), bytes.size());
    else
        raw_.write(bytes.data(), bytes.size());
    placed_ = true;
}

SealedOutput::~SealedOutput()
{
    stopAndWipe(mutex_, stopping_, toSealer_, sealers_, slots_);
}

void SealedOutput::write(const void *data, size_t size)
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    while (size > 0) {
        // A full chunk goes once more comes, so that finish can mark the last one.
        if (used_ == c_ChunkSize - c_Length)
            hand(false);
        const size_t room = c_ChunkSize - c_Length - used_;
        const size_t n = size < room ? size : room;
        memcpy(slots_[fill_].plain.data() + c_Length + used_, bytes, n);
        used_ += n;
        bytes += n;
        size -= n;
    }
}

void SealedOutput::hand(bool last)
{
    Slot &slot = slots_[fill_];
    for (size_t i = 0; i < c_Length; ++i)
        slot.plain[i] = static_cast<unsigned char>(used_ >> (8 * i));
    memset(slot.plain.data() + c_Length + used_, 0, c_ChunkSize - c_Length - used_);
    slot.last = last;
    used_ = 0;
    fill_ = (fill_ + 1) % slots_.size();
    std::unique_lock lock(mutex_);
    ++index_;
    ++waiting_;
    if (sealersAsleep_ > 0 && index_ - sealNext_ >= c_SealersWokenFor)
        toSealer_.notify_one();
    // The slot to fill next must not be one handed over. When none is free,
    // wait until half of them are: one wake-up for several chunks.
    if (waiting_ == slots_.size())
        waitUntilWaiting(lock, slots_.size() / 2);
    if (failure_)
        std::rethrow_exception(failure_);
}

void SealedOutput::waitUntilWaiting(std::unique_lock<std::mutex> &lock, size_t most)
{
    wakeAt_ = most;
    callerSleeps_ = true;
    if (sealersAsleep_ > 0 && sealNext_ < index_)
        toSealer_.notify_all();
    toCaller_.wait(lock, [&] { return waiting_ <= most || failure_; });
    callerSleeps_ = false;
}

void SealedOutput::drain()
{
    std::unique_lock lock(mutex_);
    waitUntilWaiting(lock, 0);
    if (failure_)
        std::rethrow_exception(failure_);
}

void SealedOutput::sealAll()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        if (sealNext_ == index_) {
            // Asleep, a sealer is woken for a few chunks at once, or for any
            // the caller waits for.
            ++sealersAsleep_;
            toSealer_.wait(lock, [this] {
                return index_ - sealNext_ >= c_SealersWokenFor || (callerSleeps_ && sealNext_ < index_) || stopping_ ||
                       failure_;
            });
            --sealersAsleep_;
        }
        if (stopping_ || failure_)
            return;
        // Chunks are sealed by whichever thread is free, each under its own
        // number, and written strictly in order.
        const uint64_t chunk = sealNext_++;
        Slot &slot = slots_[chunk % slots_.size()];
        lock.unlock();
        sealed::seal(cipher_, key_, chunk, slot.last, slot.plain.data(), slot.plain.size(),
                     sealed_[chunk % sealed_.size()].data());
        lock.lock();
        slot.sealed = true;
        if (!writing_ && !writeInOrder(lock))
            return;
    }
}

bool SealedOutput::writeInOrder(std::unique_lock<std::mutex> &lock)
{
    static const unsigned char c_NoHead = 0;
    writing_ = true;
    while (writeNext_ < index_ && slots_[writeNext_ % slots_.size()].sealed) {
        const std::vector<unsigned char> &out = sealed_[writeNext_ % sealed_.size()];
        lock.unlock();
        try {
            // Nothing goes before the header; over its zeros it goes once made.
            placeHeader(!reserved_);
            raw_.writeChunk(&c_NoHead, 0, out.data(), out.size());
        } catch (...) {
            lock.lock();
            failure_ = std::current_exception();
            writing_ = false;
            toCaller_.notify_all();
            toSealer_.notify_all();
            return false;
        }
        lock.lock();
        slots_[writeNext_ % slots_.size()].sealed = false;
        ++writeNext_;
        --waiting_;
        if (callerSleeps_ && waiting_ <= wakeAt_)
            toCaller_.notify_all();
    }
    writing_ = false;
    return true;
}

void SealedOutput::flush()
{
    if (used_ > 0)
        hand(false);
    drain();
    placeHeader(true);
    raw_.flush();
}

void SealedOutput::finish()
{
    hand(true);
    drain();
    placeHeader(true);
    raw_.finish();
}

SealedInput::SealedInput(InputStream &raw, const Header &header, LockedBytes archiveKey, DamageHandler onDamage)
    : raw_(raw), cipher_(header.cipher), chunkSize_(header.chunkSize), key_(chunkKey(archiveKey, header.cipher)),
      onDamage_(std::move(onDamage)), slots_(c_Slots), offset_(header.bytes.size())
{
    for (Slot &slot : slots_) {
        slot.sealed.resize(chunkSize_ + c_Tag);
        slot.plain.resize(chunkSize_);
    }
    opener_.push_back(threadWithoutSignals([this] { openAll(); }));
}

SealedInput::~SealedInput()
{
    stopAndWipe(mutex_, stopping_, toOpener_, opener_, slots_);
}

size_t SealedInput::read(void *data, size_t size)
{
    while (position_ == available_)
        if (!nextChunk())
            return 0;
    const Slot &slot = slots_[first_];
    const size_t n = size < available_ - position_ ? size : available_ - position_;
    memcpy(data, slot.plain.data() + position_, n);
    position_ += n;
    return n;
}

bool SealedInput::open(Slot &slot, uint64_t index, bool last)
{
    return unseal(cipher_, key_, index, last, slot.sealed.data(), slot.sealed.size(), slot.plain.data());
}

void SealedInput::openAll()
{
    size_t next = 0;
    for (;;) {
        Slot *slot = nullptr;
        {
            std::unique_lock lock(mutex_);
            toOpener_.wait(lock, [&] { return stopping_ || (slots_[next].handed && !slots_[next].done); });
            if (stopping_)
                return;
            slot = &slots_[next];
        }
        const int opened = open(*slot, slot->guess, false) ? 1 : open(*slot, slot->guess, true) ? 2 : 0;
        {
            std::lock_guard lock(mutex_);
            slot->opened = opened;
            slot->done = true;
        }
        toCaller_.notify_all();
        next = (next + 1) % slots_.size();
    }
}

void SealedInput::readAhead()
{
    while (count_ < slots_.size() && !fileEnded_) {
        Slot &slot = slots_[(first_ + count_) % slots_.size()];
        slot.offset = offset_;
        slot.got = readFully(raw_, slot.sealed.data(), slot.sealed.size());
        offset_ += slot.got;
        ++count_;
        if (slot.got < slot.sealed.size()) {
            fileEnded_ = true;
            break;
        }
        // Its number in an undamaged archive: the chunks before it in the
        // queue take the numbers from the one expected next on.
        const uint64_t guess = expected_ + count_ - 1;
        {
            std::lock_guard lock(mutex_);
            slot.guess = guess;
            slot.opened = 0;
            slot.done = false;
            slot.handed = true;
        }
        toOpener_.notify_all();
    }
}

SealedInput::Slot &SealedInput::takeOldest()
{
    Slot &slot = slots_[first_];
    std::unique_lock lock(mutex_);
    toCaller_.wait(lock, [&] { return !slot.handed || slot.done; });
    slot.handed = false;
    return slot;
}

bool SealedInput::openAny(Slot &slot, uint64_t &index, bool &last)
{
    for (uint64_t distance = 1; distance <= c_Window; ++distance) {
        for (const uint64_t at : {expected_ + distance, expected_ - distance}) {
            if (distance > expected_ && at == expected_ - distance)
                continue;
            for (const bool end : {false, true}) {
                if (open(slot, at, end)) {
                    index = at;
                    last = end;
                    return true;
                }
            }
        }
    }
    return false;
}

void SealedInput::trailing(const Slot *next)
{
    unsigned char extra = 0;
    if (next != nullptr || raw_.read(&extra, 1) > 0) {
        onDamage_("bytes after the archive's last chunk (offset " + std::to_string(next ? next->offset : offset_) +
                  ") are ignored");
        unsigned char rest[4096];
        while (raw_.read(rest, sizeof rest) > 0) {
        }
    }
}

bool SealedInput::nextChunk()
{
    position_ = available_ = 0;
    for (;;) {
        if (current_) {
            first_ = (first_ + 1) % slots_.size();
            --count_;
            current_ = false;
        }
        if (ended_) {
            if (fileEnded_ && count_ == 0)
                return false;
            // Chunks read ahead past the last one are bytes after it.
            Slot *next = nullptr;
            if (count_ > 0 && slots_[first_].got > 0)
                next = &takeOldest();
            trailing(next);
            fileEnded_ = true;
            count_ = 0;
            return false;
        }
        readAhead();
        Slot &slot = takeOldest();
        current_ = true;
        const uint64_t at = slot.offset;
        if (slot.got < slot.sealed.size()) {
            ended_ = true;
            onDamage_(slot.got == 0 ? "the archive is truncated: its last chunk is missing"
                                    : "the archive is truncated inside a chunk (offset " + std::to_string(at) + ")");
            fileEnded_ = true;
            count_ = 1;
            return false;
        }
        uint64_t index = expected_;
        bool last = false;
        if (slot.opened != 0 && slot.guess == expected_) {
            last = slot.opened == 2;
        } else if (open(slot, expected_, false)) {
            last = false;
        } else if (open(slot, expected_, true)) {
            last = true;
        } else if (openAny(slot, index, last)) {
            if (index < expected_) {
                onDamage_("a chunk out of place (repeated or moved) at offset " + std::to_string(at) + " is skipped");
                continue;
            }
            onDamage_(std::to_string(index - expected_) + " chunk(s) missing before offset " + std::to_string(at));
        } else {
            onDamage_("the chunk at offset " + std::to_string(at) +
                      " does not authenticate (damaged, or not of this archive); its bytes are skipped");
            ++expected_;
            continue;
        }
        expected_ = index + 1;
        ended_ = last;
        size_t length = 0;
        for (size_t i = 0; i < c_Length; ++i)
            length |= static_cast<size_t>(slot.plain[i]) << (8 * i);
        if (length > chunkSize_ - c_Length) {
            onDamage_("the chunk at offset " + std::to_string(at) + " has a length beyond its size");
            continue;
        }
        position_ = c_Length;
        available_ = c_Length + length;
        if (length > 0)
            return true;
    }
}

} // namespace kxsms::sealed
