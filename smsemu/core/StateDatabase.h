// The state stores the TSAs keep beside their data (archive flags): where
// such a store lies when the configuration names none, and how its SQLite
// database is opened. The tables are each store's own.
#pragma once

#include <filesystem>
#include <string>

struct sqlite3;

namespace smsemu {

// Where a TSA's store is when the configuration names none: /var/lib/smsemu/
// for root, else $XDG_STATE_HOME/smsemu/ (or ~/.local/state/smsemu/), in a
// file named after the TSA.
std::filesystem::path defaultArchiveStatePath(const std::string &tsaName);

// Opens a store's database. With `create`, its folder is made for this user
// only (0700) and a new file gets mode 0600 and a write-ahead log; without,
// an existing file is opened for writing, or for reading when it cannot be
// written. A writer waits up to 10 seconds for another; writes are
// synchronous=NORMAL. Null, with the reason naming the file, when it cannot
// be opened; `writable` tells whether it may be written.
sqlite3 *openStateDatabase(const std::filesystem::path &file, bool create, bool &writable, std::string &error);

// "archive state \"<file>\": <what>: <SQLite's message>".
std::string stateDatabaseFailure(const std::filesystem::path &file, sqlite3 *db, const char *what);

} // namespace smsemu
