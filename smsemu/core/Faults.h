// Fault injection: SMSEMU_FAULTS="Function@N=CODE,Function@*=CODE,...". The
// N-th call of a function (counted from 1 since the last reset), or every call
// with '*', fails with CODE before it does anything.
// "Function#C@N=CODE" (or "#C@*") aims at one connection, the one with handle
// C: its N-th call of the function on that connection (counted there), or
// each, fails as it reaches the connection. Where several threads drive
// connections of their own, that names one thread's call.
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
    // Whether some rule aims at one connection.
    bool aimsAtConnections() const
    {
        for (const auto &rules : connectionRules_)
            if (!rules.empty())
                return true;
        return false;
    }
    // Whether some rule aims at one connection's calls of `fn`.
    bool aimsAtConnections(Fn fn) const { return !connectionRules_[static_cast<std::size_t>(fn)].empty(); }
    // The code the `call`-th call (from 1) of `fn` on connection `handle`
    // fails with, or 0.
    CCODE faultFor(Fn fn, UINT32 handle, unsigned call) const;

private:
    struct Rule {
        std::optional<CCODE> every;
        std::vector<std::pair<unsigned, CCODE>> nth;
    };
    static CCODE codeOf(const Rule &rule, unsigned call);
    std::array<Rule, kFunctionCount> rules_{};
    // By function: the connection's handle and its rule.
    std::array<std::vector<std::pair<UINT32, Rule>>, kFunctionCount> connectionRules_{};
};

} // namespace smsemu
