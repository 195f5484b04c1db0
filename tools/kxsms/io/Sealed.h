// The sealed container: an archive's byte stream (whatever its records)
// encrypted and authenticated under a random key of its own, below the
// archive's records, which never see it.
//
//   header   magic "KXSMSENC", version, cipher, chunk size, the wrapped
//            copies of the archive key (one per passphrase or recipient),
//            and a keyed hash of all that under the archive key
//   chunks   each exactly chunk size + 16 bytes: a 4-byte length, that many
//            stream bytes and zeros to the chunk size, sealed with the AEAD;
//            the nonce is the chunk's number, the additional data the
//            number and whether it is the last chunk
//
// A reader checks each chunk by itself: a damaged chunk is skipped and
// reported and reading goes on with the next; a truncation, a chunk moved,
// repeated or taken from another archive is reported. libsodium does every
// cryptographic step.
#ifndef KXSMS_TOOLS_SEALED_H
#define KXSMS_TOOLS_SEALED_H

#include <cstddef>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io/Streams.h"

namespace kxsms::sealed {

constexpr char c_Magic[8] = {'K', 'X', 'S', 'M', 'S', 'E', 'N', 'C'};
constexpr uint16_t c_Version = 1;
constexpr uint32_t c_ChunkSize = 64u << 10;
constexpr size_t c_Tag = 16;
constexpr size_t c_KeySize = 32;
constexpr size_t c_PublicKeySize = 32;
constexpr size_t c_SecretKeySize = 32;
constexpr size_t c_MaxWraps = 64;

// The AEAD of the chunks.
enum class Cipher : uint8_t {
    Aes256Gcm = 1,        // where the processor has AES instructions: the faster here
    XChaCha20Poly1305 = 2 // everywhere else
};

// Argon2id limits for a passphrase. 32 MiB, not 64: the derivation runs
// while the job begins, and with 64 MiB beside the buffers of a job of four
// module objects its peak memory passed 64 MiB. Nine passes instead of
// three keep the time it takes (80 ms here, where 3 passes over 64 MiB took
// 85 ms) and do more work in all. Archives store their limits: those made
// with others read as before.
struct KdfLimits {
    uint64_t ops = 9;
    uint64_t memory = 32u << 20;
};

// Bytes in memory locked against swapping and core dumps, wiped when freed.
class LockedBytes {
public:
    explicit LockedBytes(size_t size = 0);
    ~LockedBytes();
    LockedBytes(LockedBytes &&other) noexcept;
    LockedBytes &operator=(LockedBytes &&other) noexcept;
    LockedBytes(const LockedBytes &) = delete;
    LockedBytes &operator=(const LockedBytes &) = delete;
    unsigned char *data() { return data_; }
    const unsigned char *data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

private:
    unsigned char *data_ = nullptr;
    size_t size_ = 0;
};

// One wrapped copy of the archive key.
struct Wrap {
    enum Kind : uint8_t { Passphrase = 1, Recipient = 2 } kind;
    std::vector<unsigned char> body; // salt, limits, nonce and box; or the sealed box
};

struct Header {
    Cipher cipher = Cipher::Aes256Gcm;
    uint32_t chunkSize = c_ChunkSize;
    std::vector<Wrap> wraps;
    std::vector<unsigned char> bytes; // as read, MAC included
};

// The cipher this machine seals with.
Cipher preferredCipher();

// A new random archive key.
LockedBytes newArchiveKey();

// The header that opens with any of: the passphrase (when not null), each
// recipient's public key. Throws IoError when the key derivation fails
// (memory).
std::vector<unsigned char> makeHeader(const LockedBytes &archiveKey, Cipher cipher, const std::string *passphrase,
                                      const std::vector<std::vector<unsigned char>> &recipients,
                                      const KdfLimits &limits = {});

// The size of the header makeHeader makes, known before it is made.
size_t headerSize(bool passphrase, size_t recipients);

// A thread that takes no signal: they stay with the threads that look at the
// job's stop.
std::thread threadWithoutSignals(std::function<void()> body);

// A header made on a thread of its own. A passphrase's key derivation takes
// about 0.5 s, and the chunks need only the archive key: a backup seals and
// writes them meanwhile. The header's size is known at once.
class PendingHeader {
public:
    // A header made already.
    explicit PendingHeader(std::vector<unsigned char> bytes);
    // make returns a header of size bytes; what it throws, get throws.
    PendingHeader(size_t size, std::packaged_task<std::vector<unsigned char>()> make);
    ~PendingHeader(); // waits for the thread
    PendingHeader(const PendingHeader &) = delete;
    PendingHeader &operator=(const PendingHeader &) = delete;

