// Fault injection: SMSEMU_FAULTS="Function@N=CODE,Function@*=CODE,...". The
// N-th call of a function (counted from 1 since the last reset), or every call
// with '*', fails with CODE before it does anything.
#pragma once

#include "core/Functions.h"
#include "SMSAPI.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace smsemu {

class FaultPlan {
public:
    // Parses a setting. A malformed one (unknown function, a function
    // without a completion code, bad count or code) yields false with the
    // reason in `problem` and leaves the plan empty: the whole setting is
    // ignored rather than applied in part.
    bool parse(std::string_view setting, std::string &problem);
    void clear();

    // The code the `call`-th call (from 1) of `fn` fails with, or 0.
    CCODE faultFor(Fn fn, unsigned call) const;

private:
    struct Rule {
        std::optional<CCODE> every;
        std::vector<std::pair<unsigned, CCODE>> nth;
    };
    std::array<Rule, kFunctionCount> rules_{};
};

} // namespace smsemu
