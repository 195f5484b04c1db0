// The process environment as tests set it: scoped variables, the user, and
// the variables the stand-ins read.
#ifndef KXSMS_TESTS_SUPPORT_ENVIRONMENT_H
#define KXSMS_TESTS_SUPPORT_ENVIRONMENT_H

#include <optional>
#include <string>

namespace testsupport {

// Sets a variable (or unsets it, for a null value) and puts back what it was
// when the object goes.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// The name of the user the process runs as ("root" when it has none).
std::string currentUserName();

// Unsets what the stand-ins read: SMSEMU_CONFIG, SMSEMU_TRACE, SMSEMU_FAULTS
// and KXLIB_LOG, KXLIB_CONFIG, KXLIB_DEBUG_LEVEL, KXLIB_FOCUS.
void clearStandInEnvironment();

} // namespace testsupport

#endif