    size_t size() const { return size_; }
    // Made before it was given: no thread makes it.
    bool madeAtOnce() const { return !thread_.joinable(); }
    // Made, or failed: get does not wait.
    bool ready() const;
    // Waits for the header. Called from one thread at a time.
    const std::vector<unsigned char> &get();

private:
    size_t size_;
    std::future<std::vector<unsigned char>> future_;
    std::vector<unsigned char> bytes_;
    std::exception_ptr failure_;
    bool taken_ = false;
    std::thread thread_;
};

// Reads a header whose magic was read already; false with the reason when
// it is not one this reader understands.
bool readHeader(InputStream &raw, Header &header, std::string &error);

// The archive key from the header, with a passphrase or a secret key;
// empty when neither opens a wrap or the header does not authenticate under
// the key found.
LockedBytes openHeader(const Header &header, const std::string *passphrase, const LockedBytes *secretKey,
                       bool &headerDamaged);

// Whether the header has a passphrase wrap / a recipient wrap.
bool hasWrap(const Header &header, Wrap::Kind kind);

// Passphrase wrapping of any 32-byte secret (a secret key in its file):
// salt, limits, nonce and box. Throws IoError when the derivation fails.
std::vector<unsigned char> wrapWithPassphrase(const unsigned char *secret, size_t size, const std::string &passphrase,
                                              const KdfLimits &limits);
// The secret back; empty when the passphrase is wrong.
LockedBytes unwrapWithPassphrase(const unsigned char *wrapped, size_t size, const std::string &passphrase);

// A new key pair for write-only archives; the public key into pub.
LockedBytes newKeyPair(std::vector<unsigned char> &pub);

// Seals everything written to it in chunks onto another stream; the header
// comes first. Full chunks are sealed on threads of their own, each chunk by
// whichever is free, and written strictly in order by one of them at a time,
// so that the caller goes on filling the next ones meanwhile and one thread
// seals while another waits for the disk: at most `slots` chunks wait, in
// buffers made once. A write error of those threads (the disk full, an I/O
// error) is thrown by the next write, flush or finish. The stop signals stay
// with the caller's threads.
//
// A header made on a thread holds nothing up where the stream below is
// overwritable (an archive file): its place is written with zeros, and the
// header over them once made, at the latest by the next flush or finish.
// Elsewhere (a pipe) the first chunk waits for the header.
class SealedOutput : public OutputStream {
public:
    static constexpr size_t c_Slots = 32;

    // Threads that seal: two keep sealing going while one writes.
    static constexpr unsigned c_Sealers = 2;
    // Chunks waiting that wake a sleeping sealer (unless the caller waits).
    static constexpr uint64_t c_SealersWokenFor = 2;

    SealedOutput(OutputStream &raw, const std::vector<unsigned char> &header, LockedBytes archiveKey, Cipher cipher,
                 size_t slots = c_Slots, unsigned sealers = c_Sealers);
    SealedOutput(OutputStream &raw, std::shared_ptr<PendingHeader> header, LockedBytes archiveKey, Cipher cipher,
                 size_t slots = c_Slots, unsigned sealers = c_Sealers);
    ~SealedOutput() override;
    void write(const void *data, size_t size) override;
    void flush() override;
    void finish() override;

private:
    struct Slot {
        std::vector<unsigned char> plain; // length, then the stream bytes, then zeros
        bool last = false;
        bool sealed = false; // and not yet written (under the lock)
    };

