// Loading, creating and logging in; logging out and releasing on the way out.
#include "Session.h"

#include <pwd.h>
#include <unistd.h>

#include <fmt/format.h>

#include "Password.h"

namespace kxsms {

const char *tsaDescription(KXSMS_TSA_TYPE type)
{
    switch (type) {
    case KXSMS_TSA_DIRECTORY: return "directory";
    case KXSMS_TSA_GROUPWISE: return "GroupWise";
    default: return "file-system";
    }
}

std::string currentUser()
{
    if (const struct passwd *entry = getpwuid(geteuid()); entry != nullptr && entry->pw_name != nullptr)
        return entry->pw_name;
    return "";
}

Session::Session(std::unique_ptr<Module> module, KXSMS_TSA_TYPE type)
    : module_(std::move(module)), object_(*module_), type_(type)
{
}

Session::~Session()
{
    if (connected_)
        object_->Disconnect();
}

std::string Session::describe(unsigned int code)
{
    const char *text = object_->GetErrorText(code);
    return text != nullptr ? text : fmt::format("error {}", code);
}

std::unique_ptr<Session> Session::open(const Options &options, KXSMS_TSA_TYPE type)
{
    std::string error;
    std::unique_ptr<Module> module = Module::load(error);
    if (!module) {
        fmt::print(stderr, "kxsms: {}\n", error);
        return nullptr;
    }
    std::unique_ptr<Session> session(new Session(std::move(module), type));

    std::string user = options.user.empty() ? currentUser() : options.user;
    if (user.empty()) {
        fmt::print(stderr, "kxsms: this process's user has no name; give one with -u\n");
        return nullptr;
    }
    std::optional<Secret> secret = obtainPassword(options.passwordFile, user, error);
    if (!secret) {
        fmt::print(stderr, "kxsms: {}\n", error);
        return nullptr;
    }
    KXPassword password(secret->c_str());
    secret.reset();

    const unsigned int code = session->kx().Connect(type, user.data(), &password);
    if (code != 0) {
        fmt::print(stderr, "kxsms: cannot log in to the {} TSA as {}: {}\n", tsaDescription(type), user,
                   session->text(code));
        return nullptr;
    }
    session->connected_ = true;
    return session;
}

} // namespace kxsms
