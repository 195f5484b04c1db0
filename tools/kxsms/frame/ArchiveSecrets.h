// Passphrases and key files of encrypted archives: where a passphrase comes
// from (a file, KXSMS_PASSPHRASE, the terminal), the key files of
// write-only archives, and what opens an encrypted archive that is read.
// Secrets are kept in locked memory and wiped; they never reach the
// arguments, the log or a message.
#ifndef KXSMS_TOOLS_ARCHIVESECRETS_H
#define KXSMS_TOOLS_ARCHIVESECRETS_H

#include <optional>
#include <string>
#include <vector>

#include "frame/CommandLine.h"
#include "frame/Password.h"
#include "io/Sealed.h"

namespace kxsms {

// The options that open encrypted archives, defined by each command that
// reads archives (--passphrase-file, --key), and what they unlocked, kept
// for the other archives of a chain.
struct ArchiveCredentials {
    std::string passphraseFile; // "-": standard input
    std::string keyFile;        // NAME.key
};
ArchiveCredentials &archiveCredentials();

// Defines --passphrase-file and --key for a command that reads archives.
void defineReadingSecrets(OptionSet &options);

// The passphrase: the first line of file ("-": standard input) when given,
// else KXSMS_PASSPHRASE, else asked on the terminal (twice when confirm,
// both answers must agree). Nothing, with the reason, when none can be had.
std::optional<Secret> obtainPassphrase(const std::string &file, bool confirm, std::string &error);

// A public key file (NAME.pub); false with the reason.
bool readPublicKey(const std::string &path, std::vector<unsigned char> &key, std::string &error);

// Writes NAME.pub and NAME.key (mode 0600; refuses to replace either). The
// secret key is wrapped with passphrase, or written plain when it is null.
bool writeKeyPair(const std::string &name, const Secret *passphrase, std::string &error);

// The archive key of an encrypted archive, from the credentials given to the
// command. Empty with the reason in error when it cannot be had.
sealed::LockedBytes unlockArchive(const sealed::Header &header, const std::string &archivePath, std::string &error);

} // namespace kxsms

#endif
