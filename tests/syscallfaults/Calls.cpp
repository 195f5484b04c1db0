// The names of the calls the seam counts.
#include "Calls.h"

namespace sysfaults {

namespace {

constexpr const char *c_Names[] = {
#define SYSFAULTS_NAME(name) #name,
    SYSFAULTS_CALLS(SYSFAULTS_NAME)
#undef SYSFAULTS_NAME
};

} // namespace

const char *callName(Call call)
{
    return c_Names[static_cast<size_t>(call)];
}

std::optional<Call> findCall(std::string_view name)
{
    for (size_t i = 0; i < kCallCount; ++i)
        if (name == c_Names[i])
            return static_cast<Call>(i);
    return std::nullopt;
}

} // namespace sysfaults
