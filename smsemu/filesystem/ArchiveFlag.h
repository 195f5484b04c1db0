// The archive flag of the file-system TSA's data sets, kept one of two ways
// (the TSA's configuration, archive_flag):
//
// - "store" (the default): beside the data, in the TSA's state store
//   (StoredArchiveFlags.h). Nothing is ever written to the files.
// - "xattr": in the extended attribute "user.kxsms.archive" of each file,
//   which travels with the file. Clearing the flag records the state of the
//   file as it was backed up: modification time (seconds and nanoseconds),
//   size and inode number. The flag is set when the attribute is missing,
//   unreadable or does not match the file's present state: a write (new
//   mtime or size) or a replacement (new inode) sets it. Metadata-only
//   changes (mode, owner) do not. Where the file system has no user extended
//   attributes (and for symbolic links, which cannot carry them) the flag is
//   always set and clearing it has no effect. Writing the attribute changes
//   the file's change time. Clears are held per connection and written at
//   its commit, as the store's are.
#pragma once

#include "filesystem/FsMeta.h"
#include "requester/Config.h"
#include "SMSAPI.h"

#include <cstddef>
#include <memory>
#include <string_view>

namespace smsemu {

inline constexpr const char *kArchiveAttribute = "user.kxsms.archive";

// The archive flags of one TSA, shared by its connections.
class ArchiveFlags {
public:
    virtual ~ArchiveFlags() = default;

    // Whether the flag of `leaf` under `directory` (of resource number
    // `resource`), which `meta` describes and the scan names `name`, is set.
    virtual bool isSet(std::size_t resource, int directory, const char *leaf, const FsMeta &meta,
                       std::string_view name) = 0;
    // Clears the flag of a data set open for backup (`fd`; -1 for a symbolic
    // link) that was read to its end, recording `backedUp`, the state it was
    // opened in. The clear may take effect later (commit), never earlier.
    virtual CCODE clear(UINT32 connection, std::size_t resource, int fd, const FsMeta &backedUp,
                        std::string_view name) = 0;
    // Sets the flag of a data set open for backup again.
    virtual CCODE set(UINT32 connection, std::size_t resource, int fd, const FsMeta &backedUp,
                      std::string_view name) = 0;
    // The clears of a connection so far take effect: a scan of a directory
    // begins on it, a look at a data set it cleared begins, or it logs out.
    virtual void commit(UINT32 /*connection*/) {}
    // Whether the connection holds a clear of this data set not yet taken
    // into effect.
    virtual bool holds(UINT32 /*connection*/, std::size_t /*resource*/, const FsMeta & /*meta*/,
                       std::string_view /*name*/)
    {
        return false;
    }

    // A whole-subtree scan of a resource from its directory: it reports
    // every data set it meets (met), and, when it ran to its end without
    // leaving anything out, ends with `complete` true.
    class Sweep {
    public:
        virtual ~Sweep() = default;
        virtual void met(const FsMeta &meta, std::string_view name) = 0;
        virtual void end(bool complete) = 0;
    };
    // Null when the flags keep nothing to sweep.
    virtual std::unique_ptr<Sweep> sweep(std::size_t /*resource*/) { return nullptr; }
};

// The flags of a file-system TSA as its configuration says.
std::unique_ptr<ArchiveFlags> makeArchiveFlags(const TsaConfig &config);

// What a scan and the data sets opened from it need of the flags.
struct ArchiveContext {
    ArchiveFlags *flags = nullptr;
    UINT32 connection = 0;
    std::size_t resource = 0;
};

} // namespace smsemu
