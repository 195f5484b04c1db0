// Passphrases, key files and unlocking encrypted archives.
#include "frame/ArchiveSecrets.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

namespace kxsms {

namespace {

const char *const c_PublicHead = "kxsms public key\n";
const char *const c_SecretHead = "kxsms secret key\n";

// What the command's credentials unlocked, kept for the next archive of a chain.
struct Unlocked {
    std::optional<Secret> passphrase;
    std::optional<sealed::LockedBytes> secretKey;
};

Unlocked &unlocked()
{
    static Unlocked state;
    return state;
}

std::string base64(const unsigned char *data, size_t size)
{
    std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
    text.resize(strlen(text.c_str()));
    return text;
}

bool unbase64(const std::string &text, unsigned char *out, size_t capacity, size_t &size)
{
    return sodium_base642bin(out, capacity, text.data(), text.size(), "\n", &size, nullptr,
                             sodium_base64_VARIANT_ORIGINAL) == 0;
}

// A small file read whole; false with the reason.
bool readSmallFile(const std::string &path, std::string &text, std::string &error)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read " + path + ": " + strerror(errno);
        return false;
    }
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) > 0 && text.size() < 65536)
        text.append(buffer, static_cast<size_t>(n));
    sodium_memzero(buffer, sizeof buffer);
    close(fd);
    return true;
}

// Writes a new file (never over an existing one) and makes it durable, the
// file and then the name in its folder: a key lost in a crash after it was
// reported written would leave every archive made with its public half
// unreadable. On failure nothing is left and the reason is in error.
bool writeNewFile(const std::string &path, const std::string &text, mode_t mode, std::string &error)
{
    int fd = -1;
    do
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = "cannot create " + path + ": " + strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    const bool ok = done == text.size() && fsync(fd) == 0;
    const int why = errno;
    if (close(fd) != 0 || !ok) {
        error = "cannot write " + path + ": " + strerror(ok ? errno : why);
        unlink(path.c_str());
        return false;
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 || fsync(dir) != 0) {
        error = "cannot make " + path + " durable: " + folder + ": " + strerror(errno);
        if (dir >= 0)
            close(dir);
        unlink(path.c_str());
        return false;
    }
    close(dir);
    return true;
}

// The secret key of a key file; its passphrase is asked as the archive's would be.
std::optional<sealed::LockedBytes> readSecretKey(const std::string &path, const std::string &passphraseFile,
                                                 std::string &error)
{
    std::string text;
    if (!readSmallFile(path, text, error))
        return std::nullopt;
    struct Wipe {
        std::string &text;
        ~Wipe() { sodium_memzero(text.data(), text.size()); }
    } wipe{text};
    const size_t head = strlen(c_SecretHead);
    if (text.compare(0, head, c_SecretHead) != 0) {
        error = path + " is not a kxsms secret key";
        return std::nullopt;
    }
    const size_t space = text.find(' ', head);
    const size_t end = text.find('\n', head);
    if (space == std::string::npos || end == std::string::npos || space > end) {
        error = path + " is not a kxsms secret key";
        return std::nullopt;
    }
    const std::string kind = text.substr(head, space - head);
    sealed::LockedBytes raw(256);
    size_t size = 0;
    if (!unbase64(text.substr(space + 1, end - space - 1), raw.data(), raw.size(), size)) {
        error = path + " is damaged";
        return std::nullopt;
    }
    if (kind == "plain" && size == sealed::c_SecretKeySize) {
        sealed::LockedBytes key(sealed::c_SecretKeySize);
        memcpy(key.data(), raw.data(), key.size());
        return key;
    }
    if (kind != "passphrase") {
        error = path + " is not a kxsms secret key";
        return std::nullopt;
    }
    Unlocked &state = unlocked();
    if (!state.passphrase) {
        state.passphrase = obtainPassphrase(passphraseFile, false, error);
        if (!state.passphrase) {
            error = path + " is encrypted: " + error;
            return std::nullopt;
        }
    }
    sealed::LockedBytes key = sealed::unwrapWithPassphrase(raw.data(), size, state.passphrase->buffer());
    if (key.size() != sealed::c_SecretKeySize) {
        error = "wrong passphrase or key: the passphrase does not open " + path;
        return std::nullopt;
    }
    return key;
}

} // namespace

ArchiveCredentials &archiveCredentials()
{
    static ArchiveCredentials credentials;
    return credentials;
}

void defineReadingSecrets(OptionSet &options)
{
    options.value("--passphrase-file", archiveCredentials().passphraseFile,
                  "an encrypted archive's passphrase: the first line of this file; - for standard input");
    options.value("--key", archiveCredentials().keyFile, "the secret key (NAME.key) of a write-only archive");
}

