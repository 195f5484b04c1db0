#include "core/StateDatabase.h"

#include <cstdlib>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

namespace smsemu {
namespace fs = std::filesystem;
namespace {

// A TSA name as one file name: '/', '%', control characters and a leading
// '.' written as %XX.
std::string fileNameOf(const std::string &name)
{
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c == '/' || c == '%' || c < 0x20 || c == 0x7F || (i == 0 && c == '.'))
            out += fmt::format("%{:02X}", c);
        else
            out += static_cast<char>(c);
    }
    return out.empty() ? "%00" : out;
}

fs::path homeDirectory()
{
    if (const char *home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return home;
    if (const passwd *entry = getpwuid(geteuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return "/";
}

} // namespace

fs::path defaultArchiveStatePath(const std::string &tsaName)
{
    fs::path folder;
    if (geteuid() == 0) {
        folder = "/var/lib/smsemu";
    } else if (const char *state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        folder = fs::path(state) / "smsemu";
    } else {
        folder = homeDirectory() / ".local/state/smsemu";
    }
    return folder / (fileNameOf(tsaName) + ".archive-state.sqlite");
}

std::string stateDatabaseFailure(const fs::path &file, sqlite3 *db, const char *what)
{
    return fmt::format("archive state \"{}\": {}: {}", file.string(), what,
                       db != nullptr ? sqlite3_errmsg(db) : "cannot open");
}

sqlite3 *openStateDatabase(const fs::path &file, bool create, bool &writable, std::string &error)
{
    writable = false;
    if (create) {
        // The folder is the user's own: records say which data sets exist.
        std::error_code ec;
        const fs::path folder = file.parent_path();
        if (!folder.empty() && !fs::is_directory(folder, ec)) {
            const mode_t old = umask(077);
            fs::create_directories(folder, ec);
            umask(old);
            if (ec) {
                error = fmt::format("archive state \"{}\": cannot create the folder \"{}\": {}", file.string(),
                                    folder.string(), ec.message());
                return nullptr;
            }
        }
    }
    sqlite3 *db = nullptr;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    struct stat st;
    const bool existed = stat(file.c_str(), &st) == 0;
    int rc = sqlite3_open_v2(file.c_str(), &db, flags, nullptr);
    // Only its user reads the store (its log and index files take its mode).
    if (rc == SQLITE_OK && create && !existed)
        chmod(file.c_str(), 0600);
    if (rc != SQLITE_OK && !create) {
        // Someone else's store may still be read.
        sqlite3_close(db);
        db = nullptr;
        rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        flags = SQLITE_OPEN_READONLY;
    }
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, 10000);
        if (create)
            rc = sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
        error = stateDatabaseFailure(file, db, create ? "cannot create the store" : "cannot open the store");
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_exec(db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    // Lookups read the file through a mapping, without a copy per page.
    sqlite3_exec(db, "PRAGMA mmap_size = 268435456", nullptr, nullptr, nullptr);
    writable = (flags & SQLITE_OPEN_READWRITE) != 0 && sqlite3_db_readonly(db, "main") == 0;
    return db;
}

} // namespace smsemu
