// KXPassword: a password held only as a libsodium secretbox.
//
// Each object draws its own random key and nonce. The plain text is encrypted
// straight from the caller's string and decrypted straight into the caller's
// buffer, so no plain copy is ever made inside the library. The key lives in
// the object itself, whose layout hosts compile against; it is not page-locked
// because page locks do not nest and two objects may share a page.
#include <cstdlib>
#include <cstring>
#include <sodium.h>

#include "KxLib.h"

static_assert(crypto_secretbox_KEYBYTES == 32, "KXPassword::m_key holds a secretbox key");
static_assert(crypto_secretbox_NONCEBYTES == 24, "KXPassword::m_nonce holds a secretbox nonce");

namespace {

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// Clears every field so that neither the key nor the cipher nor the length
// survives; sodium_memzero is not optimised away like a dying object's stores.
void wipe(unsigned char *&cipher, unsigned long &length, unsigned char *key, std::size_t keySize, unsigned char *nonce,
          std::size_t nonceSize, bool &valid)
{
    if (cipher != nullptr) {
        sodium_memzero(cipher, length + crypto_secretbox_MACBYTES);
        std::free(cipher);
    }
    sodium_memzero(&cipher, sizeof cipher);
    sodium_memzero(&length, sizeof length);
    sodium_memzero(key, keySize);
    sodium_memzero(nonce, nonceSize);
    sodium_memzero(&valid, sizeof valid);
}

} // namespace

KXPassword::KXPassword(const char *plainText) : m_cipher(nullptr), m_length(0), m_key{}, m_nonce{}, m_valid(false)
{
    if (!sodiumReady()) {
        return;
    }
    const char *text = plainText != nullptr ? plainText : "";
    std::size_t length = std::strlen(text);
    if (length > SIZE_MAX - crypto_secretbox_MACBYTES) {
        return;
    }
    m_cipher = static_cast<unsigned char *>(std::malloc(length + crypto_secretbox_MACBYTES));
    if (m_cipher == nullptr) {
        return;
    }
    m_length = length;
    crypto_secretbox_keygen(m_key);
    randombytes_buf(m_nonce, sizeof m_nonce);
    if (crypto_secretbox_easy(m_cipher, reinterpret_cast<const unsigned char *>(text), length, m_nonce, m_key) != 0) {
        wipe(m_cipher, m_length, m_key, sizeof m_key, m_nonce, sizeof m_nonce, m_valid);
        return;
    }
    m_valid = true;
}

KXPassword::~KXPassword()
{
    wipe(m_cipher, m_length, m_key, sizeof m_key, m_nonce, sizeof m_nonce, m_valid);
}

int KXPassword::decrypt(char *out, unsigned long *length)
{
    if (length == nullptr || !m_valid) {
        return 0;
    }
    if (out == nullptr) {
        *length = m_length;
        return 1;
    }
    // A buffer announced too small is refused whole: neither the text nor
    // the length is written.
    if (*length < m_length) {
        return 0;
    }
    // The authenticator is checked before anything is written, so a failure
    // leaves the buffer as it was.
    if (crypto_secretbox_open_easy(reinterpret_cast<unsigned char *>(out), m_cipher,
                                   m_length + crypto_secretbox_MACBYTES, m_nonce, m_key) != 0) {
        return 0;
    }
    out[m_length] = '\0';
    *length = m_length;
    return 1;
}
