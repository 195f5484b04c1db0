// diff: an archive, or the newest view of a chain of archives, compared
// with the live data sets through the module's scan and backup data.
#ifndef KXSMS_TOOLS_DIFFCOMMAND_H
#define KXSMS_TOOLS_DIFFCOMMAND_H

#include <string>
#include <vector>

#include "frame/CommandLine.h"

namespace kxsms {

struct DiffOptions {
    std::vector<std::string> archives; // a chain, oldest first
    std::vector<std::string> paths;    // compare only these members and what lies below them
    bool json = false;
};

class DiffCommand final : public Command {
public:
    DiffCommand();
    void define(OptionSet &options) override;
    void takeLocalNames(const GlobalOptions &globals, std::string_view cwd) override;
    int run(const GlobalOptions &globals) override;

private:
    DiffOptions options_;
    std::string cwd_; // where relative PATHs are, once the archive's TSA is known
};

} // namespace kxsms

#endif
