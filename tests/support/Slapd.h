// A directory server of a test's own: the machine's slapd (Debian's slapd
// package) with a configuration and a database in a private temporary
// folder, listening only on a socket in that folder (ldapi://), and stopped
// when the object goes, also when the test fails. Nothing touches a server
// of the machine's own. The LDAP client programs (ldap-utils) act on it as
// its manager.
#ifndef KXSMS_TESTS_SUPPORT_SLAPD_H
#define KXSMS_TESTS_SUPPORT_SLAPD_H

#include "TempDir.h"

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

struct SlapdOptions {
    std::string suffix = "o=Acme";
    std::string rootPassword = "secret"; // of the manager, "cn=admin,<suffix>"
    // Lines of the database's configuration before its access rules, such
    // as "sizelimit 500" or "limits users size.prtotal=unlimited".
    std::string limits = "sizelimit unlimited";
    // Access rules ("access to ... by ..."), before the last one, which
    // lets every user read ("access to * by users read by anonymous auth").
    std::string access;
    // Entries loaded before the server starts.
    std::string ldif;
};

class Slapd {
public:
    // Why no server can be started here, or "" when one can (slapd, slapadd
    // and the client programs are installed).
    static std::string unavailable();

    // Starts the server and waits for it to answer; throws
    // std::runtime_error with the server's log when it does not start.
    explicit Slapd(SlapdOptions options);
    ~Slapd();
    Slapd(const Slapd &) = delete;
    Slapd &operator=(const Slapd &) = delete;

    const std::string &uri() const { return uri_; }
    std::string managerDn() const { return "cn=admin," + options_.suffix; }
    const std::string &suffix() const { return options_.suffix; }
    const std::filesystem::path &folder() const { return dir_.path(); }

    // Stops the server (SIGTERM, or SIGKILL when `abruptly`) and waits for it.
    void stop(bool abruptly = false);
    // Starts it again over the same database.
    void start();
    bool running() const { return pid_ > 0; }

    struct Output {
        int status = -1;
        std::string out;
        std::string err;
    };
    // Runs an LDAP client program (ldapsearch, ldapadd, ldapmodify,
    // ldapdelete, ...) bound as the manager, with `input` on its standard input.
    Output client(const std::string &program, const std::vector<std::string> &arguments,
                  const std::string &input = "") const;
    // "ldapsearch -LLL" of a subtree (the suffix when empty) as the manager,
    // referral objects as entries with their URLs (-M, "ref"); throws when
    // it fails.
    std::string dump(const std::string &base = "") const;

private:
    SlapdOptions options_;
    TempDir dir_;
    std::filesystem::path socketDir_; // when dir_'s path is too long for a socket
    std::string uri_;
    pid_t pid_ = -1;
};

// The records of an LDIF text, each as one text, in order of their text:
// listings of the same entries compare equal whatever order they came in.
std::vector<std::string> sortedLdifRecords(const std::string &ldif);

// A directory below `suffix` for tests, in LDIF: organisational units,
// `people` people (inetOrgPerson, with a binary jpegPhoto, a
// userCertificate;binary, a hashed userPassword), groups whose members are
// DNs, and names with escaped characters (',', '+', '.', '=', '\', '#'), a
// multi-valued RDN and UTF-8.
std::string sampleDirectory(const std::string &suffix, int people);

} // namespace testsupport

#endif
