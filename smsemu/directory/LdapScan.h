// Scans of the directory TSA over an LDAP server. They stand on the data
// sets in the order of the JSON store's scans (DirectoryScan.h): the start,
// then what it holds, each container before its children; the tree resource
// holds the top and "Schema", the top holds the base entry, "Schema" the
// class definitions of the server's schema.
//
// The server is read one container at a time, when the scan moves past it:
// a one-level search in pages, so that a size limit per request does not
// cut a container short, and with no more held than the entries of the
// containers on the way down. Entries come in the server's order.
//
// - Modified-time range (scan control): from modifyTimestamp, applied to
//   data sets that are not parents; the start is never left out.
// - Selection list: as the JSON store's scans take it.
// - What cannot be read of a container is a report position: after what
//   could be read below it, the scan stands on the container once more, and
//   opening that for backup answers the code (the cause goes to stderr): a
//   container whose entries are all hidden from the user (the server says
//   it has some, a search finds none: NWSMTS_NO_SEARCH_PRIVILEGES), a
//   search that failed (its code: a hard size limit, NWSMTS_SCAN_ERROR),
//   entries whose names would be longer than 1023 characters
//   (NWSMTS_OVERFLOW, their number as the size).
// - A connection lost ends the scan with the transport failure.
#pragma once

#include "directory/LdapTsa.h"

#include <unordered_set>

namespace smsemu {

// One data set a scan stands on.
struct LdapItem {
    EntryKind kind = EntryKind::Object;
    EntryPtr made; // the resources, the top, class definitions
    std::string dn;
    std::string name;
    std::string key;
    std::string uuid;
    std::string stamp;
    UINT32 modified = 0;
    UINT32 created = 0;
    bool parent = false;
    std::optional<bool> hasChildren; // objects: as the server says; unknown: look
    std::uint64_t streamSize = 0;
    // A report position: the code its open answers and the cause.
    CCODE report = 0;
    std::string reportText;
};

class LdapScan : public Scan {
public:
    LdapScan(LdapTsa &tsa, std::shared_ptr<LdapSession> session, UINT32 connection, const NWSM_SCAN_CONTROL &control,
             const NWSM_SELECTION_LIST *selection);

    // Stands on the start; NWSMTS_NO_DATA_SETS_FOUND, NWSMTS_DATA_SET_EXCLUDED, ...
    CCODE begin(const std::string &name, const LdapTarget &start);
    CCODE next() override;
    const LdapItem &item() const { return current_; }

private:
    struct Frame {
        std::vector<LdapItem> items;
        std::size_t next = 0;
    };
    // The items of what the current data set holds; a lost connection fails.
    CCODE expand(const LdapItem &container, std::vector<LdapItem> &children);
    CCODE children(const LdapItem &container, std::vector<LdapItem> &out);
    bool inModifiedRange(const LdapItem &item) const;
    bool excludedWithAll(const LdapItem &item) const { return withAll_.count(item.key) != 0; }
    bool excludedAlone(const LdapItem &item) const { return alone_.count(item.key) != 0; }
    bool startExcluded(const LdapItem &start) const;
    CCODE describe();

    LdapTsa &tsa_;
    std::shared_ptr<LdapSession> session_;
    UINT32 connection_;
    UINT32 nameSpace_;
    bool oneLevel_;
    UINT32 firstModified_;
    UINT32 lastModified_;
    std::unordered_set<std::string> alone_;
    std::unordered_set<std::string> withAll_;
    std::vector<Frame> frames_;
    LdapItem current_;
    bool atStart_ = true;
};

// The item of an entry read from the server; false when its DN has no name
// the interface can carry (too long).
bool itemOfEntry(const LdapTsa &tsa, LdapEntry &entry, LdapItem &item);

} // namespace smsemu
