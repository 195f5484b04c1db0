// The encrypted container on its own, in memory: round trips with both
// ciphers across chunk boundaries and early flushes, passphrase and
// recipient wraps, and a header that does not open once any byte of it
// changes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive/ArchiveSupport.h"
#include "io/Sealed.h"

namespace {

using namespace kxsms;
using namespace kxsms::sealed;

using archive_test::Bytes;
using archive_test::MemoryInput;
using archive_test::MemoryOutput;

const KdfLimits c_Fast{1, 8u << 10}; // the smallest limits: fast tests

std::string pattern(size_t size)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(i * 131 + i / 977);
    return text;
}

// Reads a sealed archive back with a passphrase or secret key; damage lines into damage.
std::string readBack(const Bytes &archive, const std::string *passphrase, const LockedBytes *secret,
                     std::vector<std::string> &damage, bool &opened)
{
    MemoryInput raw(archive, 5000); // in pieces, as from a pipe
    char magic[8];
    EXPECT_EQ(raw.read(magic, sizeof magic), sizeof magic);
    Header header;
    std::string error;
    opened = false;
    if (!readHeader(raw, header, error))
        return "";
    bool headerDamaged = false;
    LockedBytes key = openHeader(header, passphrase, secret, headerDamaged);
    if (key.empty())
        return "";
    opened = true;
    SealedInput in(raw, header, std::move(key), [&](const std::string &what) { damage.push_back(what); });
    std::string out;
    char buffer[10000];
    for (size_t n; (n = in.read(buffer, sizeof buffer)) > 0;)
        out.append(buffer, n);
    return out;
}

TEST(SealedStreams, RoundTripsAcrossChunksAndFlushes)
{
    const std::string passphrase = "a passphrase";
    for (const Cipher cipher : {Cipher::Aes256Gcm, Cipher::XChaCha20Poly1305}) {
        if (cipher == Cipher::Aes256Gcm && preferredCipher() != Cipher::Aes256Gcm)
            continue;
        for (const size_t size : {size_t{0}, size_t{1}, size_t{c_ChunkSize - 4}, size_t{c_ChunkSize}, size_t{300000}}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(cipher)) + " " + std::to_string(size));
            const std::string data = pattern(size);
            MemoryOutput raw;
            LockedBytes key = newArchiveKey();
            const std::vector<unsigned char> header = makeHeader(key, cipher, &passphrase, {}, c_Fast);
            SealedOutput out(raw, header, std::move(key), cipher);
            // In uneven pieces, with a flush (a part-filled chunk) in the middle.
            for (size_t at = 0; at < size; at += 7777) {
                out.write(data.data() + at, std::min<size_t>(7777, size - at));
                if (at == 7777 * 3)
                    out.flush();
            }
            out.finish();
            EXPECT_TRUE(raw.finished);
            EXPECT_EQ((raw.out.size() - header.size()) % (c_ChunkSize + c_Tag), 0u);
            std::vector<std::string> damage;
            bool opened = false;
            EXPECT_EQ(readBack(raw.out, &passphrase, nullptr, damage, opened), data);
            EXPECT_TRUE(opened);
            EXPECT_TRUE(damage.empty()) << damage.front();
            const std::string wrong = "another";
            readBack(raw.out, &wrong, nullptr, damage, opened);
            EXPECT_FALSE(opened);
        }
    }
}

TEST(SealedStreams, RecipientsAndEveryHeaderByte)
{
    std::vector<unsigned char> pubA, pubB;
    const LockedBytes secretA = newKeyPair(pubA);
    const LockedBytes secretB = newKeyPair(pubB);
    std::vector<unsigned char> pubC;
    const LockedBytes secretC = newKeyPair(pubC);
    MemoryOutput raw;
    LockedBytes key = newArchiveKey();
    const std::vector<unsigned char> header = makeHeader(key, preferredCipher(), nullptr, {pubA, pubB});
    SealedOutput out(raw, header, std::move(key), preferredCipher());
    out.write("hello", 5);
    out.finish();
    std::vector<std::string> damage;
    bool opened = false;
    EXPECT_EQ(readBack(raw.out, nullptr, &secretA, damage, opened), "hello");
    EXPECT_EQ(readBack(raw.out, nullptr, &secretB, damage, opened), "hello");
    EXPECT_EQ(readBack(raw.out, nullptr, &secretC, damage, opened), "");
    EXPECT_FALSE(opened);
    // Whatever byte of the header changes, it no longer opens (or reads).
    for (size_t at = 8; at < header.size(); ++at) {
        Bytes bytes = raw.out;
        bytes[at] ^= 1;
        readBack(bytes, nullptr, &secretA, damage, opened);
        EXPECT_FALSE(opened) << "byte " << at;
    }
    EXPECT_TRUE(damage.empty());
}

TEST(SealedStreams, SecretsWrappedWithAPassphrase)
{
    unsigned char secret[32];
    for (unsigned char &b : secret)
        b = static_cast<unsigned char>(&b - secret);
    const std::vector<unsigned char> wrapped = wrapWithPassphrase(secret, sizeof secret, "pass", c_Fast);
    const LockedBytes back = unwrapWithPassphrase(wrapped.data(), wrapped.size(), "pass");
    ASSERT_EQ(back.size(), sizeof secret);
    EXPECT_EQ(memcmp(back.data(), secret, sizeof secret), 0);
    EXPECT_TRUE(unwrapWithPassphrase(wrapped.data(), wrapped.size(), "Pass").empty());
    // Limits beyond what a reader accepts are refused without deriving.
    std::vector<unsigned char> greedy = wrapped;
    greedy[16 + 7] = 0x7f; // ops limit
    EXPECT_TRUE(unwrapWithPassphrase(greedy.data(), greedy.size(), "pass").empty());
}

} // namespace
