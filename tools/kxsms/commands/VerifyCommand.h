// verify: an archive's structure and every checksum, without restoring.
#ifndef KXSMS_TOOLS_VERIFYCOMMAND_H
#define KXSMS_TOOLS_VERIFYCOMMAND_H

#include <string>

#include "frame/CommandLine.h"

namespace kxsms {

struct VerifyOptions {
    std::string archive; // "-" for standard input
};

class VerifyCommand final : public Command {
public:
    VerifyCommand();
    const VerifyOptions &options() const { return options_; }
    void define(OptionSet &options) override;
    int run(const GlobalOptions &globals) override;

private:
    VerifyOptions options_;
};

} // namespace kxsms

#endif
