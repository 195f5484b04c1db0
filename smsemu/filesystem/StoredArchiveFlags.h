// The archive flags of a file-system TSA kept in its state store
// (ArchiveStateStore.h). A data set's flag is set when the store has no
// record of it (its resource, device, inode and name) or when its change
// time, to the nanosecond, differs from the one recorded: new data, a
// rename (of the data set or of a directory above it: the name is part of
// the record), a chmod or chown, an attribute or ACL change and a file made
// anew on a reused inode all set it. Each name of a hard-linked file has a
// record of its own. Clearing records the change time the data set
// had when it was opened for backup, so a change made while it was read
// keeps the flag set. Symbolic links and directories have flags too.
//
// Clears wait in a batch per connection and are written, in one
// transaction, only when a scan of a directory begins on the connection, a
// look at a data set whose clear it holds begins, or it logs out (or is
// released): the host makes what it saved durable before each, so a job
// killed on the way leaves every flag set. Opening a file by name (a scan
// that begins at that file) writes nothing: a host that reads ahead of its
// archive with several connections opens its files that way. Never before
// the data set was read to its end, never in the middle of a scan. The batch costs about 56
// bytes per cleared data set, and 8 for its key in a set, until then.
// A connection's clears stand or fall together: a store that cannot be made
// or written drops them all, so every flag of the job stays set and the
// last one the host asks about says so. The problem is reported on stderr
// with the store's path, and told to the host ("archive flags could not be
// cleared: ...") for its own report.
//
// Records of files that are gone are dropped after a whole-subtree scan of
// a resource from its directory that ran to its end without leaving anything
// out: the store keeps a record only for what is in the tree.
#pragma once

#include "filesystem/ArchiveFlag.h"
#include "filesystem/ArchiveStateStore.h"

#include <map>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace smsemu {

class StoredArchiveFlags : public ArchiveFlags {
public:
    explicit StoredArchiveFlags(const TsaConfig &config);

    bool isSet(std::size_t resource, int directory, const char *leaf, const FsMeta &meta,
               std::string_view name) override;
    CCODE clear(UINT32 connection, std::size_t resource, int fd, const FsMeta &backedUp,
                std::string_view name) override;
    CCODE set(UINT32 connection, std::size_t resource, int fd, const FsMeta &backedUp, std::string_view name) override;
    void commit(UINT32 connection) override;
    bool holds(UINT32 connection, std::size_t resource, const FsMeta &meta, std::string_view name) override;
    std::unique_ptr<Sweep> sweep(std::size_t resource) override;

    ArchiveStateStore &store() { return store_; }

private:
    CCODE add(UINT32 connection, ArchiveRecord record);
    void write(std::vector<ArchiveRecord> batch, std::string problem);
    bool isSet(std::size_t resource, const FsMeta &meta, std::uint64_t name);
    void report(const std::string &problem);

    ArchiveStateStore store_;
    std::mutex mutex_;
    struct Batch {
        std::vector<ArchiveRecord> records;
        std::unordered_set<std::uint64_t> keys; // of the records, for holds()
        bool removals = false; // some record sets a flag again
        std::string problem;   // why a clear was refused: the batch is dropped
    };
    std::map<UINT32, Batch> pending_; // by connection handle
    std::string reported_;            // the last problem written to stderr
};

} // namespace smsemu
