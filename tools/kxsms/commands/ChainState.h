// What kxsms keeps of its own between jobs, so that archives know what they
// follow: per TSA and set of backup paths, the last backup that cleared the
// archive flags (its archive's id, when it started, where it was written).
// An incremental backup records that archive as the one it follows, since
// what it lists as unchanged is unchanged since then; a chain whose links do
// not meet is then named before anything is restored.
//
// One SQLite file, chains.sqlite, in $XDG_STATE_HOME/kxsms/ when that is set
// (an absolute one), else /var/lib/kxsms/ for root, else
// ~/.local/state/kxsms/. A clearing run is written only once its archive is
// complete; reading never makes the file.
#ifndef KXSMS_TOOLS_CHAINSTATE_H
#define KXSMS_TOOLS_CHAINSTATE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "KXSMS.h"

namespace kxsms {

// A backup that cleared the archive flags.
struct ClearingRun {
    uint64_t archiveId = 0;
    int64_t startedNanoseconds = 0;
    std::string archive; // the archive file's absolute name, or "-" for standard output
    bool incremental = false;
};

class ChainState {
public:
    // The store's file (not made).
    static std::string defaultFile();

    explicit ChainState(std::string file = defaultFile()) : file_(std::move(file)) {}
    const std::string &file() const { return file_; }

    // Backups of the same TSA type and the same paths (in any order) are one scope.
    static std::string scopeOf(KXSMS_TSA_TYPE type, const std::vector<std::string> &paths);

    // The last clearing run of the scope; nothing when none is known. A store
    // that cannot be read sets error (and gives nothing).
    std::optional<ClearingRun> lastClearing(const std::string &scope, std::string &error) const;
    // Records a clearing run whose archive is complete; false with the reason.
    bool recordClearing(const std::string &scope, const ClearingRun &run, std::string &error) const;

private:
    std::string file_;
};

} // namespace kxsms

#endif
