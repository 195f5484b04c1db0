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
// Clears wait in a batch per connection and are written when a scan begins
// on the connection, when it logs out (or is released), and every
// kArchiveBatch clears: never before the data set was read to its end.
// A store that cannot be made or written is reported on stderr with its
// path; its clears are dropped, so those flags stay set.
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
#include <vector>

namespace smsemu {

inline constexpr std::size_t kArchiveBatch = 32768;

class StoredArchiveFlags : public ArchiveFlags {
public:
    explicit StoredArchiveFlags(const TsaConfig &config);

    bool isSet(std::size_t resource, int directory, const char *leaf, const FsMeta &meta,
               std::string_view name) override;
    CCODE clear(UINT32 connection, std::size_t resource, int fd, const FsMeta &backedUp,
                std::string_view name) override;
    CCODE set(UINT32 connection, std::size_t resource, int fd, const FsMeta &backedUp, std::string_view name) override;
    void commit(UINT32 connection) override;
    std::unique_ptr<Sweep> sweep(std::size_t resource) override;

    ArchiveStateStore &store() { return store_; }

private:
    CCODE add(UINT32 connection, ArchiveRecord record);
    void write(std::vector<ArchiveRecord> batch);
    bool isSet(std::size_t resource, const FsMeta &meta, std::uint64_t name);
    void report(const std::string &problem);

    ArchiveStateStore store_;
    std::mutex mutex_;
    struct Batch {
        std::vector<ArchiveRecord> records;
        bool removals = false; // some record sets a flag again
    };
    std::map<UINT32, Batch> pending_; // by connection handle
    std::string reported_;            // the last problem written to stderr
};

} // namespace smsemu
