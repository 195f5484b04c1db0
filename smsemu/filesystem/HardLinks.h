// Hard links, per connection of the file-system TSA. A backup saves the
// data of an inode with several names once, under the first name it meets;
// later names of the same inode (device and inode number) become hard-link
// streams that name the first. A restore remembers where each inode of the
// stream went (its name as restored and what it became there), so that a
// link restored later in the same job is made to the first name as
// restored, whatever name the host gave it (kxsms restore --to re-roots
// every name).
//
// Only inodes with more than one name are kept: memory grows with those,
// and every lookup is one hash probe.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace smsemu {

struct InodeId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const InodeId &) const = default;
};

class HardLinks {
public:
    struct Restored {
        std::string name; // the data-set name it was restored under
        InodeId as;       // the inode it became
    };

    // The name under which this connection saved the inode's data.
    std::optional<std::string> savedName(const InodeId &id) const;
    // The inode's data is in the stream under `name` (the first name wins).
    void saved(const InodeId &id, const std::string &name);

    // Where the inode (as the stream identifies it) was restored.
    std::optional<Restored> restored(const InodeId &id) const;
    void restoredAs(const InodeId &id, Restored where);

private:
    struct Hash {
        std::size_t operator()(const InodeId &id) const
        {
            return std::hash<std::uint64_t>()(id.inode * 0x9E3779B97F4A7C15ull ^ id.device);
        }
    };
    mutable std::mutex mutex_;
    std::unordered_map<InodeId, std::string, Hash> saved_;
    std::unordered_map<InodeId, Restored, Hash> restored_;
};

// The first name of a hard link when the link itself is restored under
// `newName` instead of `oldName`: the first name keeps its place relative to
// the link ("/a/x" linked to "/b/y", restored as "/r/a/x", links to
// "/r/b/y"). Empty when the first name would climb above the new name's
// root. Names are absolute file-system names.
std::string relocatedLinkTarget(std::string_view oldName, std::string_view newName, std::string_view target);

} // namespace smsemu
