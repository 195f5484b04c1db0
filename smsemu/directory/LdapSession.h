// One login to an LDAP server, over the OpenLDAP client library: the bind,
// searches (in pages, so that a server's size limit per request does not cut
// them short), and the reads and writes of single entries. Every call is
// bounded by the configured timeout; a server that goes away, or does not
// answer in time, ends the session ("connection lost"), and every later call
// fails at once with the same cause.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ldap;

namespace smsemu {

// What went wrong: an LDAP result code or one of the library's own (negative:
// server down, timeout, ...), and the text to give with it.
struct LdapFailure {
    int code = 0;
    std::string text;
};

struct LdapAttribute {
    std::string name; // as the server names it, options included ("userCertificate;binary")
    std::vector<std::string> values;
};

// An entry as read: its user attributes in the server's order, and the
// operational attributes the TSA uses.
struct LdapEntry {
    std::string dn;
    std::vector<LdapAttribute> attributes;
    std::string uuid;            // entryUUID
    std::string changeStamp;     // entryCSN, else modifyTimestamp: what changes with every change
    std::string modifyTimestamp; // GeneralizedTime
    std::string createTimestamp;
    std::optional<bool> hasSubordinates;
};

enum class LdapScope { Base, OneLevel };

struct LdapModification {
    enum Kind { Replace, Delete } kind = Replace;
    std::string name;
    std::vector<std::string> values;
};

class LdapSession {
public:
    // Connects (nothing is sent yet); false with the failure.
    static std::unique_ptr<LdapSession> open(const std::string &uri, std::chrono::seconds timeout,
                                             LdapFailure &failure);
    ~LdapSession();
    LdapSession(const LdapSession &) = delete;
    LdapSession &operator=(const LdapSession &) = delete;

    // A simple bind with a DN and its password (never an empty one).
    bool bindSimple(const std::string &dn, std::string_view password, LdapFailure &failure);
    // SASL EXTERNAL: the identity the connection carries (over ldapi://, the
    // process's user).
    bool bindExternal(LdapFailure &failure);

    // Reads the entries of a search, page by page, handing each to `each`
    // (user attributes only when `withAttributes`). False with the failure;
    // the entries handed before it were read.
    bool search(const std::string &base, LdapScope scope, bool withAttributes,
                const std::function<void(LdapEntry &&)> &each, LdapFailure &failure);
    // One entry; false with the failure (no such object: LDAP_NO_SUCH_OBJECT).
    bool read(const std::string &dn, LdapEntry &entry, LdapFailure &failure);
    // The values of one attribute of one entry (the schema's, the root DSE's).
    bool readAttribute(const std::string &dn, const char *attribute, std::vector<std::string> &values,
                       LdapFailure &failure);

    bool add(const std::string &dn, const std::vector<LdapAttribute> &attributes, LdapFailure &failure);
    bool modify(const std::string &dn, const std::vector<LdapModification> &changes, LdapFailure &failure);
    bool remove(const std::string &dn, LdapFailure &failure);

    bool lost() const { return handle_ == nullptr; }

private:
    LdapSession(ldap *handle, std::chrono::seconds timeout) : handle_(handle), timeout_(timeout) {}
    // Fills `failure` from a result code; a lost connection ends the session.
    bool fail(int code, LdapFailure &failure, const char *diagnostic = nullptr);
    bool gone(LdapFailure &failure) const;
    // The answer to a write: true, or false with the failure and the
    // server's diagnostic text.
    bool written(int rc, LdapFailure &failure);

    ldap *handle_;
    std::chrono::seconds timeout_;
};

// Whether a result code means the server cannot be reached any more.
bool isConnectionLost(int code);

} // namespace smsemu
