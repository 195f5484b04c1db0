#include "directory/LdapTsa.h"

#include "core/NameList.h"
#include "core/NameMatch.h"
#include "directory/DirectorySchema.h"
#include "directory/DirectoryStream.h"
#include "directory/LdapDataSet.h"
#include "directory/LdapNames.h"
#include "directory/LdapScan.h"
#include "directory/Ldif.h"
#include "requester/Connection.h"

#include <ldap.h>
#include <ldap_schema.h>

#include <cstdio>
#include <strings.h>

#include <fmt/format.h>

namespace smsemu {
namespace {

EntryPtr makeTop(const std::string &name)
{
    auto entry = std::make_shared<DirectoryEntry>();
    entry->kind = EntryKind::Top;
    entry->key = kLdapTopKey;
    entry->dn = entry->name = name;
    entry->objectClass = kTopClass;
    measureEntry(*entry);
    return entry;
}

// The key the records of a server and base have in the state store.
std::string serverKey(const std::string &uri, const std::string &baseKey)
{
    return uri + " " + baseKey;
}

bool isLdapi(const std::string &uri)
{
    return uri.size() >= 8 && strncasecmp(uri.c_str(), "ldapi://", 8) == 0;
}

std::string baseKeyOf(const std::string &dn)
{
    std::string key;
    return dnKey(dn, key) ? key : std::string();
}

bool sameValues(const LdapAttribute &a, const LdapAttribute &b)
{
    return strcasecmp(a.name.c_str(), b.name.c_str()) == 0 && a.values == b.values;
}

// The changes that make an entry's user attributes those of a stream.
std::vector<LdapModification> changesTo(const std::vector<LdapAttribute> &now, const std::vector<LdapAttribute> &wanted)
{
    std::vector<LdapModification> changes;
    for (const LdapAttribute &attribute : wanted) {
        bool same = false;
        for (const LdapAttribute &present : now)
            same = same || sameValues(present, attribute);
        if (!same)
            changes.push_back(LdapModification{LdapModification::Replace, attribute.name, attribute.values});
    }
    for (const LdapAttribute &present : now) {
        bool kept = false;
        for (const LdapAttribute &attribute : wanted)
            kept = kept || strcasecmp(present.name.c_str(), attribute.name.c_str()) == 0;
        if (!kept)
            changes.push_back(LdapModification{LdapModification::Delete, present.name, {}});
    }
    return changes;
}

} // namespace

bool checkLdapSettings(const TsaConfig &config, std::string &problem)
{
    LDAPURLDesc *url = nullptr;
    if (ldap_url_parse(config.ldapUri.c_str(), &url) != LDAP_URL_SUCCESS) {
        problem = fmt::format("ldap_uri \"{}\" is not an LDAP URI (ldap://, ldaps:// or ldapi://)", config.ldapUri);
        return false;
    }
    ldap_free_urldesc(url);
    std::string key;
    if (config.ldapBase.empty() || !dnKey(config.ldapBase, key) || key.empty()) {
        problem = fmt::format("ldap_base \"{}\" is not a distinguished name", config.ldapBase);
        return false;
    }
    return true;
}

LdapTsa::LdapTsa(const TsaConfig &config)
    : DirectoryTsaBase(config), uri_(config.ldapUri), baseDn_(config.ldapBase), baseKey_(baseKeyOf(config.ldapBase)),
      timeout_(config.ldapTimeout), treeResource_(makeResource(EntryKind::TreeResource, kTreeResourceKey, treeName())),
      schema_(makeResource(EntryKind::Schema, kSchemaKey, kSchemaName)), top_(makeTop(topOfTree())),
      flags_(config.archiveState.empty() ? defaultArchiveStateFile(config.name) : config.archiveState,
             serverKey(config.ldapUri, baseKey_))
{
}

CCODE LdapTsa::failed(const std::string &name, const LdapFailure &failure, LdapStep step) const
{
    std::fprintf(stderr, "smsemu: %s: %s\n", name.c_str(), failure.text.c_str());
    return smsCodeOf(failure.code, step);
}

std::shared_ptr<LdapSession> LdapTsa::sessionOf(const Connection &connection) const
{
    std::lock_guard lock(mutex_);
    auto found = sessions_.find(connection.handle);
    return found != sessions_.end() ? found->second : nullptr;
}

CCODE LdapTsa::bind(LdapSession &session, std::string_view user, std::string_view password, LdapFailure &failure) const
{
    if (user.find('=') != std::string_view::npos) {
        std::string dn;
        if (!dnOfLoginName(user, treeName(), dn))
            return NWSMTS_LOGIN_DENIED;
        return session.bindSimple(dn, password, failure) ? 0 : smsCodeOf(failure.code, LdapStep::Login);
    }
    // The process's own user, as the server sees it over its socket.
    if (!isLdapi(uri_) || !config().peerAuthentication || user.empty() || user != processUserName())
        return NWSMTS_LOGIN_DENIED;
    return session.bindExternal(failure) ? 0 : smsCodeOf(failure.code, LdapStep::Login);
}

CCODE LdapTsa::login(Connection &connection, std::string_view user, std::string_view password)
{
    if (!config().peerAuthentication)
        if (CCODE rc = Tsa::login(connection, user, password))
            return rc;
    LdapFailure failure;
    std::shared_ptr<LdapSession> session = LdapSession::open(uri_, timeout_, failure);
    if (session == nullptr)
        return failed(uri_, failure, LdapStep::Login);
    CCODE rc = bind(*session, user, password, failure);
    // A refused password is the login's answer; other causes are told.
    if (rc != 0 && failure.code != 0 && failure.code != LDAP_INVALID_CREDENTIALS)
        failed(uri_, failure, LdapStep::Login);
    if (rc != 0)
        return rc;
    std::lock_guard lock(mutex_);
    sessions_[connection.handle] = std::move(session);
    return 0;
}

void LdapTsa::loggingOut(Connection &connection)
{
    flags_.commit(connection.handle);
    std::lock_guard lock(mutex_);
    sessions_.erase(connection.handle);
}

bool LdapTsa::resolve(std::string_view name, LdapTarget &target) const
{
    target = LdapTarget{};
    DirectoryName parsed;
    if (name.find('\0') != std::string_view::npos || !parseDirectoryName(name, treeName(), parsed))
        return false;
    target.kind = parsed.kind;
    switch (parsed.kind) {
    case EntryKind::TreeResource:
    case EntryKind::Schema:
        target.key = parsed.key;
        return true;
    case EntryKind::ClassDefinition:
        target.className = parsed.className;
        target.key = parsed.key;
        return true;
    case EntryKind::Top:
        target.key = kLdapTopKey;
        return true;
    case EntryKind::Object:
        return dnOfComponents(parsed.components, target.dn) && dnKey(target.dn, target.key) &&
               isWithinBase(target.key, baseKey_);
    }
    return false;
}

bool LdapTsa::nameOfDn(const std::string &dn, std::string &name) const
{
    std::vector<std::string> components;
    if (!componentsOfDn(dn, components))
        return false;
    name.clear();
    for (const std::string &component : components)
        name += "." + component;
    name += topOfTree();
    return true;
}

bool LdapTsa::classDefinitions(LdapSession &session, std::vector<EntryPtr> &definitions, LdapFailure &failure) const
{
    definitions.clear();
    std::vector<std::string> subschema;
    std::vector<std::string> classes;
    if (!session.readAttribute("", "subschemaSubentry", subschema, failure))
        return false;
    if (subschema.empty())
        return true; // a schema the user may not read: no class definitions
    if (!session.readAttribute(subschema.front(), "objectClasses", classes, failure))
        return false;
    for (const std::string &text : classes) {
        int code = 0;
        const char *where = nullptr;
        LDAPObjectClass *parsed = ldap_str2objectclass(text.c_str(), &code, &where, LDAP_SCHEMA_ALLOW_ALL);
        if (parsed == nullptr)
            continue;
        std::string name =
            parsed->oc_names != nullptr && parsed->oc_names[0] != nullptr ? parsed->oc_names[0] : parsed->oc_oid;
        ldap_objectclass_free(parsed);
        if (!name.empty() && name.size() <= kMaxClassName)
            definitions.push_back(makeDefinition(name, text));
    }
    return true;
}

CCODE LdapTsa::beginScan(Connection &connection, const ScanRequest &request, std::unique_ptr<Scan> &scan)
{
    std::shared_ptr<LdapSession> session = sessionOf(connection);
    const NWSM_NAME_ENTRY *entry = firstEntry(request.resourceName);
    if (entry == nullptr || session == nullptr)
        return NWSMTS_INVALID_PARAMETER;
    // The connection's clears are written first, so that the scan sees them.
    flags_.commit(connection.handle);
    flags_.refresh();
    const std::string name(entry->name, entry->nameLength);
    LdapTarget target;
    if (!resolve(name, target))
        return NWSMTS_NO_DATA_SETS_FOUND;
    auto made = std::make_unique<LdapScan>(*this, session, connection.handle, request.control, request.selectionList);
    if (CCODE rc = made->begin(name, target))
        return rc;
    scan = std::move(made);
    return 0;
}

CCODE LdapTsa::openForBackup(Connection &connection, Scan &at, UINT32, std::unique_ptr<DataSet> &dataSet)
{
    auto *scan = dynamic_cast<LdapScan *>(&at);
    std::shared_ptr<LdapSession> session = sessionOf(connection);
    if (scan == nullptr || session == nullptr)
        return NWSMTS_INVALID_SEQUENCE_NUMBER;
    const LdapItem &item = scan->item();
    if (item.report != 0) {
        std::fprintf(stderr, "smsemu: %s: %s\n", item.name.c_str(), item.reportText.c_str());
        return item.report;
    }
    if (item.made != nullptr) {
        dataSet = std::make_unique<LdapBackup>(*this, connection.handle, entryStream(*item.made), "", "");
        return 0;
    }
    LdapEntry entry;
    LdapFailure failure;
    if (!session->read(item.dn, entry, failure))
        return failed(item.name, failure, LdapStep::Backup);
    std::string data = ldifRecord(entry.dn, entry.attributes);
    if (data.size() > kMaxEntryData) {
        std::fprintf(stderr, "smsemu: %s: the entry is larger than %zu bytes\n", item.name.c_str(), kMaxEntryData);
        return NWSMTS_READ_ERROR;
    }
    dataSet = std::make_unique<LdapBackup>(*this, connection.handle, framedStream(item.name, data), entry.uuid,
                                           entry.changeStamp);
    return 0;
}

CCODE LdapTsa::openForRestore(Connection &connection, DataSet *, const NWSM_DATA_SET_NAME_LIST *newName,
                              UINT32 openMode, std::unique_ptr<DataSet> &dataSet)
{
    std::shared_ptr<LdapSession> session = sessionOf(connection);
    if (session == nullptr)
        return NWSMTS_INVALID_PARAMETER;
    std::optional<std::string> name;
    if (CCODE rc = restoreName(newName, name))
        return rc;
    if (name) {
        // Refused now what would be refused at the close: the caller learns
        // it before sending the stream.
        LdapTarget target;
        if (!resolve(*name, target))
            return NWSMTS_INVALID_PATH;
        LdapEntry existing;
        LdapFailure failure;
        if (target.kind == EntryKind::Object && session->read(target.dn, existing, failure))
            if (CCODE rc = replaceable(openMode))
                return rc;
        if (session->lost())
            return failed(*name, failure, LdapStep::Restore);
    }
    dataSet = std::make_unique<LdapRestore>(*this, session, openMode, std::move(name));
    return 0;
}

CCODE LdapTsa::commitRestore(LdapSession &session, const std::string &name, const std::string &data, UINT32 openMode)
{
    LdapTarget target;
    if (!resolve(name, target))
        return NWSMTS_INVALID_PATH;
    if (target.kind != EntryKind::Object) {
        StreamedEntry content;
        if (CCODE rc = readStreamData(data, content))
            return rc;
        if (content.type != streamType(target.kind))
            return NWSMTS_INVALID_DATA_SET;
        if (target.kind != EntryKind::ClassDefinition)
            return 0; // the resources and the top hold nothing of their own
        // The schema is the server's: a class it has restores without a change.
        std::vector<EntryPtr> definitions;
        LdapFailure failure;
        if (!classDefinitions(session, definitions, failure))
            return failed(name, failure, LdapStep::Restore);
        for (const EntryPtr &definition : definitions)
            if (definition->key == target.key)
                return 0;
        return NWSMTS_INVALID_PATH;
    }
    std::string streamDn;
    std::vector<LdapAttribute> attributes;
    if (!parseLdifRecord(data, streamDn, attributes))
        return NWSMTS_INVALID_DATA_SET;
    LdapEntry existing;
    LdapFailure failure;
    if (session.read(target.dn, existing, failure)) {
        if (CCODE rc = replaceable(openMode))
            return rc;
        // Only user attributes are read and written: operational ones stay.
        if (!session.modify(target.dn, changesTo(existing.attributes, attributes), failure))
            return failed(name, failure, LdapStep::Restore);
        return 0;
    }
    if (failure.code != LDAP_NO_SUCH_OBJECT)
        return failed(name, failure, LdapStep::Restore);
    if (session.add(target.dn, attributes, failure))
        return 0;
    if (failure.code == LDAP_NO_SUCH_OBJECT)
        failure.text = "its container is not in the directory (" + failure.text + ")";
    return failed(name, failure, LdapStep::Restore);
}

CCODE LdapTsa::deleteDataSet(Connection &connection, Scan &at)
{
    auto *scan = dynamic_cast<LdapScan *>(&at);
    std::shared_ptr<LdapSession> session = sessionOf(connection);
    if (scan == nullptr || session == nullptr)
        return NWSMTS_INVALID_SEQUENCE_NUMBER;
    const LdapItem &item = scan->item();
    // The top, the resources and the schema's class definitions stay.
    if (item.kind != EntryKind::Object || item.report != 0)
        return NWSMTS_DELETE_ERR;
    LdapFailure failure;
    if (!session->remove(item.dn, failure)) {
        if (failure.code == LDAP_NOT_ALLOWED_ON_NONLEAF)
            failure.text = "not empty (" + failure.text + ")";
        return failed(item.name, failure, LdapStep::Delete);
    }
    flags_.record(connection.handle, item.uuid, item.stamp, true);
    return 0;
}

} // namespace smsemu
