#include "directory/LdapSession.h"

#include <ldap.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <pthread.h>

#include <fmt/format.h>

namespace smsemu {
namespace {

// Entries per page of a search: below the size limit servers set by default.
constexpr int kPageSize = 250;

// ManageDsaIT on every operation: a referral object is an entry to read,
// write and delete like any other, not a pointer to another server that
// a search would pass over.
LDAPControl gManageDsaIt{const_cast<char *>(LDAP_CONTROL_MANAGEDSAIT), {0, nullptr}, 0};
LDAPControl *gOperationControls[] = {&gManageDsaIt, nullptr};

const char *const kOperational[] = {"entryUUID", "entryCSN", "modifyTimestamp", "createTimestamp", "hasSubordinates"};

// A write to a server that has gone away raises SIGPIPE, which would end a
// host that does not ignore it: the signal is held while the library works
// and taken back if it came then.
class QuietPipe {
public:
    QuietPipe()
    {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~QuietPipe()
    {
        sigset_t pending;
        if (!wasPending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{};
            sigtimedwait(&pipe_, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    QuietPipe(const QuietPipe &) = delete;
    QuietPipe &operator=(const QuietPipe &) = delete;

private:
    sigset_t pipe_{};
    sigset_t old_{};
    bool wasPending_ = false;
};

bool equalsNoCase(const char *a, const char *b)
{
    return strcasecmp(a, b) == 0;
}

// One entry of a result, its values copied.
LdapEntry entryOf(LDAP *handle, LDAPMessage *message)
{
    LdapEntry entry;
    if (char *dn = ldap_get_dn(handle, message)) {
        entry.dn = dn;
        ldap_memfree(dn);
    }
    BerElement *ber = nullptr;
    for (char *name = ldap_first_attribute(handle, message, &ber); name != nullptr;
         name = ldap_next_attribute(handle, message, ber)) {
        std::vector<std::string> values;
        if (berval **found = ldap_get_values_len(handle, message, name)) {
            for (berval **value = found; *value != nullptr; ++value)
                values.emplace_back((*value)->bv_val, (*value)->bv_len);
            ldap_value_free_len(found);
        }
        std::string *operational = nullptr;
        if (equalsNoCase(name, "entryUUID"))
            operational = &entry.uuid;
        else if (equalsNoCase(name, "entryCSN"))
            operational = &entry.changeStamp;
        else if (equalsNoCase(name, "modifyTimestamp"))
            operational = &entry.modifyTimestamp;
        else if (equalsNoCase(name, "createTimestamp"))
            operational = &entry.createTimestamp;
        if (operational != nullptr) {
            if (!values.empty())
                *operational = values.front();
        } else if (equalsNoCase(name, "hasSubordinates")) {
            if (!values.empty())
                entry.hasSubordinates = equalsNoCase(values.front().c_str(), "TRUE");
        } else {
            entry.attributes.push_back(LdapAttribute{name, std::move(values)});
        }
        ldap_memfree(name);
    }
    if (ber != nullptr)
        ber_free(ber, 0);
    if (entry.changeStamp.empty())
        entry.changeStamp = entry.modifyTimestamp;
    return entry;
}

// The values of attributes as the library takes them.
class Values {
public:
    explicit Values(const std::vector<std::string> &values)
    {
        bodies_.reserve(values.size());
        for (const std::string &value : values)
            bodies_.push_back(berval{value.size(), const_cast<char *>(value.data())});
        for (berval &body : bodies_)
            pointers_.push_back(&body);
        pointers_.push_back(nullptr);
    }
    berval **get() { return pointers_.data(); }

private:
    std::vector<berval> bodies_;
    std::vector<berval *> pointers_;
};

struct Mods {
    std::vector<Values> values;
    std::vector<LDAPMod> mods;
    std::vector<LDAPMod *> pointers;

    void add(int operation, const std::string &name, const std::vector<std::string> &list)
    {
        values.emplace_back(list);
        LDAPMod mod{};
        mod.mod_op = operation | LDAP_MOD_BVALUES;
        mod.mod_type = const_cast<char *>(name.c_str());
        mods.push_back(mod);
    }
    LDAPMod **get()
    {
        // Pointers are taken once the vectors no longer move.
        for (std::size_t i = 0; i < mods.size(); ++i) {
            mods[i].mod_bvalues = values[i].get();
            pointers.push_back(&mods[i]);
        }
        pointers.push_back(nullptr);
        return pointers.data();
    }
};

} // namespace

bool isConnectionLost(int code)
{
    return code == LDAP_SERVER_DOWN || code == LDAP_TIMEOUT || code == LDAP_CONNECT_ERROR;
}

std::unique_ptr<LdapSession> LdapSession::open(const std::string &uri, std::chrono::seconds timeout,
                                               LdapFailure &failure)
{
    LDAP *handle = nullptr;
    int rc = ldap_initialize(&handle, uri.c_str());
    if (rc != LDAP_SUCCESS || handle == nullptr) {
        failure = LdapFailure{rc, fmt::format("{}: {}", uri, ldap_err2string(rc))};
        return nullptr;
    }
    const int version = LDAP_VERSION3;
    const timeval bound{static_cast<time_t>(timeout.count()), 0};
    ldap_set_option(handle, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(handle, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    ldap_set_option(handle, LDAP_OPT_NETWORK_TIMEOUT, &bound);
    ldap_set_option(handle, LDAP_OPT_TIMEOUT, &bound);
    return std::unique_ptr<LdapSession>(new LdapSession(handle, timeout));
}

LdapSession::~LdapSession()
{
    if (handle_ != nullptr) {
        QuietPipe quiet;
        ldap_unbind_ext_s(handle_, nullptr, nullptr);
    }
}

bool LdapSession::gone(LdapFailure &failure) const
{
    if (handle_ != nullptr)
        return false;
    failure = LdapFailure{LDAP_SERVER_DOWN, "connection lost"};
    return true;
}

bool LdapSession::fail(int code, LdapFailure &failure, const char *diagnostic)
{
    failure.code = code;
    failure.text = ldap_err2string(code);
    if (diagnostic != nullptr && *diagnostic != '\0')
        failure.text += fmt::format(" ({})", diagnostic);
    if (isConnectionLost(code)) {
        failure.text = code == LDAP_TIMEOUT
                           ? fmt::format("connection lost: no answer within {} seconds", timeout_.count())
                           : "connection lost (" + failure.text + ")";
        ldap_unbind_ext_s(handle_, nullptr, nullptr);
        handle_ = nullptr;
    }
    return false;
}

bool LdapSession::bindSimple(const std::string &dn, std::string_view password, LdapFailure &failure)
{
    if (gone(failure))
        return false;
    if (password.empty()) // an unauthenticated bind would be anonymous
        return fail(LDAP_INVALID_CREDENTIALS, failure);
    QuietPipe quiet;
    std::string secret(password);
    berval credentials{secret.size(), secret.data()};
    int rc = ldap_sasl_bind_s(handle_, dn.c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr, nullptr);
    explicit_bzero(secret.data(), secret.size());
    return rc == LDAP_SUCCESS || fail(rc, failure);
}

bool LdapSession::bindExternal(LdapFailure &failure)
{
    if (gone(failure))
        return false;
    QuietPipe quiet;
    // An empty initial response: no identity asked for beyond the one the
    // connection carries, so the exchange ends in one step.
    char none[] = "";
    berval empty{0, none};
    int rc = ldap_sasl_bind_s(handle_, nullptr, "EXTERNAL", &empty, nullptr, nullptr, nullptr);
    return rc == LDAP_SUCCESS || fail(rc, failure);
}

bool LdapSession::search(const std::string &base, LdapScope scope, bool withAttributes,
                         const std::function<void(LdapEntry &&)> &each, LdapFailure &failure)
{
    if (gone(failure))
        return false;
    QuietPipe quiet;
    std::vector<char *> attributes;
    if (withAttributes) {
        attributes.push_back(const_cast<char *>("*"));
        // A referral object's URLs are not among "all user attributes",
        // yet the entry cannot be added again without them.
        attributes.push_back(const_cast<char *>("ref"));
    }
    for (const char *name : kOperational)
        attributes.push_back(const_cast<char *>(name));
    attributes.push_back(nullptr);
    timeval bound{static_cast<time_t>(timeout_.count()), 0};
    berval cookie{0, nullptr};
    bool ok = true;
    int references = 0;
    do {
        LDAPControl *page = nullptr;
        int rc = ldap_create_page_control(handle_, kPageSize, &cookie, 0, &page);
        ber_memfree(cookie.bv_val);
        cookie = berval{0, nullptr};
        if (rc != LDAP_SUCCESS) {
            ok = fail(rc, failure);
            break;
        }
        LDAPControl *controls[] = {page, &gManageDsaIt, nullptr};
        LDAPMessage *result = nullptr;
        rc = ldap_search_ext_s(handle_, base.c_str(), scope == LdapScope::Base ? LDAP_SCOPE_BASE : LDAP_SCOPE_ONELEVEL,
                               "(objectClass=*)", attributes.data(), 0, controls, nullptr, &bound, LDAP_NO_LIMIT,
                               &result);
        ldap_control_free(page);
        if (result == nullptr) {
            ok = fail(rc, failure);
            break;
        }
        for (LDAPMessage *entry = ldap_first_entry(handle_, result); entry != nullptr;
             entry = ldap_next_entry(handle_, entry))
            each(entryOf(handle_, entry));
        references += ldap_count_references(handle_, result);
        int code = LDAP_SUCCESS;
        char *diagnostic = nullptr;
        LDAPControl **returned = nullptr;
        rc = ldap_parse_result(handle_, result, &code, nullptr, &diagnostic, nullptr, &returned, 1);
        if (rc != LDAP_SUCCESS || code != LDAP_SUCCESS)
            ok = fail(rc != LDAP_SUCCESS ? rc : code, failure, diagnostic);
        else if (LDAPControl *response = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, returned, nullptr)) {
            ber_int_t estimate = 0;
            if (ldap_parse_pageresponse_control(handle_, response, &estimate, &cookie) != LDAP_SUCCESS)
                cookie = berval{0, nullptr};
        }
        ldap_memfree(diagnostic);
        ldap_controls_free(returned);
    } while (ok && cookie.bv_len > 0);
    ber_memfree(cookie.bv_val);
    // A server that does not take the control points elsewhere instead of
    // giving an entry: what was not given is said.
    if (ok && references > 0)
        ok = fail(LDAP_REFERRAL, failure,
                  fmt::format("{} entries the server gave as references to other servers", references).c_str());
    return ok;
}

bool LdapSession::read(const std::string &dn, LdapEntry &entry, LdapFailure &failure)
{
    bool found = false;
    if (!search(
            dn, LdapScope::Base, true,
            [&](LdapEntry &&read) {
                entry = std::move(read);
                found = true;
            },
            failure))
        return false;
    return found || fail(LDAP_NO_SUCH_OBJECT, failure);
}

bool LdapSession::readAttribute(const std::string &dn, const char *attribute, std::vector<std::string> &values,
                                LdapFailure &failure)
{
    values.clear();
    if (gone(failure))
        return false;
    QuietPipe quiet;
    char *attributes[] = {const_cast<char *>(attribute), nullptr};
    timeval bound{static_cast<time_t>(timeout_.count()), 0};
    LDAPMessage *result = nullptr;
    int rc = ldap_search_ext_s(handle_, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attributes, 0,
                               gOperationControls, nullptr, &bound, LDAP_NO_LIMIT, &result);
    if (result == nullptr)
        return fail(rc, failure);
    if (LDAPMessage *entry = ldap_first_entry(handle_, result))
        if (berval **found = ldap_get_values_len(handle_, entry, attribute)) {
            for (berval **value = found; *value != nullptr; ++value)
                values.emplace_back((*value)->bv_val, (*value)->bv_len);
            ldap_value_free_len(found);
        }
    ldap_msgfree(result);
    return rc == LDAP_SUCCESS || fail(rc, failure);
}

bool LdapSession::add(const std::string &dn, const std::vector<LdapAttribute> &attributes, LdapFailure &failure)
{
    if (gone(failure))
        return false;
    QuietPipe quiet;
    Mods mods;
    for (const LdapAttribute &attribute : attributes)
        mods.add(LDAP_MOD_ADD, attribute.name, attribute.values);
    return written(ldap_add_ext_s(handle_, dn.c_str(), mods.get(), gOperationControls, nullptr), failure);
}

bool LdapSession::modify(const std::string &dn, const std::vector<LdapModification> &changes, LdapFailure &failure)
{
    if (gone(failure))
        return false;
    if (changes.empty())
        return true;
    QuietPipe quiet;
    Mods mods;
    for (const LdapModification &change : changes)
        mods.add(change.kind == LdapModification::Replace ? LDAP_MOD_REPLACE : LDAP_MOD_DELETE, change.name,
                 change.values);
    return written(ldap_modify_ext_s(handle_, dn.c_str(), mods.get(), gOperationControls, nullptr), failure);
}

bool LdapSession::remove(const std::string &dn, LdapFailure &failure)
{
    if (gone(failure))
        return false;
    QuietPipe quiet;
    return written(ldap_delete_ext_s(handle_, dn.c_str(), gOperationControls, nullptr), failure);
}

bool LdapSession::written(int rc, LdapFailure &failure)
{
    if (rc == LDAP_SUCCESS)
        return true;
    char *diagnostic = nullptr;
    if (!isConnectionLost(rc))
        ldap_get_option(handle_, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic);
    fail(rc, failure, diagnostic);
    ldap_memfree(diagnostic);
    return false;
}

} // namespace smsemu
