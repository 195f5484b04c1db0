// The commands that look at the data sets of the target: resources, ls, info.
#ifndef KXSMS_TOOLS_BROWSECOMMANDS_H
#define KXSMS_TOOLS_BROWSECOMMANDS_H

#include <string>

#include "frame/CommandLine.h"

namespace kxsms {

class ResourcesCommand final : public Command {
public:
    ResourcesCommand();
    void define(OptionSet &options) override;
    int run(const GlobalOptions &globals) override;
};

struct LsOptions {
    std::string path; // empty: the TSA's root
    bool recursive = false;
    bool longFormat = false;
    bool fullTime = false; // long form with mode, owner and the TSA's exact times (each data set opened)
    bool json = false;
};

class LsCommand final : public Command {
public:
    LsCommand();
    const LsOptions &options() const { return options_; }
    void define(OptionSet &options) override;
    void takeLocalNames(const GlobalOptions &globals, std::string_view cwd) override;
    int run(const GlobalOptions &globals) override;

private:
    LsOptions options_;
};

struct InfoOptions {
    std::string path;
    bool json = false;
};

class InfoCommand final : public Command {
public:
    InfoCommand();
    const InfoOptions &options() const { return options_; }
    void define(OptionSet &options) override;
    void takeLocalNames(const GlobalOptions &globals, std::string_view cwd) override;
    int run(const GlobalOptions &globals) override;

private:
    InfoOptions options_;
};

} // namespace kxsms

#endif
