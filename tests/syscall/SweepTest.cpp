// The fault sweep: each kxsms job of the sweep (SweepJob.h) with one system
// call failing at a time, for every call and error of the table
// (FaultTable.h). By default a call fails at one place per error: the rows
// of one call take its first and its last place in the job in turn.
// KXSMS_SYSCALL_SWEEP=all fails each call at every place with every error.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>

#include "FaultTable.h"
#include "SweepJob.h"

namespace {

using namespace sweep;

using Param = std::tuple<Scenario, size_t>;

// One job per scenario and process, set up when its first row runs.
SweepJob &job(Scenario scenario)
{
    static std::map<Scenario, std::unique_ptr<SweepJob>> jobs;
    auto &made = jobs[scenario];
    if (!made)
        made = std::make_unique<SweepJob>(scenario);
    return *made;
}

bool exhaustive()
{
    const char *setting = std::getenv("KXSMS_SYSCALL_SWEEP");
    return setting != nullptr && std::string(setting) == "all";
}

// The places of the call of row index the sweep makes fail: all, or the
// first for the row's call's first, third, ... error and the last for the others.
std::vector<CountedCall> placesOf(const std::vector<CountedCall> &calls, size_t index)
{
    const Expectation &row = faultTable()[index];
    std::vector<CountedCall> places;
    for (const CountedCall &call : calls)
        if (call.call == row.call)
            places.push_back(call);
    if (exhaustive() || places.size() < 2)
        return places;
    size_t ordinal = 0;
    for (size_t i = 0; i < index; ++i)
        if (faultTable()[i].scope == row.scope && std::string(faultTable()[i].call) == row.call)
            ++ordinal;
    return {ordinal % 2 == 0 ? places.front() : places.back()};
}

std::string statusList(const std::set<int> &statuses)
{
    std::string text;
    for (int status : statuses)
        text += (text.empty() ? "" : " or ") + std::to_string(status);
    return text;
}

// The table's own checks of one run: its status, the cause and the name in
// a failure line.
void checkAgainstRow(const SweepJob &sweepJob, const Expectation &row, FaultRun &run)
{
    const Outcome &outcome = run.outcome;
    const bool done = outcome.status == 0 && row.alsoDoneIn.count(sweepJob.scenario()) != 0;
    if (row.statuses.count(outcome.status) == 0 && !done)
        run.violations.push_back("status " + std::to_string(outcome.status) + ", the table expects " +
                                 statusList(row.statuses));
    if (outcome.status == 0)
        return;
    bool caused = row.words.empty();
    for (const char *words : row.words)
        caused = caused || outcome.err.find(words) != std::string::npos;
    if (!caused)
        run.violations.push_back("no failure line gives the cause (" + std::string(row.words.front()) + ", ...)");
    if (!sweepJob.namesFileOf(outcome.err, run.path))
        run.violations.push_back("no failure line names the data set or the archive of " + run.path);
}

// The known fault a violation of this row in this scenario shows, if any.
const Known *knownFault(const Expectation &row, Scenario scenario, const std::string &violation)
{
    for (const Known &known : row.known)
        if (known.scenarios.count(scenario) != 0 && violation.find(known.violation) != std::string::npos)
            return &known;
    return nullptr;
}

class Sweep : public ::testing::TestWithParam<Param> {};

TEST_P(Sweep, Fails)
{
    const auto [scenario, index] = GetParam();
    const Expectation &row = faultTable()[index];
    SweepJob *sweepJob = nullptr;
    try {
        sweepJob = &job(scenario);
    } catch (const std::exception &e) {
        FAIL() << e.what();
    }
    const std::vector<CountedCall> places = placesOf(sweepJob->calls(row.scope), index);
    if (places.empty())
        GTEST_SKIP() << "the job makes no " << row.call << " call on the " << scopeName(row.scope) << "'s files";

    std::vector<std::string> knownSeen;
    for (const CountedCall &place : places) {
        FaultRun run = sweepJob->runWithFault(row.scope, place, row.error);
        checkAgainstRow(*sweepJob, row, run);
        std::vector<std::string> unexplained;
        const Known *known = nullptr;
        for (const std::string &violation : run.violations) {
            if (const Known *explained = knownFault(row, scenario, violation))
                known = explained;
            else
                unexplained.push_back(violation);
        }
        if (run.violations.empty())
            continue;
        std::ostringstream report;
        report << "SYSFAULTS=" << run.settings << " on " << run.path << "\n  " << run.command << "\n  status "
               << run.outcome.status << "\n";
        for (const std::string &violation : run.violations)
            report << "  - " << violation << "\n";
        report << "  stderr:\n" << run.outcome.err;
        if (!unexplained.empty())
            ADD_FAILURE() << report.str();
        else
            knownSeen.push_back(std::string("known: ") + known->what + "\n" + report.str());
    }
    if (!knownSeen.empty() && !HasFailure())
        GTEST_SKIP() << knownSeen.front();
}

std::string rowName(const ::testing::TestParamInfo<Param> &param)
{
    const Expectation &row = faultTable()[std::get<1>(param.param)];
    return std::string(scopeName(row.scope)) + "_" + row.call + "_" + row.error;
}

#define SWEEP_SCENARIO(name, scenario)                                                                                 \
    INSTANTIATE_TEST_SUITE_P(                                                                                          \
        name, Sweep,                                                                                                   \
        ::testing::Combine(::testing::Values(scenario), ::testing::Range<size_t>(0, faultTable().size())), rowName)

SWEEP_SCENARIO(backup, Scenario::BackupFile);
SWEEP_SCENARIO(backup_clear_archive, Scenario::BackupClear);
SWEEP_SCENARIO(backup_incremental, Scenario::BackupIncremental);
SWEEP_SCENARIO(restore_to, Scenario::RestoreTo);
SWEEP_SCENARIO(restore_in_place, Scenario::RestoreInPlace);
SWEEP_SCENARIO(restore_chain, Scenario::RestoreChain);

} // namespace
