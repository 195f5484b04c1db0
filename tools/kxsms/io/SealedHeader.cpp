// The sealed container's keys and header: locked key memory, the archive
// key wrapped with a passphrase (Argon2id, then secretbox) and to recipients
// (sealed boxes), and the header's keyed hash.
#include <chrono>
#include <cstring>
#include <stdexcept>

#include <sodium.h>

#include "io/Sealed.h"

namespace kxsms::sealed {

namespace {

constexpr size_t c_FixedHead = 8 + 2 + 1 + 1 + 4 + 2;
constexpr size_t c_Mac = 32;
constexpr size_t c_Salt = crypto_pwhash_SALTBYTES;
constexpr size_t c_Nonce = crypto_secretbox_NONCEBYTES;
constexpr size_t c_PassphraseBody = c_Salt + 8 + 8 + c_Nonce + c_KeySize + crypto_secretbox_MACBYTES;
constexpr size_t c_RecipientBody = c_KeySize + crypto_box_SEALBYTES;
// What a reader accepts from a header: bounds the work a hostile archive asks for.
constexpr uint64_t c_MaxOps = 16;
constexpr uint64_t c_MaxMemory = 1ull << 30;
constexpr char c_KdfContext[crypto_kdf_CONTEXTBYTES + 1] = "kxsmsarc";

void initialise()
{
    if (sodium_init() < 0)
        throw IoError("cannot start libsodium");
}

void put16(std::vector<unsigned char> &out, uint16_t v)
{
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

void put32(std::vector<unsigned char> &out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void put64(unsigned char *out, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint64_t get64(const unsigned char *in)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | in[i];
    return v;
}

bool readExactly(InputStream &raw, unsigned char *out, size_t size)
{
    while (size > 0) {
        const size_t n = raw.read(out, size);
        if (n == 0)
            return false;
        out += n;
        size -= n;
    }
    return true;
}

// The keyed hash of the header's bytes before it.
void headerMac(const LockedBytes &archiveKey, const unsigned char *bytes, size_t size, unsigned char *mac)
{
    LockedBytes macKey(c_KeySize);
    crypto_kdf_derive_from_key(macKey.data(), macKey.size(), 2, c_KdfContext, archiveKey.data());
    crypto_generichash(mac, c_Mac, bytes, size, macKey.data(), macKey.size());
}

} // namespace

LockedBytes::LockedBytes(size_t size) : size_(size)
{
    if (size == 0)
        return;
    initialise();
    data_ = static_cast<unsigned char *>(sodium_malloc(size));
    if (data_ == nullptr)
        throw std::bad_alloc();
}

LockedBytes::~LockedBytes()
{
    sodium_free(data_);
}

LockedBytes::LockedBytes(LockedBytes &&other) noexcept : data_(other.data_), size_(other.size_)
{
    other.data_ = nullptr;
    other.size_ = 0;
}

LockedBytes &LockedBytes::operator=(LockedBytes &&other) noexcept
{
    if (this != &other) {
        sodium_free(data_);
        data_ = other.data_;
        size_ = other.size_;
        other.data_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

Cipher preferredCipher()
{
    initialise();
    return crypto_aead_aes256gcm_is_available() ? Cipher::Aes256Gcm : Cipher::XChaCha20Poly1305;
}

LockedBytes newArchiveKey()
{
    LockedBytes key(c_KeySize);
    randombytes_buf(key.data(), key.size());
    return key;
}

LockedBytes newKeyPair(std::vector<unsigned char> &pub)
{
    LockedBytes secret(c_SecretKeySize);
    pub.resize(c_PublicKeySize);
    crypto_box_keypair(pub.data(), secret.data());
    return secret;
}

std::vector<unsigned char> wrapWithPassphrase(const unsigned char *secret, size_t size, const std::string &passphrase,
                                              const KdfLimits &limits)
{
    initialise();
    std::vector<unsigned char> body(c_Salt + 16 + c_Nonce + size + crypto_secretbox_MACBYTES);
    unsigned char *salt = body.data();
    unsigned char *nonce = salt + c_Salt + 16;
    randombytes_buf(salt, c_Salt);
    put64(salt + c_Salt, limits.ops);
    put64(salt + c_Salt + 8, limits.memory);
    randombytes_buf(nonce, c_Nonce);
    LockedBytes kek(c_KeySize);
    if (crypto_pwhash(kek.data(), kek.size(), passphrase.data(), passphrase.size(), salt, limits.ops,
                      static_cast<size_t>(limits.memory), crypto_pwhash_ALG_ARGON2ID13) != 0)
        throw IoError("cannot derive a key from the passphrase (not enough memory)");
    crypto_secretbox_easy(nonce + c_Nonce, secret, size, nonce, kek.data());
    return body;
}

LockedBytes unwrapWithPassphrase(const unsigned char *wrapped, size_t size, const std::string &passphrase)
{
    initialise();
    if (size < c_Salt + 16 + c_Nonce + crypto_secretbox_MACBYTES)
        return LockedBytes();
    const unsigned char *salt = wrapped;
    const uint64_t ops = get64(salt + c_Salt);
    const uint64_t memory = get64(salt + c_Salt + 8);
    if (ops < crypto_pwhash_OPSLIMIT_MIN || ops > c_MaxOps || memory < crypto_pwhash_MEMLIMIT_MIN ||
        memory > c_MaxMemory)
        return LockedBytes();
    const unsigned char *nonce = salt + c_Salt + 16;
    const size_t boxSize = size - (c_Salt + 16 + c_Nonce);
    LockedBytes kek(c_KeySize);
    if (crypto_pwhash(kek.data(), kek.size(), passphrase.data(), passphrase.size(), salt, ops,
                      static_cast<size_t>(memory), crypto_pwhash_ALG_ARGON2ID13) != 0)
        return LockedBytes();
    LockedBytes secret(boxSize - crypto_secretbox_MACBYTES);
    if (crypto_secretbox_open_easy(secret.data(), nonce + c_Nonce, boxSize, nonce, kek.data()) != 0)
        return LockedBytes();
    return secret;
}

std::vector<unsigned char> makeHeader(const LockedBytes &archiveKey, Cipher cipher, const std::string *passphrase,
                                      const std::vector<std::vector<unsigned char>> &recipients,
                                      const KdfLimits &limits)
{
    initialise();
    std::vector<unsigned char> out(c_Magic, c_Magic + sizeof c_Magic);
    put16(out, c_Version);
    out.push_back(static_cast<unsigned char>(cipher));
    out.push_back(0);
    put32(out, c_ChunkSize);
    put16(out, static_cast<uint16_t>((passphrase != nullptr ? 1 : 0) + recipients.size()));
    if (passphrase != nullptr) {
        out.push_back(Wrap::Passphrase);
        const std::vector<unsigned char> body =
            wrapWithPassphrase(archiveKey.data(), archiveKey.size(), *passphrase, limits);
        out.insert(out.end(), body.begin(), body.end());
    }
    for (const std::vector<unsigned char> &recipient : recipients) {
        if (recipient.size() != c_PublicKeySize)
            throw std::invalid_argument("a public key has 32 bytes");
        out.push_back(Wrap::Recipient);
        unsigned char sealedBox[c_RecipientBody];
        crypto_box_seal(sealedBox, archiveKey.data(), archiveKey.size(), recipient.data());
        out.insert(out.end(), sealedBox, sealedBox + sizeof sealedBox);
    }
    unsigned char mac[c_Mac];
    headerMac(archiveKey, out.data(), out.size(), mac);
    out.insert(out.end(), mac, mac + sizeof mac);
    return out;
}

size_t headerSize(bool passphrase, size_t recipients)
{
    return c_FixedHead + (passphrase ? 1 + c_PassphraseBody : 0) + recipients * (1 + c_RecipientBody) + c_Mac;
}

PendingHeader::PendingHeader(std::vector<unsigned char> bytes) : size_(bytes.size())
{
    std::promise<std::vector<unsigned char>> made;
    future_ = made.get_future();
    made.set_value(std::move(bytes));
}

PendingHeader::PendingHeader(size_t size, std::packaged_task<std::vector<unsigned char>()> make)
    : size_(size), future_(make.get_future())
{
    thread_ = threadWithoutSignals([task = std::make_shared<decltype(make)>(std::move(make))] { (*task)(); });
}

PendingHeader::~PendingHeader()
{
    if (thread_.joinable())
        thread_.join();
}

bool PendingHeader::ready() const
{
    return taken_ || future_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

const std::vector<unsigned char> &PendingHeader::get()
{
    if (!taken_) {
        taken_ = true;
        try {
            bytes_ = future_.get();
            if (bytes_.size() != size_)
                throw std::logic_error("the header made is not of the size announced");
        } catch (...) {
            failure_ = std::current_exception();
        }
    }
    if (failure_)
        std::rethrow_exception(failure_);
    return bytes_;
}

bool readHeader(InputStream &raw, Header &header, std::string &error)
{
    header.bytes.assign(c_Magic, c_Magic + sizeof c_Magic);
    header.bytes.resize(c_FixedHead);
    if (!readExactly(raw, header.bytes.data() + sizeof c_Magic, c_FixedHead - sizeof c_Magic)) {
        error = "the encrypted archive's header is cut short";
        return false;
    }
    const unsigned char *fixed = header.bytes.data();
    const uint16_t version = static_cast<uint16_t>(fixed[8] | fixed[9] << 8);
    const uint8_t cipher = fixed[10];
    header.chunkSize = static_cast<uint32_t>(fixed[12] | fixed[13] << 8 | fixed[14] << 16 | fixed[15] << 24);
    const uint16_t wraps = static_cast<uint16_t>(fixed[16] | fixed[17] << 8);
    if (version != c_Version) {
        error = "the encrypted archive has a version this kxsms does not read (" + std::to_string(version) + ")";
        return false;
    }
    if ((cipher != 1 && cipher != 2) || header.chunkSize != c_ChunkSize || wraps == 0 || wraps > c_MaxWraps) {
        error = "the encrypted archive's header is damaged";
        return false;
    }
    header.cipher = static_cast<Cipher>(cipher);
    header.wraps.clear();
    for (uint16_t i = 0; i < wraps; ++i) {
        unsigned char kind = 0;
        if (!readExactly(raw, &kind, 1)) {
            error = "the encrypted archive's header is cut short";
            return false;
        }
        if (kind != Wrap::Passphrase && kind != Wrap::Recipient) {
            error = "the encrypted archive's header is damaged";
            return false;
        }
        Wrap wrap{static_cast<Wrap::Kind>(kind), {}};
        wrap.body.resize(kind == Wrap::Passphrase ? c_PassphraseBody : c_RecipientBody);
        if (!readExactly(raw, wrap.body.data(), wrap.body.size())) {
            error = "the encrypted archive's header is cut short";
            return false;
        }
        header.bytes.push_back(kind);
        header.bytes.insert(header.bytes.end(), wrap.body.begin(), wrap.body.end());
        header.wraps.push_back(std::move(wrap));
    }
    const size_t macAt = header.bytes.size();
    header.bytes.resize(macAt + c_Mac);
    if (!readExactly(raw, header.bytes.data() + macAt, c_Mac)) {
        error = "the encrypted archive's header is cut short";
        return false;
    }
    return true;
}

bool hasWrap(const Header &header, Wrap::Kind kind)
{
    for (const Wrap &wrap : header.wraps)
        if (wrap.kind == kind)
            return true;
    return false;
}

LockedBytes openHeader(const Header &header, const std::string *passphrase, const LockedBytes *secretKey,
                       bool &headerDamaged)
{
    initialise();
    headerDamaged = false;
    unsigned char pub[c_PublicKeySize];
    if (secretKey != nullptr)
        crypto_scalarmult_base(pub, secretKey->data());
    for (const Wrap &wrap : header.wraps) {
        LockedBytes key;
        if (wrap.kind == Wrap::Passphrase && passphrase != nullptr) {
            key = unwrapWithPassphrase(wrap.body.data(), wrap.body.size(), *passphrase);
        } else if (wrap.kind == Wrap::Recipient && secretKey != nullptr) {
            LockedBytes opened(c_KeySize);
            if (crypto_box_seal_open(opened.data(), wrap.body.data(), wrap.body.size(), pub, secretKey->data()) == 0)
                key = std::move(opened);
        }
        if (key.size() != c_KeySize)
            continue;
        unsigned char mac[c_Mac];
        const size_t macAt = header.bytes.size() - c_Mac;
        headerMac(key, header.bytes.data(), macAt, mac);
        if (sodium_memcmp(mac, header.bytes.data() + macAt, c_Mac) == 0)
            return key;
        headerDamaged = true;
    }
    return LockedBytes();
}

} // namespace kxsms::sealed