std::optional<Secret> obtainPassphrase(const std::string &file, bool confirm, std::string &error)
{
    if (!file.empty()) {
        std::optional<Secret> secret = readSecretLine(file, error);
        if (!secret) {
            error = "cannot read the passphrase file " + error;
        } else if (secret->buffer().empty()) {
            error = "the passphrase file " + file + " holds no passphrase";
            return std::nullopt;
        }
        return secret;
    }
    if (const char *text = getenv("KXSMS_PASSPHRASE"); text != nullptr && *text != '\0') {
        Secret secret;
        secret.lock();
        secret.buffer() = text;
        return secret;
    }
    if (!canPromptOnTerminal()) {
        error = "no passphrase: give --passphrase-file or KXSMS_PASSPHRASE, or run on a terminal";
        return std::nullopt;
    }
    Secret first = promptSecret("Passphrase: ");
    if (first.buffer().empty()) {
        error = "no passphrase given";
        return std::nullopt;
    }
    if (confirm) {
        Secret again = promptSecret("The same passphrase again: ");
        if (again.buffer() != first.buffer()) {
            error = "the passphrases given differ";
            return std::nullopt;
        }
    }
    return first;
}

bool readPublicKey(const std::string &path, std::vector<unsigned char> &key, std::string &error)
{
    std::string text;
    if (!readSmallFile(path, text, error))
        return false;
    const size_t head = strlen(c_PublicHead);
    unsigned char raw[64];
    size_t size = 0;
    if (text.compare(0, head, c_PublicHead) != 0 || !unbase64(text.substr(head), raw, sizeof raw, size) ||
        size != sealed::c_PublicKeySize) {
        error = path + " is not a kxsms public key";
        return false;
    }
    key.assign(raw, raw + size);
    return true;
}

bool writeKeyPair(const std::string &name, const Secret *passphrase, std::string &error)
{
    std::vector<unsigned char> pub;
    const sealed::LockedBytes secret = sealed::newKeyPair(pub);
    std::string secretText = c_SecretHead;
    if (passphrase != nullptr) {
        const std::vector<unsigned char> wrapped =
            sealed::wrapWithPassphrase(secret.data(), secret.size(), passphrase->c_str(), sealed::KdfLimits{});
        secretText += "passphrase " + base64(wrapped.data(), wrapped.size()) + "\n";
    } else {
        secretText += "plain " + base64(secret.data(), secret.size()) + "\n";
    }
    const bool written = writeNewFile(name + ".key", secretText, 0600, error);
    sodium_memzero(secretText.data(), secretText.size());
    if (!written)
        return false;
    if (!writeNewFile(name + ".pub", c_PublicHead + base64(pub.data(), pub.size()) + "\n", 0644, error)) {
        unlink((name + ".key").c_str());
        return false;
    }
    return true;
}

sealed::LockedBytes unlockArchive(const sealed::Header &header, const std::string &archivePath, std::string &error)
{
    const ArchiveCredentials &credentials = archiveCredentials();
    Unlocked &state = unlocked();
    if (credentials.passphraseFile == "-" && archivePath == "-") {
        error = "the archive and its passphrase cannot both come from standard input";
        return sealed::LockedBytes();
    }
    if (!credentials.keyFile.empty() && !state.secretKey) {
        state.secretKey = readSecretKey(credentials.keyFile, credentials.passphraseFile, error);
        if (!state.secretKey)
            return sealed::LockedBytes();
    }
    const bool passphraseGiven = !credentials.passphraseFile.empty() || getenv("KXSMS_PASSPHRASE") != nullptr;
    if (!state.passphrase && sealed::hasWrap(header, sealed::Wrap::Passphrase) &&
        (passphraseGiven || (!state.secretKey && canPromptOnTerminal() && archivePath != "-"))) {
        state.passphrase = obtainPassphrase(credentials.passphraseFile, false, error);
        if (!state.passphrase)
            return sealed::LockedBytes();
    }
    if (!state.passphrase && !state.secretKey) {
        error = passphraseGiven ? "wrong passphrase or key: this archive opens only with a secret key (--key)"
                                : "the archive is encrypted: give --passphrase-file, KXSMS_PASSPHRASE or --key";
        return sealed::LockedBytes();
    }
    bool headerDamaged = false;
    sealed::LockedBytes key = sealed::openHeader(header, state.passphrase ? &state.passphrase->buffer() : nullptr,
                                                 state.secretKey ? &*state.secretKey : nullptr, headerDamaged);
    if (key.empty())
        error =
            headerDamaged ? "the archive's header does not authenticate: it was altered" : "wrong passphrase or key";
    return key;
}

} // namespace kxsms
