// rm: deletes data sets on the target.
#ifndef KXSMS_TOOLS_RMCOMMAND_H
#define KXSMS_TOOLS_RMCOMMAND_H

#include <string>
#include <vector>

#include "frame/CommandLine.h"

namespace kxsms {

struct RmOptions {
    std::vector<std::string> paths;
    bool recursive = false; // each subtree, children before their parents
};

class RmCommand final : public Command {
public:
    RmCommand();
    const RmOptions &options() const { return options_; }
    void define(OptionSet &options) override;
    void takeLocalNames(const GlobalOptions &globals, std::string_view cwd) override;
    int run(const GlobalOptions &globals) override;

private:
    RmOptions options_;
};

} // namespace kxsms

#endif
