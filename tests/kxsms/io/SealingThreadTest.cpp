// The sealed writer's own thread: what it writes is, byte for byte, the
// chunks a plain in-line sealing of the same stream gives (same order, chunk
// numbers and last mark), whatever the number of waiting chunks; a write
// that fails on that thread fails the caller's next step with its own words;
// a header still being made holds up only a stream that cannot be written
// over; and the reader that opens chunks ahead keeps every undamaged chunk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include <sys/mman.h>
#include <unistd.h>

#include <sodium.h>

#include "archive/ArchiveSupport.h"
#include "io/Sealed.h"

namespace {

using namespace kxsms;
using namespace kxsms::sealed;

using archive_test::Bytes;
using archive_test::MemoryOutput;

constexpr size_t c_Length = 4;

// A fixed archive key, so that the output can be foreseen.
LockedBytes fixedKey()
{
    LockedBytes key(c_KeySize);
    for (size_t i = 0; i < key.size(); ++i)
        key.data()[i] = static_cast<unsigned char>(7 * i + 1);
    return key;
}

// The container's chunks sealed one after the other, written out from the
// archive format's description: the chunk key derived with subkey 1 and
// context "kxsmsarc", the chunk's number as nonce, number and last mark as
// additional data.
Bytes sealedInLine(const std::string &stream, Cipher cipher, const std::vector<size_t> &flushes)
{
    const LockedBytes archiveKey = fixedKey();
    unsigned char key[32];
    crypto_kdf_derive_from_key(key, sizeof key, 1, "kxsmsarc", archiveKey.data());
    Bytes out;
    uint64_t index = 0;
    const auto seal = [&](const char *bytes, size_t size, bool last) {
        Bytes plain(c_ChunkSize, 0);
        for (size_t i = 0; i < c_Length; ++i)
            plain[i] = static_cast<unsigned char>(size >> (8 * i));
        memcpy(plain.data() + c_Length, bytes, size);
        unsigned char nonce[24] = {}, ad[9];
        for (int i = 0; i < 8; ++i)
            nonce[i] = ad[i] = static_cast<unsigned char>(index >> (8 * i));
        ad[8] = last ? 1 : 0;
        Bytes chunk(c_ChunkSize + c_Tag);
        unsigned long long written = 0;
        if (cipher == Cipher::Aes256Gcm)
            crypto_aead_aes256gcm_encrypt(chunk.data(), &written, plain.data(), plain.size(), ad, sizeof ad, nullptr,
                                          nonce, key);
        else
            crypto_aead_xchacha20poly1305_ietf_encrypt(chunk.data(), &written, plain.data(), plain.size(), ad,
                                                       sizeof ad, nullptr, nonce, key);
        out.insert(out.end(), chunk.begin(), chunk.end());
        ++index;
    };
    // Pieces end where the stream was flushed and where a chunk is full; a
    // full chunk is sealed only once more follows, so the last may be full.
    constexpr size_t room = c_ChunkSize - c_Length;
    size_t at = 0;
    for (size_t flushAt : flushes) {
        while (flushAt - at > room) {
            seal(stream.data() + at, room, false);
            at += room;
        }
        if (flushAt > at)
            seal(stream.data() + at, flushAt - at, false);
        at = flushAt;
    }
    while (stream.size() - at > room) {
        seal(stream.data() + at, room, false);
        at += room;
    }
    seal(stream.data() + at, stream.size() - at, true);
    return out;
}

std::string pattern(size_t size)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(i * 37 + i / 1013);
    return text;
}

