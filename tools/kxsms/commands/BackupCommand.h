// backup: the subtrees at the paths given, into one archive.
#ifndef KXSMS_TOOLS_BACKUPCOMMAND_H
#define KXSMS_TOOLS_BACKUPCOMMAND_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frame/CommandLine.h"

namespace kxsms {

struct BackupOptions {
    std::vector<std::string> paths;    // what to save, each with everything below it
    std::string archive;               // the archive to write; "-" for standard output
    std::vector<std::string> excludes; // exact names and shell patterns
    std::optional<int64_t> since;      // only data sets modified since then (parents always)
    bool incremental = false;
    bool clearArchive = false;
    bool zstd = false;
    bool dryRun = false;
    bool oneFileSystem = false; // mounts below a path are not entered
    bool noSync = false;                 // leave the archive to the page cache (no fsync)
    bool encrypt = false;                // with a passphrase
    std::vector<std::string> recipients; // public key files (NAME.pub): write-only
    std::string passphraseFile;          // "-": standard input
    unsigned jobs = 1;                   // module objects at work at once (-j)
};

class BackupCommand final : public Command {
public:
    BackupCommand();
    const BackupOptions &options() const { return options_; }
    void define(OptionSet &options) override;
    bool check(std::ostream &err, int64_t now) override;
    void takeLocalNames(const GlobalOptions &globals, std::string_view cwd) override;
    int run(const GlobalOptions &globals) override;

private:
    BackupOptions options_;
    std::string since_; // as given
    std::string jobs_;  // -j as given
};

} // namespace kxsms

#endif
