#include "directory/LdapArchiveFlags.h"

#include "core/StateDatabase.h"

#include <cstdio>
#include <sqlite3.h>
#include <sys/stat.h>

namespace smsemu {
namespace {

// Tables of their own, so that the store may be the file-system TSA's too.
constexpr const char *kSchema = "CREATE TABLE IF NOT EXISTS directory_cleared("
                                "  server TEXT NOT NULL, uuid TEXT NOT NULL, stamp TEXT NOT NULL,"
                                "  PRIMARY KEY(server, uuid)) WITHOUT ROWID;";

} // namespace

LdapArchiveFlags::LdapArchiveFlags(std::filesystem::path file, std::string server)
    : file_(std::move(file)), server_(std::move(server))
{
}

LdapArchiveFlags::~LdapArchiveFlags()
{
    close();
}

void LdapArchiveFlags::close()
{
    sqlite3_finalize(find_);
    find_ = nullptr;
    sqlite3_close(db_);
    db_ = nullptr;
    writable_ = false;
}

bool LdapArchiveFlags::open(bool create, std::string &error)
{
    close();
    db_ = openStateDatabase(file_, create, writable_, error);
    if (db_ == nullptr)
        return false;
    if ((create && sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) ||
        sqlite3_prepare_v2(db_, "SELECT stamp FROM directory_cleared WHERE server = ?1 AND uuid = ?2", -1, &find_,
                           nullptr) != SQLITE_OK) {
        error = stateDatabaseFailure(file_, db_, create ? "cannot create the store" : "not an archive state store");
        close();
        return false;
    }
    return true;
}

void LdapArchiveFlags::report(const std::string &problem)
{
    if (problem == reported_)
        return;
    reported_ = problem;
    std::fprintf(stderr, "smsemu: %s; archive flags stay set\n", problem.c_str());
}

void LdapArchiveFlags::refresh()
{
    std::lock_guard lock(mutex_);
    if (db_ == nullptr) {
        struct stat st;
        std::string error;
        if (::stat(file_.c_str(), &st) == 0 && !open(false, error))
            report(error);
    }
}

bool LdapArchiveFlags::isSet(const std::string &uuid, const std::string &stamp)
{
    std::lock_guard lock(mutex_);
    if (uuid.empty() || db_ == nullptr)
        return true;
    sqlite3_bind_text(find_, 1, server_.data(), static_cast<int>(server_.size()), SQLITE_STATIC);
    sqlite3_bind_text(find_, 2, uuid.data(), static_cast<int>(uuid.size()), SQLITE_STATIC);
    bool set = true;
    if (sqlite3_step(find_) == SQLITE_ROW) {
        const auto *recorded = reinterpret_cast<const char *>(sqlite3_column_text(find_, 0));
        set = recorded == nullptr || stamp.empty() || stamp != recorded;
    }
    sqlite3_reset(find_);
    return set;
}

CCODE LdapArchiveFlags::record(UINT32 connection, const std::string &uuid, const std::string &stamp, bool set)
{
    if (uuid.empty() || (stamp.empty() && !set))
        return 0; // nothing to record it by: the flag stays set
    std::lock_guard lock(mutex_);
    if (set && db_ == nullptr)
        return 0; // no store, no record to drop
    if (db_ == nullptr || !writable_) {
        std::string error;
        if (!open(true, error) || !writable_) {
            report(error.empty() ? stateDatabaseFailure(file_, db_, "the store cannot be written") : error);
            return NWSMTS_SET_FILE_INFO_ERR;
        }
    }
    std::vector<Change> &batch = pending_[connection];
    batch.push_back(Change{uuid, stamp, set});
    if (batch.size() >= kDirectoryArchiveBatch) {
        std::string error;
        if (!write(batch, error))
            report(error);
        batch.clear();
    }
    return 0;
}

void LdapArchiveFlags::commit(UINT32 connection)
{
    std::lock_guard lock(mutex_);
    auto found = pending_.find(connection);
    if (found == pending_.end())
        return;
    std::vector<Change> batch = std::move(found->second);
    pending_.erase(found);
    std::string error;
    if (!write(batch, error))
        report(error);
}

bool LdapArchiveFlags::write(const std::vector<Change> &batch, std::string &error)
{
    if (batch.empty())
        return true;
    if (db_ == nullptr || !writable_) {
        error = stateDatabaseFailure(file_, db_, "the store cannot be written");
        return false;
    }
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        error = stateDatabaseFailure(file_, db_, "cannot begin a transaction");
        return false;
    }
    sqlite3_stmt *upsert = nullptr;
    sqlite3_stmt *erase = nullptr;
    bool ok =
        sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO directory_cleared(server, uuid, stamp) VALUES(?1, ?2, ?3)", -1,
                           &upsert, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db_, "DELETE FROM directory_cleared WHERE server = ?1 AND uuid = ?2", -1, &erase, nullptr) ==
            SQLITE_OK;
    for (std::size_t i = 0; ok && i < batch.size(); ++i) {
        const Change &change = batch[i];
        sqlite3_stmt *statement = change.set ? erase : upsert;
        sqlite3_bind_text(statement, 1, server_.data(), static_cast<int>(server_.size()), SQLITE_STATIC);
        sqlite3_bind_text(statement, 2, change.uuid.data(), static_cast<int>(change.uuid.size()), SQLITE_STATIC);
        if (!change.set)
            sqlite3_bind_text(statement, 3, change.stamp.data(), static_cast<int>(change.stamp.size()), SQLITE_STATIC);
        ok = sqlite3_step(statement) == SQLITE_DONE;
        sqlite3_reset(statement);
    }
    sqlite3_finalize(upsert);
    sqlite3_finalize(erase);
    if (ok && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    error = stateDatabaseFailure(file_, db_, "cannot record the cleared archive flags");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

} // namespace smsemu
