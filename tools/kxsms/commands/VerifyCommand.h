// verify: an archive's structure and every checksum, without restoring; of
// a chain, each archive's and whether the chain holds every version its
// newest archive lists.
#ifndef KXSMS_TOOLS_VERIFYCOMMAND_H
#define KXSMS_TOOLS_VERIFYCOMMAND_H

#include <string>
#include <vector>

#include "frame/CommandLine.h"

namespace kxsms {

struct VerifyOptions {
    std::vector<std::string> archives; // one archive or a chain, oldest first; "-" for standard input
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
