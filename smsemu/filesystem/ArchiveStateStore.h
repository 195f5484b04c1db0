// The state store of a file-system TSA: an SQLite database beside the data
// (never in it) that records, per resource, file (device, inode) and name
// (a hash of the data set's name), the change time the file had when its
// archive status was last cleared.
//
// The file is made only when the first clear is recorded; until then (and
// when it cannot be opened) every lookup finds nothing, so every flag reads
// set. Changes come in batches, each one transaction (write-ahead log,
// synchronous=NORMAL): a crash or power loss loses at most the last batches,
// which leaves flags set, never clear. Several processes may share a store;
// the database's locks order them.
#pragma once

#include "core/StateDatabase.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace smsemu {

struct ArchiveRecord {
    std::size_t resource = 0; // index of the TSA's resource
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t name = 0; // nameHash of the data set's name
    timespec ctime{};
    bool remove = false; // the flag is set again: the record goes
};

class ArchiveStateStore {
public:
    // `resources`: the key of each resource of the TSA (any text).
    ArchiveStateStore(std::filesystem::path file, std::vector<std::string> resources);
    ~ArchiveStateStore();
    ArchiveStateStore(const ArchiveStateStore &) = delete;
    ArchiveStateStore &operator=(const ArchiveStateStore &) = delete;

    const std::filesystem::path &file() const { return file_; }

    // Whether the store's file exists and opens (looked for again at most
    // once a second while it does not).
    bool exists();

    // The change time recorded for a file under a name, if any.
    std::optional<timespec> recorded(std::size_t resource, std::uint64_t device, std::uint64_t inode,
                                     std::uint64_t name);

    // Lookups run in one read transaction, renewed every few thousand
    // lookups and here: what was committed since (by any process) is seen
    // from now on.
    void refresh();

    // Makes the store writable (creating its folder and file); false with
    // the reason, which names the file.
    bool prepareWriting(std::string &error);

    // Writes a batch in one transaction; false with the reason (nothing of
    // the batch is kept then).
    bool commit(const std::vector<ArchiveRecord> &batch, std::string &error);

    // Deletes the records of a resource that were recorded before `before`
    // (nanoseconds since the epoch) and whose key is not in `live` (sorted
    // key hashes, see keyHash). Returns the number deleted, or -1.
    long long prune(std::size_t resource, std::int64_t before, const std::vector<std::uint64_t> &live,
                    std::string &error);

    static std::uint64_t keyHash(std::uint64_t device, std::uint64_t inode, std::uint64_t name);
    static std::uint64_t nameHash(std::string_view name);

private:
    bool openExisting();
    bool open(bool create, std::string &error);
    void close();
    void endRead();
    bool resourceId(std::size_t resource, bool create, std::int64_t &id);
    std::string failure(const char *what) const;

    std::mutex mutex_;
    std::filesystem::path file_;
    std::vector<std::string> resources_;
    std::vector<std::int64_t> ids_; // database ids of the resources; 0 not known yet, -1 none
    sqlite3 *db_ = nullptr;
    bool writable_ = false;
    bool reportedOpen_ = false;
    std::time_t lastProbe_ = 0; // when a missing file was last looked for
    unsigned readLookups_ = 0;  // lookups in the open read transaction (0: none open)
    sqlite3_stmt *find_ = nullptr;
    sqlite3_stmt *upsert_ = nullptr;
    sqlite3_stmt *erase_ = nullptr;
};

} // namespace smsemu
