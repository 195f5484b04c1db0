// Loading, creating and logging in; logging out and releasing on the way out.
#include "frame/ModuleSession.h"

#include <cstdio>
#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

#include <fmt/format.h>

#include "KXSMSErr.h"
#include "archive/Format.h"
#include "frame/FailureText.h"
#include "frame/ModuleLog.h"
#include "frame/Password.h"

namespace kxsms {

// Archives record the TSA type by the module's numbers.
static_assert(format::c_TsaDirectory == KXSMS_TSA_DIRECTORY && format::c_TsaFileSystem == KXSMS_TSA_FILE_SYSTEM &&
              format::c_TsaGroupWise == KXSMS_TSA_GROUPWISE);

const char *tsaDescription(KXSMS_TSA_TYPE type)
{
    return format::tsaName(static_cast<uint16_t>(type));
}

NameStyle nameStyle(KXSMS_TSA_TYPE type)
{
    return format::nameStyle(static_cast<uint16_t>(type));
}

std::string currentUser()
{
    if (const struct passwd *entry = getpwuid(geteuid()); entry != nullptr && entry->pw_name != nullptr)
        return entry->pw_name;
    return "";
}

ModuleSession::ModuleSession(std::shared_ptr<const Module> module, KXSMS_TSA_TYPE type,
                             const NWSM_SCAN_CONTROL *scanControl)
    : module_(std::move(module)), object_(*module_), type_(type)
{
    if (scanControl != nullptr) {
        NWSM_SCAN_CONTROL control = *scanControl;
        object_->SetScanControl(&control);
    }
}

ModuleSession::~ModuleSession()
{
    if (connected_)
        object_->Disconnect();
}

std::string ModuleSession::close()
{
    takeModuleLog(); // what came before is not the release's
    if (connected_)
        object_->Disconnect();
    connected_ = false;
    return takeModuleLog();
}

NameStyle ModuleSession::names() const
{
    return nameStyle(type_);
}

std::string ModuleSession::describe(unsigned int code)
{
    const char *text = object_->GetErrorText(code);
    return text != nullptr ? text : fmt::format("error {}", code);
}

int ModuleSession::failureStatus(const std::string &what, unsigned int code)
{
    fmt::print(stderr, "kxsms: {}: {}\n", what, failureWords(text(code), takeModuleLog()));
    return fatal(code) ? c_ExitStopped : c_ExitSomeFailed;
}

void ModuleSession::endWithoutLogout(int status)
{
    fflush(nullptr);
    std::_Exit(status);
}

unsigned int ModuleSession::logIn(KXSMS_TSA_TYPE type, std::string &user, const Secret &secret)
{
    KXPassword password(secret.c_str());
    return object_->Connect(type, user.data(), &password);
}

std::unique_ptr<ModuleSession> ModuleSession::open(const GlobalOptions &options, KXSMS_TSA_TYPE type,
                                                   const NWSM_SCAN_CONTROL *scanControl)
{
    std::vector<std::unique_ptr<ModuleSession>> sessions = openSeveral(options, type, scanControl, 1);
    return sessions.empty() ? nullptr : std::move(sessions.front());
}

std::vector<std::unique_ptr<ModuleSession>> ModuleSession::openSeveral(const GlobalOptions &options,
                                                                       KXSMS_TSA_TYPE type,
                                                                       const NWSM_SCAN_CONTROL *scanControl,
                                                                       unsigned count)
{
    std::vector<std::unique_ptr<ModuleSession>> sessions;
    std::string error;
    std::shared_ptr<const Module> module = Module::load(error);
    if (!module) {
        fmt::print(stderr, "kxsms: {}\n", error);
        return sessions;
    }
    std::unique_ptr<ModuleSession> first(new ModuleSession(module, type, scanControl));

    std::string user = options.user.empty() ? currentUser() : options.user;
    if (user.empty()) {
        fmt::print(stderr, "kxsms: this process's user has no name; give one with -u\n");
        return sessions;
    }
    std::optional<Secret> secret = obtainPassword(options.passwordFile, user, options.passwordPrompt, error);
    if (!secret) {
        fmt::print(stderr, "kxsms: {}\n", error);
        return sessions;
    }
    unsigned int code = first->logIn(type, user, *secret);
    // A refused login is asked once more, with a password typed in, when
    // there is someone at a terminal to type it and it was not asked already.
    if (code == KXSMS_ERR_LOGIN_FAILED /* the TSA refused the login */ && !options.passwordPrompt && canPrompt()) {
        secret = promptPassword(user);
        code = first->logIn(type, user, *secret);
    }
    if (code != 0) {
        fmt::print(stderr, "kxsms: cannot log in to the {} TSA as {}: {}\n", tsaDescription(type), user,
                   first->text(code));
        return sessions;
    }
    first->connected_ = true;
    sessions.push_back(std::move(first));
    // The others log in with the password that was taken.
    while (sessions.size() < count) {
        std::unique_ptr<ModuleSession> other(new ModuleSession(module, type, scanControl));
        code = other->logIn(type, user, *secret);
        if (code != 0) {
            fmt::print(stderr, "kxsms: cannot log in to the {} TSA as {} (connection {} of {}): {}\n",
                       tsaDescription(type), user, sessions.size() + 1, count, other->text(code));
            sessions.clear();
            return sessions;
        }
        other->connected_ = true;
        sessions.push_back(std::move(other));
    }
    return sessions;
}

} // namespace kxsms
