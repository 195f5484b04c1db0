#include "Environment.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace testsupport {

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name)
{
    if (const char *old = std::getenv(name))
        old_ = old;
    if (value != nullptr)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (old_)
        setenv(name_.c_str(), old_->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

std::string currentUserName()
{
    const struct passwd *user = getpwuid(geteuid());
    return user != nullptr ? user->pw_name : "root";
}

void clearStandInEnvironment()
{
    for (const char *name : {"SMSEMU_CONFIG", "SMSEMU_TRACE", "SMSEMU_FAULTS", "KXLIB_LOG", "KXLIB_CONFIG",
                             "KXLIB_DEBUG_LEVEL", "KXLIB_FOCUS"})
        unsetenv(name);
}

} // namespace testsupport
