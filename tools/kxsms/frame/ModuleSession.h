// A logged-in connection through the module: the loaded library, one
// CKXSMS object and its login, released in reverse order.
#ifndef KXSMS_TOOLS_MODULESESSION_H
#define KXSMS_TOOLS_MODULESESSION_H

#include <memory>
#include <string>
#include <vector>

#include "KXSMS.h"
#include "frame/CommandLine.h"
#include "frame/Module.h"
#include "io/Text.h"

namespace kxsms {

class Secret;

class ModuleSession {
public:
    // Loads the module, creates the object, obtains the password and logs in
    // to the TSA of that type. Null when any of it fails; the reason has
    // then been written to stderr. scanControl, when given, is set before
    // the login (ScanControl.h).
    static std::unique_ptr<ModuleSession> open(const GlobalOptions &options, KXSMS_TSA_TYPE type,
                                               const NWSM_SCAN_CONTROL *scanControl = nullptr);
    // count sessions as open() makes one (count >= 1), each with an object
    // and a login of its own, for a job that drives each from its own
    // thread. The password is obtained once. Empty when any of it fails.
    static std::vector<std::unique_ptr<ModuleSession>> openSeveral(const GlobalOptions &options,
                                                                   KXSMS_TSA_TYPE type,
                                                                   const NWSM_SCAN_CONTROL *scanControl,
                                                                   unsigned count);
    ~ModuleSession();
    ModuleSession(const ModuleSession &) = delete;
    ModuleSession &operator=(const ModuleSession &) = delete;

    CKXSMS &kx() { return *object_; }
    KXSMS_TSA_TYPE type() const { return type_; }
    // How its TSA's names are shown.
    NameStyle names() const;
    // The module's message for a code it returned.
    std::string text(unsigned int code) { return describe(code); }
    // Whether the module says the job must stop after this code.
    bool fatal(unsigned int code) { return object_->IsFatalError(code); }
    // Logs out and releases the connection now (the destructor then does
    // nothing); returns what the module logged meanwhile: a TSA finishes
    // some work as its connection is released (the file-system TSA sets the
    // modes and times of the directories it restored) and names there what
    // it could not do.
    std::string close();
    // Reports a failure on stderr (what failed, the module's message, the
    // TSA's text); returns the exit status it calls for.
    int failureStatus(const std::string &what, unsigned int code);

    // Ends the process at once with this status, the connection neither
    // logged out nor released: the TSA then commits none of the archive-flag
    // clears it still holds. For a backup whose archive is not durable, where
    // a committed clear would make the next incremental backup skip data
    // that is saved nowhere.
    [[noreturn]] static void endWithoutLogout(int status);

private:
    ModuleSession(std::shared_ptr<const Module> module, KXSMS_TSA_TYPE type, const NWSM_SCAN_CONTROL *scanControl);
    std::string describe(unsigned int code);
    unsigned int logIn(KXSMS_TSA_TYPE type, std::string &user, const Secret &secret);

    std::shared_ptr<const Module> module_;
    ModuleObject object_;
    KXSMS_TSA_TYPE type_;
    bool connected_ = false;
};

// "file-system", "directory" or "GroupWise", for messages.
const char *tsaDescription(KXSMS_TSA_TYPE type);

// How names of that TSA are shown.
NameStyle nameStyle(KXSMS_TSA_TYPE type);

// The user the process runs as, or "" when it has no name.
std::string currentUser();

} // namespace kxsms

#endif
