// Restoring one member at a time through BeginRestore / Restore /
// EndRestore, and removing a data set that a chain of archives no longer
// lists. The overwrite rule of the options decides about what exists.
#ifndef KXSMS_TOOLS_RESTOREJOB_H
#define KXSMS_TOOLS_RESTOREJOB_H

#include <cstdint>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "archive/ArchiveReader.h"
#include "archive/DataSetStream.h"
#include "commands/RestoreCommand.h"
#include "frame/ModuleSession.h"
#include "frame/Progress.h"

namespace kxsms {

// The stream of the member being restored, block by block: straight from
// the archive reader, or from blocks the reading thread handed to a worker.
class MemberData {
public:
    virtual ~MemberData() = default;
    // The next block (valid until the next call); false at the member's end.
    virtual bool readBlock(const unsigned char *&data, size_t &size) = 0;
    // Once readBlock said false: whether the member came whole and intact.
    virtual bool intact() const = 0;
};

class RestoreJob {
public:
    // verbosity: with 1 or more, an existing parent that is kept is named too.
    RestoreJob(const RestoreOptions &options, int verbosity, ModuleSession &session, Progress &progress)
        : options_(options), verbosity_(verbosity), session_(session), kx_(session.kx()), progress_(progress)
    {
    }

    // Restores the member the reader stands at; false when the job must
    // stop. source, when not empty, names the archive in --dry-run lines
    // (a chain takes each member from one of several).
    bool restore(const format::MemberDescriptor &member, ArchiveReader &reader, const std::string &source = "");
    bool restore(const format::MemberDescriptor &member, MemberData &data, const std::string &source = "");

    // Whether --strip-components leaves nothing of this name (it is not restored).
    bool stripsAway(const std::string &name) const;

    // Whether the target of a member's name exists (a name that cannot be
    // restored is reported and reads as absent).
    bool present(const std::string &name);

    // What becomes of a data set the chain no longer lists, decided before
    // anything is removed (a removal changes its parent's times).
    struct Removal {
        std::string target;
        bool parent = false;
        const char *keep = nullptr; // why it stays; nullptr: it goes
    };
    // Nothing when the data set is not there (or its name cannot be restored: reported).
    // newestStarted: when the newest backup started; with --overwrite newer
    // what changed after it stays.
    std::optional<Removal> planRemoval(const std::string &name, int64_t newestStarted);
    // Removes it (or, with --dry-run, tells); because names the archive
    // whose listing it is missing from. False when the job must stop.
    bool remove(const Removal &removal, const std::string &because);

private:
    std::optional<std::string> targetOf(const std::string &name);
    bool kept(bool parent, const std::string &target, const char *why);
    void abandon(const std::string &target);
    bool preview(const format::MemberDescriptor &member, std::string &target, const std::string &source);
    bool lookUp(std::string &target, long &modified, bool &parent);
    bool exists(std::string &target);
    // Whether the data set's change time, where its stream tells it, is
    // not before `since` (whole seconds, within the same second).
    bool changedSince(const std::string &target, int64_t since);
    bool stopsAfterFailure(const std::string &what, unsigned int code, const std::string *log = nullptr);

    const RestoreOptions &options_;
    int verbosity_;
    ModuleSession &session_;
    CKXSMS &kx_;
    Progress &progress_;
    // For reading a live data set's stream header (made when first needed).
    std::vector<unsigned char> headerBuffer_;
    std::unique_ptr<DataSetStream> headerStream_;
};

} // namespace kxsms

#endif
