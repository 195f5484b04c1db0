#include "directory/LdapCodes.h"

#include <ldap.h>

namespace smsemu {

CCODE smsCodeOf(int ldapCode, LdapStep step)
{
    switch (ldapCode) {
    case LDAP_SUCCESS:
        return 0;
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
    case LDAP_TIMEOUT:
        return kTransportFailure;
    case LDAP_BUSY:
    case LDAP_UNAVAILABLE:
        return kServerNotReady;
    case LDAP_INVALID_CREDENTIALS:
    case LDAP_INAPPROPRIATE_AUTH:
    case LDAP_AUTH_METHOD_NOT_SUPPORTED:
    case LDAP_STRONG_AUTH_REQUIRED:
    case LDAP_INSUFFICIENT_ACCESS:
        return step == LdapStep::Login ? NWSMTS_LOGIN_DENIED : NWSMTS_NO_SEARCH_PRIVILEGES;
    case LDAP_NO_SUCH_OBJECT:
        return NWSMTS_NO_DATA_SETS_FOUND;
    case LDAP_INVALID_DN_SYNTAX:
        return NWSMTS_INVALID_PATH;
    case LDAP_ALREADY_EXISTS:
        return NWSMTS_DATA_SET_ALREADY_EXISTS;
    case LDAP_NOT_ALLOWED_ON_NONLEAF:
        return NWSMTS_DELETE_ERR;
    default:
        break;
    }
    switch (step) {
    case LdapStep::Login:
        return NWSMTS_LOGIN_DENIED;
    case LdapStep::Scan: // size, time and administrative limits among them
        return NWSMTS_SCAN_ERROR;
    case LdapStep::Backup:
        return NWSMTS_READ_ERROR;
    case LdapStep::Restore: // schema, syntax and naming violations among them
        return NWSMTS_WRITE_ERROR;
    case LdapStep::Delete:
        return NWSMTS_DELETE_ERR;
    }
    return NWSMTS_INTERNAL_ERROR;
}

} // namespace smsemu
