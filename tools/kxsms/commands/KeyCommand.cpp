// key generate: writes NAME.pub, which backup --recipient encrypts to, and
// NAME.key, which restore, list and verify read with --key. The machine that
// backs up needs only NAME.pub, so it cannot read its archives back.
#include "commands/KeyCommand.h"

#include <ostream>

#include <fmt/format.h>

#include "frame/ArchiveSecrets.h"

namespace kxsms {

namespace {

const char *const c_KeyExamples = R"(
Examples:
  kxsms key generate -o vault            vault.pub (give it to backup --recipient), vault.key (keep it away)
  kxsms backup /srv --recipient vault.pub -f srv.kxa
  kxsms restore -f srv.kxa --key vault.key --to /tmp/srv
)";

} // namespace

KeyCommand::KeyCommand() : Command("key", "make a key pair for write-only archives (key generate -o NAME)") {}

void KeyCommand::define(OptionSet &options)
{
    options.value("ACTION", action_, "generate: make a key pair").required();
    options.value("-o,--output", name_, "write NAME.pub and NAME.key").required();
    options.flag("--no-passphrase", noPassphrase_, "write NAME.key unencrypted (protect it otherwise)");
    options.value("--passphrase-file", passphraseFile_,
                  "NAME.key's passphrase: the first line of this file; - for standard input");
    options.examples(c_KeyExamples);
}

bool KeyCommand::check(std::ostream &err, int64_t)
{
    if (action_ == "generate")
        return true;
    err << "kxsms key: unknown action " << action_ << " (the one action is: generate)\n";
    return false;
}

int KeyCommand::run(const GlobalOptions &)
{
    std::string error;
    std::optional<Secret> passphrase;
    if (!noPassphrase_) {
        passphrase = obtainPassphrase(passphraseFile_, true, error);
        if (!passphrase) {
            fmt::print(stderr, "kxsms: {}\n", error);
            return c_ExitStopped;
        }
    }
    try {
        if (!writeKeyPair(name_, passphrase ? &*passphrase : nullptr, error)) {
            fmt::print(stderr, "kxsms: {}\n", error);
            return c_ExitStopped;
        }
    } catch (const std::exception &e) {
        fmt::print(stderr, "kxsms: {}\n", e.what());
        return c_ExitStopped;
    }
    fmt::print(stderr,
               "kxsms: wrote {0}.pub (for backup --recipient) and {0}.key (for --key; keep it off the "
               "machines that back up)\n",
               name_);
    return c_ExitOk;
}

} // namespace kxsms
