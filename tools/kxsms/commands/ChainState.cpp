// kxsms's own state: the clearing runs of each scope, in SQLite.
#include "commands/ChainState.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "archive/Format.h"

namespace kxsms {

namespace {

constexpr const char *c_Schema = "CREATE TABLE IF NOT EXISTS clearing("
                                 "  scope TEXT NOT NULL, archive_id INTEGER NOT NULL, started_ns INTEGER NOT NULL,"
                                 "  archive TEXT NOT NULL, incremental INTEGER NOT NULL,"
                                 "  PRIMARY KEY (scope, archive_id));"
                                 "PRAGMA user_version = 1;";
// Runs kept per scope: the last one is what counts; a few before it tell
// the story to whoever looks (sqlite3 chains.sqlite).
constexpr int c_KeptRuns = 20;
constexpr int c_BusyMilliseconds = 10000;

struct Closer {
    void operator()(sqlite3 *db) const { sqlite3_close(db); }
};
using Database = std::unique_ptr<sqlite3, Closer>;
struct Finalizer {
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalizer>;

int64_t asInteger(uint64_t value)
{
    int64_t out;
    memcpy(&out, &value, sizeof out);
    return out;
}

uint64_t fromInteger(int64_t value)
{
    uint64_t out;
    memcpy(&out, &value, sizeof out);
    return out;
}

std::string homeFolder()
{
    if (const char *home = getenv("HOME"); home != nullptr && home[0] == '/')
        return home;
    if (const passwd *entry = getpwuid(geteuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return "";
}

// Makes the folder and those above it (mode 0700: what kxsms knows of a
// user's backups is the user's).
bool makeFolders(const std::string &file, std::string &error)
{
    for (size_t slash = file.find('/', 1); slash != std::string::npos; slash = file.find('/', slash + 1)) {
        const std::string folder = file.substr(0, slash);
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot make " + folder + ": " + strerror(errno);
            return false;
        }
    }
    return true;
}

Database open(const std::string &file, bool write, std::string &error)
{
    sqlite3 *raw = nullptr;
    const int flags = write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(file.c_str(), &raw, flags, nullptr) != SQLITE_OK) {
        error = file + ": " + (raw != nullptr ? sqlite3_errmsg(raw) : "cannot be opened");
        sqlite3_close(raw);
        return nullptr;
    }
    Database db(raw);
    sqlite3_busy_timeout(raw, c_BusyMilliseconds);
    char *message = nullptr;
    if (write && sqlite3_exec(raw, c_Schema, nullptr, nullptr, &message) != SQLITE_OK) {
        error = file + ": " + (message != nullptr ? message : "cannot be written");
        sqlite3_free(message);
        return nullptr;
    }
    return db;
}

Statement prepare(sqlite3 *db, const char *sql, const std::string &file, std::string &error)
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
        error = file + ": " + sqlite3_errmsg(db);
        return nullptr;
    }
    return Statement(raw);
}

} // namespace

std::string ChainState::defaultFile()
{
    // An XDG_STATE_HOME given is taken for root too: the one way to keep
    // the state of a job apart (a test, a second setup) without a new option.
    std::string folder;
    if (const char *state = getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/')
        folder = std::string(state) + "/kxsms";
    else if (geteuid() == 0)
        folder = "/var/lib/kxsms";
    else if (const std::string home = homeFolder(); !home.empty())
        folder = home + "/.local/state/kxsms";
    else
        folder = "/tmp/kxsms-" + std::to_string(geteuid());
    return folder + "/chains.sqlite";
}

std::string ChainState::scopeOf(KXSMS_TSA_TYPE type, const std::vector<std::string> &paths)
{
    std::vector<std::string> sorted = paths;
    std::sort(sorted.begin(), sorted.end());
    std::string scope = format::tsaName(static_cast<uint16_t>(type));
    for (const std::string &path : sorted) {
        scope += '\0';
        scope += path;
    }
    return scope;
}

std::optional<ClearingRun> ChainState::lastClearing(const std::string &scope, std::string &error) const
{
    error.clear();
    if (access(file_.c_str(), F_OK) != 0)
        return std::nullopt; // nothing recorded yet
    Database db = open(file_, false, error);
    if (!db)
        return std::nullopt;
    Statement query = prepare(db.get(),
                              "SELECT archive_id, started_ns, archive, incremental FROM clearing WHERE scope = ?1 "
                              "ORDER BY started_ns DESC LIMIT 1",
                              file_, error);
    if (!query)
        return std::nullopt;
    sqlite3_bind_blob(query.get(), 1, scope.data(), static_cast<int>(scope.size()), SQLITE_TRANSIENT);
    const int step = sqlite3_step(query.get());
    if (step == SQLITE_DONE)
        return std::nullopt;
    if (step != SQLITE_ROW) {
        error = file_ + ": " + sqlite3_errmsg(db.get());
        return std::nullopt;
    }
    ClearingRun run;
    run.archiveId = fromInteger(sqlite3_column_int64(query.get(), 0));
    run.startedNanoseconds = sqlite3_column_int64(query.get(), 1);
    const unsigned char *archive = sqlite3_column_text(query.get(), 2);
    run.archive = archive != nullptr ? reinterpret_cast<const char *>(archive) : "";
    run.incremental = sqlite3_column_int(query.get(), 3) != 0;
    return run;
}

bool ChainState::recordClearing(const std::string &scope, const ClearingRun &run, std::string &error) const
{
    error.clear();
    if (!makeFolders(file_, error))
        return false;
    Database db = open(file_, true, error);
    if (!db)
        return false;
    Statement insert = prepare(db.get(),
                               "INSERT OR REPLACE INTO clearing (scope, archive_id, started_ns, archive, incremental) "
                               "VALUES (?1, ?2, ?3, ?4, ?5)",
                               file_, error);
    Statement trim = prepare(db.get(),
                             "DELETE FROM clearing WHERE scope = ?1 AND archive_id NOT IN (SELECT archive_id FROM "
                             "clearing WHERE scope = ?1 ORDER BY started_ns DESC LIMIT ?2)",
                             file_, error);
    if (!insert || !trim)
        return false;
    sqlite3_bind_blob(insert.get(), 1, scope.data(), static_cast<int>(scope.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert.get(), 2, asInteger(run.archiveId));
    sqlite3_bind_int64(insert.get(), 3, run.startedNanoseconds);
    sqlite3_bind_text(insert.get(), 4, run.archive.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert.get(), 5, run.incremental ? 1 : 0);
    sqlite3_bind_blob(trim.get(), 1, scope.data(), static_cast<int>(scope.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(trim.get(), 2, c_KeptRuns);
    if (sqlite3_step(insert.get()) != SQLITE_DONE || sqlite3_step(trim.get()) != SQLITE_DONE) {
        error = file_ + ": " + sqlite3_errmsg(db.get());
        return false;
    }
    return true;
}

} // namespace kxsms
