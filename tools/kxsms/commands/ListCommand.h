// list: the members of an archive.
#ifndef KXSMS_TOOLS_LISTCOMMAND_H
#define KXSMS_TOOLS_LISTCOMMAND_H

#include <string>
#include <vector>

#include "frame/CommandLine.h"

namespace kxsms {

struct ListOptions {
    std::string archive;               // "-" for standard input
    std::vector<std::string> paths;    // the members to list, with what lies below them
    std::vector<std::string> excludes; // exact names and shell patterns
    bool json = false;
    bool fullTime = false; // times to the nanosecond
};

class ListCommand final : public Command {
public:
    ListCommand();
    const ListOptions &options() const { return options_; }
    void define(OptionSet &options) override;
    int run(const GlobalOptions &globals) override;

private:
    ListOptions options_;
};

} // namespace kxsms

#endif
