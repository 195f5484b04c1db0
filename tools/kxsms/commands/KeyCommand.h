// key generate: a key pair for write-only archives.
#ifndef KXSMS_TOOLS_KEYCOMMAND_H
#define KXSMS_TOOLS_KEYCOMMAND_H

#include <cstdint>
#include <ostream>
#include <string>

#include "frame/CommandLine.h"

namespace kxsms {

class KeyCommand final : public Command {
public:
    KeyCommand();
    void define(OptionSet &options) override;
    bool check(std::ostream &err, int64_t now) override;
    int run(const GlobalOptions &globals) override;

private:
    std::string action_;         // "generate"
    std::string name_;           // writes NAME.pub and NAME.key
    bool noPassphrase_ = false;  // NAME.key written plain
    std::string passphraseFile_; // "-": standard input
};

} // namespace kxsms

#endif