TEST(SealingThread, WritesTheChunksOfAnInLineSealing)
{
    const Bytes header = {'h', 'e', 'a', 'd'};
    constexpr size_t room = c_ChunkSize - c_Length;
    struct Case {
        size_t size;
        std::vector<size_t> flushes;
    };
    const Case cases[] = {
        {0, {}},
        {1, {}},
        {room, {}}, // exactly one full chunk: it is the last
        {room + 1, {}},
        {room * 20 + 5, {}},
        {room * 70 + 5, {}},                       // more chunks than wait at once
        {room * 3, {100, room + 100, room + 100}}, // part-filled chunks, a flush with nothing new
    };
    for (const Cipher cipher : {Cipher::Aes256Gcm, Cipher::XChaCha20Poly1305}) {
        if (cipher == Cipher::Aes256Gcm && preferredCipher() != Cipher::Aes256Gcm)
            continue;
        // Several sealing threads seal chunks out of order; a file's stream
        // holds on to the last chunks it was given and writes them later.
        for (const unsigned sealers : {1u, 2u, 3u}) {
            for (const size_t slots : {size_t{2}, SealedOutput::c_Slots}) {
                for (const bool file : {false, true}) {
                    for (const Case &c : cases) {
                        SCOPED_TRACE(std::to_string(static_cast<int>(cipher)) + " sealers " + std::to_string(sealers) +
                                     " slots " + std::to_string(slots) + (file ? " file" : " memory") + " size " +
                                     std::to_string(c.size));
                        const std::string stream = pattern(c.size);
                        MemoryOutput memory;
                        const int fd = memfd_create("archive", MFD_CLOEXEC);
                        ASSERT_GE(fd, 0);
                        FdOutput held(fd, 4096);
                        {
                            SealedOutput out(file ? static_cast<OutputStream &>(held) : memory, header, fixedKey(),
                                             cipher, slots, sealers);
                            size_t at = 0;
                            for (size_t flushAt : c.flushes) {
                                out.write(stream.data() + at, flushAt - at);
                                out.flush();
                                at = flushAt;
                            }
                            for (; at < stream.size(); at += 5000)
                                out.write(stream.data() + at, std::min<size_t>(5000, stream.size() - at));
                            out.finish();
                        }
                        Bytes written = memory.out;
                        if (file) {
                            written.resize(static_cast<size_t>(lseek(fd, 0, SEEK_END)));
                            ASSERT_EQ(pread(fd, written.data(), written.size(), 0), ssize_t(written.size()));
                        } else {
                            EXPECT_TRUE(memory.finished);
                        }
                        close(fd);
                        Bytes expected = header;
                        const Bytes chunks = sealedInLine(stream, cipher, c.flushes);
                        expected.insert(expected.end(), chunks.begin(), chunks.end());
                        ASSERT_EQ(written.size(), expected.size());
                        EXPECT_TRUE(written == expected);
                    }
                }
            }
        }
    }
}

// Takes the header and a number of chunks, then fails every write as a full
// disk does.
class FailingOutput : public OutputStream {
public:
    explicit FailingOutput(size_t chunks) : left_(chunks) {}
    void write(const void *, size_t) override {}
    void writeChunk(const void *, size_t, const void *, size_t) override
    {
        if (left_ == 0)
            throw IoError("cannot write the archive: No space left on device");
        --left_;
    }
    void flush() override { ++flushes; }
    void finish() override { finished = true; }
    size_t flushes = 0;
    bool finished = false;

private:
    size_t left_;
};

TEST(SealingThread, AFailedWriteFailsTheCallersNextStep)
{
    const Bytes header = {'h'};
    const std::string block = pattern(10000);
    for (const unsigned sealers : {1u, 2u}) {
        for (const size_t slots : {size_t{2}, SealedOutput::c_Slots}) {
            for (const size_t good : {size_t{0}, size_t{1}, size_t{2}, size_t{5}, size_t{30}}) {
                for (const bool viaFlush : {false, true}) {
                    SCOPED_TRACE("sealers " + std::to_string(sealers) + " slots " + std::to_string(slots) + " good " +
                                 std::to_string(good) + (viaFlush ? " flush" : " finish"));
                    FailingOutput raw(good);
                    SealedOutput out(raw, header, fixedKey(), Cipher::XChaCha20Poly1305, slots, sealers);
                    std::string error;
                    try {
                        // 40 chunks of stream: more than the disk takes.
                        for (int i = 0; i < 262; ++i)
                            out.write(block.data(), block.size());
                        if (viaFlush)
                            out.flush();
                        out.finish();
                    } catch (const IoError &e) {
                        error = e.what();
                    }
                    EXPECT_EQ(error, "cannot write the archive: No space left on device");
                    EXPECT_FALSE(raw.finished);
                    EXPECT_EQ(raw.flushes, 0u);
                    // And again: the same failure, not a hang.
                    EXPECT_THROW(out.flush(), IoError);
                }
            }
        }
    }
}

