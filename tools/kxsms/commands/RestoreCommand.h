// restore: the members of an archive, or of a chain of archives, written
// back through the module.
#ifndef KXSMS_TOOLS_RESTORECOMMAND_H
#define KXSMS_TOOLS_RESTORECOMMAND_H

#include <string>
#include <vector>

#include "frame/CommandLine.h"

namespace kxsms {

// What restore does with a data set that exists already.
enum class Overwrite {
    Always, // replace it
    Newer,  // replace it only when the archive's copy is newer (the TSA decides)
    Never,  // leave it alone
};

struct RestoreOptions {
    std::vector<std::string> archives; // a chain, oldest first
    std::vector<std::string> paths;    // the members to take, with what lies below them
    std::vector<std::string> excludes; // exact names and shell patterns
    std::string to;                    // restore below this directory, or
    bool inPlace = false;              // over the original names
    // --to: Always; --in-place: Newer (an existing data set that is not older is kept).
    Overwrite overwrite = Overwrite::Always;
    unsigned int strip = 0; // --to: leading components of each name left out (tar's --strip-components)
    bool xattrs = true;     // restore extended attributes and ACLs (the access rights)
    bool dryRun = false;
    bool allowGaps = false; // a chain whose links do not meet: restored, each copy checked
    bool noSync = false; // leave what was written to the page cache (no syncfs)
    unsigned jobs = 1;   // module objects writing file-system members at once (-j)
};

class RestoreCommand final : public Command {
public:
    RestoreCommand();
    const RestoreOptions &options() const { return options_; }
    void define(OptionSet &options) override;
    bool check(std::ostream &err, int64_t now) override;
    void takeLocalNames(const GlobalOptions &globals, std::string_view cwd) override;
    int run(const GlobalOptions &globals) override;

private:
    RestoreOptions options_;
    std::string overwrite_; // as given
    std::string strip_;     // as given
    std::string jobs_;      // as given
    bool noXattrs_ = false;
};

} // namespace kxsms

#endif
