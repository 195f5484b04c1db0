#include "filesystem/ArchiveStateStore.h"

#include "core/StateDatabase.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>
#include <xxhash.h>

namespace smsemu {
namespace fs = std::filesystem;
namespace {

constexpr const char *kSchema = "CREATE TABLE IF NOT EXISTS resource("
                                "  id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE);"
                                // id: a hash of resource, device and inode, so a
                                // lookup is one search of the table's own tree;
                                // the columns it is made of are checked.
                                "CREATE TABLE IF NOT EXISTS cleared("
                                "  id INTEGER PRIMARY KEY,"
                                "  resource INTEGER NOT NULL, device INTEGER NOT NULL, inode INTEGER NOT NULL,"
                                "  ctime_sec INTEGER NOT NULL, ctime_nsec INTEGER NOT NULL,"
                                "  recorded INTEGER NOT NULL, name INTEGER NOT NULL DEFAULT 0);"
                                "PRAGMA user_version = 2;";
// A store of the first version keyed its records by file alone: they gain
// the name column, and being of no name they never match again (their
// flags read set once) and are swept like those of files that are gone.
constexpr const char *kUpgrade = "ALTER TABLE cleared ADD COLUMN name INTEGER NOT NULL DEFAULT 0;"
                                 "PRAGMA user_version = 2;";

// SQLite integers are signed: 64-bit device and inode numbers keep their bits.
std::int64_t asInteger(std::uint64_t value)
{
    std::int64_t out;
    std::memcpy(&out, &value, sizeof out);
    return out;
}

std::int64_t nowNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The row of a file. Two files whose keys hash alike share a row: the later
// clear replaces the earlier one's record, whose flag then reads set.
std::int64_t rowOf(std::int64_t resource, std::uint64_t device, std::uint64_t inode, std::uint64_t name)
{
    const std::uint64_t key[4] = {static_cast<std::uint64_t>(resource), device, inode, name};
    return asInteger(XXH3_64bits(key, sizeof key));
}

int userVersion(sqlite3 *db)
{
    sqlite3_stmt *statement = nullptr;
    int version = 0;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        version = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
    return version;
}

} // namespace

ArchiveStateStore::ArchiveStateStore(fs::path file, std::vector<std::string> resources)
    : file_(std::move(file)), resources_(std::move(resources)), ids_(resources_.size(), 0)
{
}

ArchiveStateStore::~ArchiveStateStore()
{
    close();
}

void ArchiveStateStore::endRead()
{
    if (readLookups_ == 0)
        return;
    readLookups_ = 0;
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
}

void ArchiveStateStore::refresh()
{
    std::lock_guard lock(mutex_);
    endRead();
    // Another process may have given a resource its first records.
    for (std::int64_t &id : ids_)
        if (id < 0)
            id = 0;
}

void ArchiveStateStore::close()
{
    endRead();
    sqlite3_finalize(find_);
    sqlite3_finalize(upsert_);
    sqlite3_finalize(erase_);
    find_ = upsert_ = erase_ = nullptr;
    sqlite3_close(db_);
    db_ = nullptr;
    writable_ = false;
    std::fill(ids_.begin(), ids_.end(), 0);
}

std::string ArchiveStateStore::failure(const char *what) const
{
    return stateDatabaseFailure(file_, db_, what);
}

uint64_t ArchiveStateStore::keyHash(std::uint64_t device, std::uint64_t inode, std::uint64_t name)
{
    const std::uint64_t key[3] = {device, inode, name};
    return XXH3_64bits(key, sizeof key);
}

uint64_t ArchiveStateStore::nameHash(std::string_view name)
{
    // 0 is the name of records from before names were kept.
    return XXH3_64bits(name.data(), name.size()) | 1;
}

bool ArchiveStateStore::open(bool create, std::string &error)
{
    close();
    bool writable = false;
    db_ = openStateDatabase(file_, create, writable, error);
    if (db_ == nullptr)
        return false;
    if (writable && userVersion(db_) == 1)
        sqlite3_exec(db_, kUpgrade, nullptr, nullptr, nullptr);
    if (create && sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
        error = failure("cannot create the store");
        close();
        return false;
    }
    int rc = sqlite3_prepare_v3(db_,
                                "SELECT ctime_sec, ctime_nsec FROM cleared WHERE id = ?1 AND resource = ?2 AND "
                                "device = ?3 AND inode = ?4 AND name = ?5",
                                -1, SQLITE_PREPARE_PERSISTENT, &find_, nullptr);
    if (rc != SQLITE_OK) {
        error = failure("not an archive state store");
        close();
        return false;
    }
    writable_ = writable;
    if (writable_) {
        sqlite3_prepare_v3(db_,
                           "INSERT OR REPLACE INTO cleared(id, resource, device, inode, name, ctime_sec, "
                           "ctime_nsec, recorded) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
                           -1, SQLITE_PREPARE_PERSISTENT, &upsert_, nullptr);
        sqlite3_prepare_v3(db_,
                           "DELETE FROM cleared WHERE id = ?1 AND resource = ?2 AND device = ?3 AND inode = ?4 AND "
                           "name = ?5",
                           -1, SQLITE_PREPARE_PERSISTENT, &erase_, nullptr);
    }
    return true;
}

bool ArchiveStateStore::openExisting()
{
    if (db_ != nullptr)
        return true;
    // A store made later by another process is found within a second.
    const std::time_t now = std::time(nullptr);
    if (now == lastProbe_)
        return false;
    lastProbe_ = now;
    struct stat st;
    if (stat(file_.c_str(), &st) != 0)
        return false;
    std::string error;
    if (open(false, error))
        return true;
    if (!reportedOpen_) {
        std::fprintf(stderr, "smsemu: %s; every archive flag reads set\n", error.c_str());
        reportedOpen_ = true;
    }
    return false;
}

bool ArchiveStateStore::resourceId(std::size_t resource, bool create, std::int64_t &id)
{
    if (resource >= ids_.size())
        return false;
    if (ids_[resource] > 0) {
        id = ids_[resource];
        return true;
    }
    if (ids_[resource] < 0 && !create)
        return false; // known to have no records (until the next refresh)
    const std::string &name = resources_[resource];
    if (create) {
        sqlite3_stmt *insert = nullptr;
        sqlite3_prepare_v2(db_, "INSERT OR IGNORE INTO resource(key) VALUES(?1)", -1, &insert, nullptr);
        sqlite3_bind_text(insert, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
        const int rc = sqlite3_step(insert);
        sqlite3_finalize(insert);
        if (rc != SQLITE_DONE)
            return false;
    }
    sqlite3_stmt *select = nullptr;
    sqlite3_prepare_v2(db_, "SELECT id FROM resource WHERE key = ?1", -1, &select, nullptr);
    sqlite3_bind_text(select, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    const bool found = sqlite3_step(select) == SQLITE_ROW;
    if (found)
        ids_[resource] = id = sqlite3_column_int64(select, 0);
    else
        ids_[resource] = -1;
    sqlite3_finalize(select);
    return found;
}

bool ArchiveStateStore::exists()
{
    std::lock_guard lock(mutex_);
    return openExisting();
}

std::optional<timespec> ArchiveStateStore::recorded(std::size_t resource, std::uint64_t device, std::uint64_t inode,
                                                    std::uint64_t name)
{
    std::lock_guard lock(mutex_);
    if (!openExisting())
        return std::nullopt;
    // One transaction per lookup would cost more than the lookup; a long
    // one would keep the log from being written back.
    if (readLookups_ >= 4096)
        endRead();
    if (readLookups_++ == 0)
        sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
    std::int64_t id = 0;
    if (!resourceId(resource, false, id))
        return std::nullopt;
    sqlite3_bind_int64(find_, 1, rowOf(id, device, inode, name));
    sqlite3_bind_int64(find_, 2, id);
    sqlite3_bind_int64(find_, 3, asInteger(device));
    sqlite3_bind_int64(find_, 4, asInteger(inode));
    sqlite3_bind_int64(find_, 5, asInteger(name));
    std::optional<timespec> found;
    if (sqlite3_step(find_) == SQLITE_ROW)
        found = timespec{static_cast<time_t>(sqlite3_column_int64(find_, 0)),
                         static_cast<long>(sqlite3_column_int64(find_, 1))};
    sqlite3_reset(find_);
    return found;
}

bool ArchiveStateStore::prepareWriting(std::string &error)
{
    std::lock_guard lock(mutex_);
    if (db_ != nullptr && writable_)
        return true;
    if (!open(true, error))
        return false;
    if (!writable_) {
        error = fmt::format("archive state \"{}\": the store cannot be written", file_.string());
        close();
        return false;
    }
    return true;
}

bool ArchiveStateStore::commit(const std::vector<ArchiveRecord> &batch, std::string &error)
{
    std::lock_guard lock(mutex_);
    if (batch.empty())
        return true;
    if (db_ == nullptr || !writable_) {
        error = fmt::format("archive state \"{}\": the store cannot be written", file_.string());
        return false;
    }
    endRead();
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        error = failure("cannot begin a transaction");
        return false;
    }
    const std::int64_t now = nowNanoseconds();
    bool ok = true;
    // In row order the writes walk the table's tree once instead of jumping
    // about in it; records of one row keep their order (a set after a clear
    // wins).
    std::vector<std::pair<std::int64_t, std::size_t>> order;
    order.reserve(batch.size());
    for (std::size_t i = 0; ok && i < batch.size(); ++i) {
        std::int64_t id = 0;
        ok = resourceId(batch[i].resource, true, id);
        order.emplace_back(rowOf(id, batch[i].device, batch[i].inode, batch[i].name), i);
    }
    std::stable_sort(order.begin(), order.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (std::size_t at = 0; ok && at < order.size(); ++at) {
        const ArchiveRecord &record = batch[order[at].second];
        const std::int64_t id = ids_[record.resource];
        sqlite3_stmt *statement = record.remove ? erase_ : upsert_;
        sqlite3_bind_int64(statement, 1, order[at].first);
        sqlite3_bind_int64(statement, 2, id);
        sqlite3_bind_int64(statement, 3, asInteger(record.device));
        sqlite3_bind_int64(statement, 4, asInteger(record.inode));
        sqlite3_bind_int64(statement, 5, asInteger(record.name));
        if (!record.remove) {
            sqlite3_bind_int64(statement, 6, record.ctime.tv_sec);
            sqlite3_bind_int64(statement, 7, record.ctime.tv_nsec);
            sqlite3_bind_int64(statement, 8, now);
        }
        const int rc = sqlite3_step(statement);
        sqlite3_reset(statement);
        if (rc != SQLITE_DONE) {
            ok = false;
            break;
        }
    }
    if (ok && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    error = failure("cannot record the cleared archive flags");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    // Ids made in the rolled-back transaction are gone again.
    std::fill(ids_.begin(), ids_.end(), 0);
    return false;
}

long long ArchiveStateStore::prune(std::size_t resource, std::int64_t before, const std::vector<std::uint64_t> &live,
                                   std::string &error)
{
    std::lock_guard lock(mutex_);
    if (db_ == nullptr || !writable_)
        return 0;
    std::int64_t id = 0;
    endRead();
    if (!resourceId(resource, false, id))
        return 0;
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        error = failure("cannot begin a transaction");
        return -1;
    }
    sqlite3_stmt *select = nullptr;
    sqlite3_prepare_v2(db_, "SELECT device, inode, name FROM cleared WHERE resource = ?1 AND recorded < ?2", -1,
                       &select, nullptr);
    sqlite3_bind_int64(select, 1, id);
    sqlite3_bind_int64(select, 2, before);
    // The doomed keys are collected first: the table is not changed under
    // a statement that reads it.
    std::vector<std::array<std::uint64_t, 3>> doomed; // device, inode, name
    int rc;
    while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
        const std::array<std::uint64_t, 3> key = {static_cast<std::uint64_t>(sqlite3_column_int64(select, 0)),
                                                  static_cast<std::uint64_t>(sqlite3_column_int64(select, 1)),
                                                  static_cast<std::uint64_t>(sqlite3_column_int64(select, 2))};
        if (!std::binary_search(live.begin(), live.end(), keyHash(key[0], key[1], key[2])))
            doomed.push_back(key);
    }
    sqlite3_finalize(select);
    bool ok = rc == SQLITE_DONE;
    for (std::size_t i = 0; ok && i < doomed.size(); ++i) {
        const auto [device, inode, name] = doomed[i];
        sqlite3_bind_int64(erase_, 1, rowOf(id, device, inode, name));
        sqlite3_bind_int64(erase_, 2, id);
        sqlite3_bind_int64(erase_, 3, asInteger(device));
        sqlite3_bind_int64(erase_, 4, asInteger(inode));
        sqlite3_bind_int64(erase_, 5, asInteger(name));
        ok = sqlite3_step(erase_) == SQLITE_DONE;
        sqlite3_reset(erase_);
    }
    const auto removed = static_cast<long long>(doomed.size());
    if (ok && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
        return removed;
    error = failure("cannot drop the records of files that are gone");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return -1;
}

} // namespace smsemu