// A header whose making waits for the test: an archive file (written over)
// takes its chunks meanwhile and the header over its place once made; a
// pipe takes nothing before the header. Either way the bytes are those of a
// header made at once, and a header that cannot be made fails the job.
TEST(SealingThread, AHeaderStillBeingMadeHoldsUpOnlyAPipe)
{
    const Bytes header = {'h', 'e', 'a', 'd', 'e', 'r'};
    constexpr size_t room = c_ChunkSize - c_Length;
    for (const bool file : {true, false}) {
        for (const bool fails : {false, true}) {
            for (const bool viaFlush : {false, true}) {
                SCOPED_TRACE(std::string(file ? "file" : "pipe") + (fails ? " fails" : " made") +
                             (viaFlush ? " flush" : " finish"));
                std::promise<void> gate;
                std::packaged_task<Bytes()> make([&header, fails, opened = gate.get_future()]() mutable {
                    opened.wait();
                    if (fails)
                        throw IoError("cannot derive a key from the passphrase: out of memory");
                    return header;
                });
                auto pending = std::make_shared<PendingHeader>(header.size(), std::move(make));
                const int fd = memfd_create("archive", MFD_CLOEXEC);
                ASSERT_GE(fd, 0);
                FdOutput raw(fd, 4096);
                MemoryOutput pipe;
                if (file)
                    raw.fromFileStart();
                // A file takes more chunks than wait at once; a pipe fewer.
                const std::string stream = pattern(file ? room * 20 + 5 : room * 3 + 5);
                std::string error;
                {
                    SealedOutput out(file ? static_cast<OutputStream &>(raw) : pipe, pending, fixedKey(),
                                     Cipher::XChaCha20Poly1305, 8);
                    out.write(stream.data(), stream.size());
                    if (!file) {
                        EXPECT_TRUE(pipe.out.empty());
                    }
                    std::thread opener([&gate] { gate.set_value(); });
                    try {
                        if (viaFlush) {
                            out.flush();
                            if (file) {
                                Bytes start(header.size());
                                ASSERT_EQ(pread(fd, start.data(), start.size(), 0), ssize_t(start.size()));
                                EXPECT_TRUE(start == header);
                            }
                        }
                        out.finish();
                    } catch (const IoError &e) {
                        error = e.what();
                    }
                    opener.join();
                }
                Bytes written;
                if (file) {
                    written.resize(static_cast<size_t>(lseek(fd, 0, SEEK_END)));
                    ASSERT_EQ(pread(fd, written.data(), written.size(), 0), ssize_t(written.size()));
                } else {
                    written = pipe.out;
                }
                close(fd);
                if (fails) {
                    EXPECT_EQ(error, "cannot derive a key from the passphrase: out of memory");
                    continue;
                }
                EXPECT_EQ(error, "");
                Bytes expected = header;
                const Bytes chunks =
                    sealedInLine(stream, Cipher::XChaCha20Poly1305,
                                 viaFlush ? std::vector<size_t>{stream.size()} : std::vector<size_t>{});
                expected.insert(expected.end(), chunks.begin(), chunks.end());
                ASSERT_EQ(written.size(), expected.size());
                EXPECT_TRUE(written == expected);
            }
        }
    }
}

} // namespace

