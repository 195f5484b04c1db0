#include "core/Functions.h"

#include <array>

namespace smsemu {
namespace {

#define SMSEMU_LIB_U                   Library::Utilities
#define SMSEMU_LIB_R                   Library::Requester
#define SMSEMU_RESULT_C                true
#define SMSEMU_RESULT_V                false
#define SMSEMU_RESULT_O                false
#define SMSEMU_INFO(name, lib, result) FunctionInfo{#name, SMSEMU_LIB_##lib, SMSEMU_RESULT_##result},

constexpr std::array<FunctionInfo, kFunctionCount> kFunctions{{SMSEMU_FUNCTIONS(SMSEMU_INFO)}};

} // namespace

const FunctionInfo &functionInfo(Fn fn)
{
    return kFunctions[static_cast<std::size_t>(fn)];
}

std::optional<Fn> findFunction(std::string_view name)
{
    for (std::size_t i = 0; i < kFunctions.size(); ++i)
        if (name == kFunctions[i].name)
            return static_cast<Fn>(i);
    return std::nullopt;
}

} // namespace smsemu