    void hand(bool last);
    // Sleeps until at most `most` slots handed over are not yet written (or
    // a write failed).
    void waitUntilWaiting(std::unique_lock<std::mutex> &lock, size_t most);
    void drain();
    void sealAll();
    // Writes the sealed chunks that are next in order; one thread at a time.
    // False when a write failed (the failure is kept for the caller).
    bool writeInOrder(std::unique_lock<std::mutex> &lock);
    // Writes the header when it is made, or (wait) once it is.
    void placeHeader(bool wait);

    OutputStream &raw_;
    std::shared_ptr<PendingHeader> header_;
    bool reserved_ = false; // zeros written where the header goes
    bool placed_ = false;   // by the sealing thread, or by the caller once it drained
    Cipher cipher_;
    LockedBytes key_;
    std::vector<Slot> slots_;
    // Sealed chunks, by number: the stream below may hold on to the last
    // c_HeldChunks written, while the slots' next chunks are sealed.
    std::vector<std::vector<unsigned char>> sealed_;
    size_t fill_ = 0; // the slot being filled (chunk index_): never one handed over
    size_t used_ = 0; // stream bytes in it
    std::mutex mutex_;
    std::condition_variable toSealer_;
    std::condition_variable toCaller_;
    uint64_t index_ = 0;     // chunks handed over; chunk n is in slot n % slots
    uint64_t sealNext_ = 0;  // the next chunk no thread has begun to seal
    uint64_t writeNext_ = 0; // the next chunk to write
    size_t waiting_ = 0;     // slots handed over and not yet written
    bool writing_ = false;   // a sealing thread writes chunks in order
    // Who sleeps, so that the other side wakes them only then; the caller
    // sleeps until at most wakeAt_ slots wait.
    unsigned sealersAsleep_ = 0;
    bool callerSleeps_ = false;
    size_t wakeAt_ = 0;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::vector<std::thread> sealers_;
};

// Reads what SealedOutput wrote, chunk by chunk: only bytes of chunks that
// authenticated come out. Damage is reported through onDamage and stepped
// over. The caller's thread reads the file (and so stays the one a stop
// signal cuts short); the next chunks are opened ahead on a thread of their
// own, under the number they have in an undamaged archive. A chunk that does
// not open so is looked at again in order on the caller's thread.
class SealedInput : public InputStream {
public:
    static constexpr size_t c_Slots = 4;

    SealedInput(InputStream &raw, const Header &header, LockedBytes archiveKey, DamageHandler onDamage);
    ~SealedInput() override;
    size_t read(void *data, size_t size) override;

    // How many chunks further on, and back, a chunk out of place is looked for.
    static constexpr uint64_t c_Window = 8;

private:
    struct Slot {
        std::vector<unsigned char> sealed;
        std::vector<unsigned char> plain;
        uint64_t offset = 0; // in the file
        size_t got = 0;      // bytes read: short at the end of the file
        uint64_t guess = 0;  // the number it was opened ahead under
        int opened = 0;      // 0 not opened, 1 opened, 2 opened as the last chunk
        bool handed = false; // given to the opening thread
        bool done = false;   // and opened (or not) by it
    };

    bool nextChunk();
    void readAhead();
    Slot &takeOldest();
    void openAll();
    bool open(Slot &slot, uint64_t index, bool last);
    bool openAny(Slot &slot, uint64_t &index, bool &last);
    void trailing(const Slot *next);

    InputStream &raw_;
    Cipher cipher_;
    uint32_t chunkSize_;
    LockedBytes key_;
    DamageHandler onDamage_;
    std::vector<Slot> slots_;
    size_t first_ = 0;     // the oldest slot read and not yet done with
    size_t count_ = 0;     // slots read and not yet done with
    bool current_ = false; // the oldest one is the chunk being read out
    size_t position_ = 0;
    size_t available_ = 0;
    uint64_t expected_ = 0;
    uint64_t offset_ = 0; // of the next chunk, in the file
    bool fileEnded_ = false;
    bool ended_ = false;
    std::mutex mutex_;
    std::condition_variable toOpener_;
    std::condition_variable toCaller_;
    bool stopping_ = false;
    std::vector<std::thread> opener_; // one thread
};

} // namespace kxsms::sealed

#endif
