// The archive flags of the directory TSA over an LDAP server, kept in its
// state store (an SQLite database beside the data, never in it): per server
// and base, the entries by entryUUID with the change stamp (entryCSN, else
// modifyTimestamp) they had when their archive status was last cleared. A
// flag is set when there is no record or the stamp differs: every change of
// the entry, by whatever client, sets it; a restored entry is a new entry
// (a new entryUUID), so its flag is set too. An entry without an entryUUID
// the user may read always has its flag set.
//
// Clears wait in a batch per connection and are written in one transaction
// when a scan begins on the connection, when it logs out, and every
// kDirectoryArchiveBatch clears. The store's file is made (folder 0700, file
// 0600) at the first write; a store that cannot be written is reported on
// stderr and its flags stay set.
#pragma once

#include "SMSAPI.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace smsemu {

inline constexpr std::size_t kDirectoryArchiveBatch = 4096;

class LdapArchiveFlags {
public:
    // `server`: what tells the records of this server and base from others in the same store.
    LdapArchiveFlags(std::filesystem::path file, std::string server);
    ~LdapArchiveFlags();
    LdapArchiveFlags(const LdapArchiveFlags &) = delete;
    LdapArchiveFlags &operator=(const LdapArchiveFlags &) = delete;

    bool isSet(const std::string &uuid, const std::string &stamp);
    // Records a clear (or, with `set`, that the flag is set again) for the
    // connection's next batch. NWSMTS_SET_FILE_INFO_ERR when the store
    // cannot be made.
    CCODE record(UINT32 connection, const std::string &uuid, const std::string &stamp, bool set);
    // Writes the connection's batch.
    void commit(UINT32 connection);
    // A scan begins: what other processes wrote since is seen from now on.
    void refresh();

private:
    struct Change {
        std::string uuid;
        std::string stamp;
        bool set = false;
    };
    bool open(bool create, std::string &error);
    void close();
    void report(const std::string &problem);
    bool write(const std::vector<Change> &batch, std::string &error);

    std::mutex mutex_;
    std::filesystem::path file_;
    std::string server_;
    sqlite3 *db_ = nullptr;
    bool writable_ = false;
    sqlite3_stmt *find_ = nullptr;
    std::map<UINT32, std::vector<Change>> pending_;
    std::string reported_;
};

} // namespace smsemu