namespace {

// An archive of 12 full chunks whose stream bytes say which chunk they were
// in, read back after each kind of damage, with the chunks opened ahead on
// the reader's thread: what comes out is exactly the undamaged chunks' bytes,
// and the damage is reported.
TEST(SealingThread, ReadingAheadKeepsWhatAuthenticatesAndReportsTheRest)
{
    constexpr size_t room = c_ChunkSize - c_Length;
    constexpr size_t chunks = 12;
    constexpr size_t size = c_ChunkSize + c_Tag;
    const Bytes header = {'h', 'e', 'a', 'd'};
    std::string stream;
    for (size_t i = 0; i < chunks; ++i)
        stream += std::string(room, static_cast<char>('a' + i));
    MemoryOutput raw;
    {
        SealedOutput out(raw, header, fixedKey(), preferredCipher());
        out.write(stream.data(), stream.size());
        out.finish();
    }
    MemoryOutput other;
    {
        LockedBytes key = newArchiveKey();
        SealedOutput out(other, header, std::move(key), preferredCipher());
        out.write(stream.data(), stream.size());
        out.finish();
    }
    const auto chunkAt = [&](const Bytes &archive, size_t i) {
        return Bytes(archive.begin() + static_cast<long>(header.size() + i * size),
                     archive.begin() + static_cast<long>(header.size() + (i + 1) * size));
    };
    const auto without = [&](std::initializer_list<size_t> lost) {
        std::string kept;
        for (size_t i = 0; i < chunks; ++i)
            if (std::find(lost.begin(), lost.end(), i) == lost.end())
                kept += std::string(room, static_cast<char>('a' + i));
        return kept;
    };
    struct Case {
        const char *what;
        std::function<Bytes()> damage;
        std::string expected;
        size_t reports;
    };
    const auto build = [&](const std::vector<Bytes> &parts) {
        Bytes bytes = header;
        for (const Bytes &part : parts)
            bytes.insert(bytes.end(), part.begin(), part.end());
        return bytes;
    };
    const auto all = [&] {
        std::vector<Bytes> parts;
        for (size_t i = 0; i < chunks; ++i)
            parts.push_back(chunkAt(raw.out, i));
        return parts;
    };
    const Case cases[] = {
        {"intact", [&] { return raw.out; }, stream, 0},
        {"a chunk lost",
         [&] {
             auto p = all();
             p.erase(p.begin() + 3);
             return build(p);
         },
         without({3}), 1},
        {"a chunk repeated",
         [&] {
             auto p = all();
             Bytes again = p[3];
             p.insert(p.begin() + 4, std::move(again));
             return build(p);
         },
         stream, 1},
        {"two chunks swapped",
         [&] {
             auto p = all();
             std::swap(p[3], p[4]);
             return build(p);
         },
         without({3}), 2},
        {"a byte flipped",
         [&] {
             Bytes b = raw.out;
             b[header.size() + 5 * size + 99] ^= 4;
             return b;
         },
         without({5}), 1},
        {"another archive's chunk",
         [&] {
             auto p = all();
             p[6] = chunkAt(other.out, 6);
             return build(p);
         },
         without({6}), 1},
        {"cut at a chunk's end",
         [&] {
             auto p = all();
             p.resize(9);
             return build(p);
         },
         without({9, 10, 11}), 1},
        {"cut inside a chunk",
         [&] {
             Bytes b = raw.out;
             b.resize(b.size() - 100);
             return b;
         },
         without({11}), 1},
        {"bytes after the end",
         [&] {
             Bytes b = raw.out;
             b.insert(b.end(), 3 * size, 'x');
             return b;
         },
         stream, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes archive = c.damage();
        archive_test::MemoryInput in(archive, 7000);
        in.read(std::vector<unsigned char>(header.size()).data(), header.size());
        Header opened;
        opened.cipher = preferredCipher();
        opened.bytes = header;
        std::vector<std::string> damage;
        SealedInput sealed(in, opened, fixedKey(), [&](const std::string &what) { damage.push_back(what); });
        std::string out;
        char buffer[30000];
        for (size_t n; (n = sealed.read(buffer, sizeof buffer)) > 0;)
            out.append(buffer, n);
        EXPECT_TRUE(out == c.expected) << out.size() << " bytes instead of " << c.expected.size();
        EXPECT_EQ(damage.size(), c.reports) << (damage.empty() ? "" : damage.front());
        EXPECT_EQ(sealed.read(buffer, sizeof buffer), 0u);
    }
}

} // namespace
