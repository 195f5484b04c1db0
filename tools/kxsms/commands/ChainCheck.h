// The archives of a chain opened together, and the check of each data set
// the newest archive lists without data against the copies its earlier
// archives hold: only the version listed counts. restore, restore -n and
// verify report it alike.
#ifndef KXSMS_TOOLS_CHAINCHECK_H
#define KXSMS_TOOLS_CHAINCHECK_H

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/ArchiveChain.h"
#include "commands/ArchiveSource.h"
#include "frame/Progress.h"
#include "io/Text.h"

namespace kxsms {

// The archives of a chain, oldest first, each open for reading.
using Archives = std::vector<std::unique_ptr<ArchiveSource>>;

// Opens every archive and reads its header; false (reported) when one cannot
// be read or standard input is given twice.
bool openChain(const std::vector<std::string> &paths, Archives &archives, Progress &progress, bool verifyData = true);

// What the chain checks look at in each archive, oldest first.
std::vector<ChainLink> chainLinks(const Archives &archives);

class ChainCheck {
public:
    // What to do with an earlier archive's member.
    enum class Copy : uint8_t {
        Unlisted, // the newest archive does not list it
        Pass,     // not wanted: the data is taken already, or this is no saved copy, or another version
        Take,     // the version the newest archive lists as unchanged
        Instead,  // the newest archive's backup could not save it; this copy is the one the chain holds
    };

    // A member of the newest archive.
    void listNewest(const format::MemberDescriptor &member);
    // A member of an earlier archive, the newer archives read before it.
    // Take and Instead mark the data set as found.
    Copy offer(const format::MemberDescriptor &member);
    // Reports, in name order, each data set the newest archive lists that no
    // archive of the chain holds in the version listed, counting each failed;
    // how many there were.
    size_t report(const std::string &newestLabel, Progress &progress, NameStyle style);

private:
    enum class Want : uint8_t { Done, Unchanged, NotSaved };
    // What the newest archive lists of a data set, and whether an earlier
    // copy was passed over for being another version.
    struct Wanted {
        Want want = Want::Done;
        format::Identity identity;
        bool otherVersion = false;
    };

    std::unordered_map<std::string, Wanted> listing_;
};

} // namespace kxsms

#endif
