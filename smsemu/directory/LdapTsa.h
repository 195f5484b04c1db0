// The directory TSA over an LDAP server (ldap_uri in its configuration): the
// entries below ldap_base, reached through the OpenLDAP client library, with
// the names, resources, scans and streams of the directory TSA.
//
// - The top of the tree (".[Root]", or ".T=<tree>") stands for the root of
//   the server's names; the base entry is its one child, and every object is
//   named by its whole DN (".CN=Admin.OU=Staff.O=Acme.[Root]" for
//   "cn=Admin,ou=Staff,o=Acme", LdapNames.h). Names outside the base name
//   nothing.
// - Login (Tsa::login) is a bind of the connection's own: a user named by a
//   typed name or a DN binds with that DN and the password; a plain user name,
//   over ldapi:// and without `users`, must be the process's user, who binds
//   by SASL EXTERNAL. With `users`, the name and password must also be in it.
//   The server's access controls then decide what each login may read and
//   write.
// - Scans read the server one container at a time, in pages (LdapScan.h);
//   backups and restores of objects carry one LDIF record (Ldif.h); restores
//   add an entry or replace its user attributes (LdapDataSet.h); delete
//   removes a leaf. Archive flags are in the TSA's state store
//   (LdapArchiveFlags.h).
#pragma once

#include "directory/DirectoryTsaBase.h"
#include "directory/LdapArchiveFlags.h"
#include "directory/LdapCodes.h"
#include "directory/LdapSession.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace smsemu {

// What a name given to the TSA denotes.
// The key of the top of the tree (no DN key begins with a NUL).
inline const std::string kLdapTopKey{"\0top", 4};

struct LdapTarget {
    EntryKind kind = EntryKind::Object;
    std::string dn;        // objects
    std::string key;       // objects: dnKey; others: their entry's key
    std::string className; // class definitions
};

class LdapTsa : public DirectoryTsaBase {
public:
    explicit LdapTsa(const TsaConfig &config);

    CCODE login(Connection &connection, std::string_view user, std::string_view password) override;
    void loggingOut(Connection &connection) override;

    CCODE beginScan(Connection &connection, const ScanRequest &request, std::unique_ptr<Scan> &scan) override;
    CCODE openForBackup(Connection &connection, Scan &at, UINT32 openMode, std::unique_ptr<DataSet> &dataSet) override;
    CCODE openForRestore(Connection &connection, DataSet *parent, const NWSM_DATA_SET_NAME_LIST *newName,
                         UINT32 openMode, std::unique_ptr<DataSet> &dataSet) override;
    CCODE deleteDataSet(Connection &connection, Scan &at) override;

    // ---- For its scans and data sets.
    const std::string &baseDn() const { return baseDn_; }
    const std::string &baseKey() const { return baseKey_; }
    const EntryPtr &treeResource() const { return treeResource_; }
    const EntryPtr &schema() const { return schema_; }
    const EntryPtr &top() const { return top_; }
    LdapArchiveFlags &archiveFlags() { return flags_; }
    // What a name denotes; false when it names nothing this TSA serves.
    bool resolve(std::string_view name, LdapTarget &target) const;
    // The typed name of a DN, as the TSA gives it; false when it has none.
    bool nameOfDn(const std::string &dn, std::string &name) const;
    // The class definitions of the server's schema, in its order.
    bool classDefinitions(LdapSession &session, std::vector<EntryPtr> &definitions, LdapFailure &failure) const;
    // Creates or replaces what `name` names with a restored stream's data.
    CCODE commitRestore(LdapSession &session, const std::string &name, const std::string &data, UINT32 openMode);
    // "smsemu: <name>: <what>" on stderr; the code for the step.
    CCODE failed(const std::string &name, const LdapFailure &failure, LdapStep step) const;

private:
    std::shared_ptr<LdapSession> sessionOf(const Connection &connection) const;
    CCODE bind(LdapSession &session, std::string_view user, std::string_view password, LdapFailure &failure) const;

    std::string uri_;
    std::string baseDn_;
    std::string baseKey_;
    std::chrono::seconds timeout_;
    EntryPtr treeResource_;
    EntryPtr schema_;
    EntryPtr top_;
    LdapArchiveFlags flags_;
    mutable std::mutex mutex_; // the sessions
    std::map<UINT32, std::shared_ptr<LdapSession>> sessions_;
};

// Whether the server settings of a configuration entry can be used (the URI
// and base parse); false with the problem.
bool checkLdapSettings(const TsaConfig &config, std::string &problem);

} // namespace smsemu
