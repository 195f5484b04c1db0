// One job of the fault sweep — a kxsms backup or restore of the sweep's tree
// — set up in a folder of its own, run once without faults to learn its
// calls and its result, then again with one call made to fail, and checked
// against what must hold whatever fails.
#ifndef KXSMS_TESTS_SYSCALL_SWEEPJOB_H
#define KXSMS_TESTS_SYSCALL_SWEEPJOB_H

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "SweepTree.h"
#include "TempDir.h"

namespace sweep {

// Which files a fault is for: the data sets below the TSA's resource (the
// tree backed up, the restores' targets), the archives, or the state store
// that keeps the archive flags.
enum class Scope { Tree, Archive, Store };
const char *scopeName(Scope scope);

enum class Scenario { BackupFile, BackupClear, BackupIncremental, RestoreTo, RestoreInPlace, RestoreChain };
const char *scenarioName(Scenario scenario);
bool isBackup(Scenario scenario);
bool clearsFlags(Scenario scenario);

// One call the seam counted, from its trace.
struct CountedCall {
    std::string call;
    unsigned long number = 0;
    std::string path; // "FROM -> TO" for renames and links
};

struct Outcome {
    int status = -1; // the exit status; -1 when a signal ended the program
    std::string out;
    std::string err;
};

// A job with one fault: what it did and what went wrong with that.
struct FaultRun {
    std::string settings; // the SYSFAULTS setting
    std::string command;  // the kxsms command line
    std::string path;     // the file the failing call was on
    Outcome outcome;
    std::vector<std::string> violations; // the invariants it broke, one line each
};

class SweepJob {
public:
    // Makes the tree and what the scenario needs before its job (earlier
    // archives, a damaged tree), then runs the job once per scope without a
    // fault; throws when that run does not succeed.
    explicit SweepJob(Scenario scenario);
    // Removes the job's folder, unless KXSMS_SYSCALL_SWEEP_KEEP is set: then
    // it stays for a look, and stderr names it.
    ~SweepJob();
    SweepJob(const SweepJob &) = delete;
    SweepJob &operator=(const SweepJob &) = delete;

    Scenario scenario() const { return scenario_; }
    // The calls the job makes on the files of a scope, in order.
    const std::vector<CountedCall> &calls(Scope scope) const { return calls_.at(scope); }

    // Runs the job with the number-th call of that name (counted within the
    // scope) failing with error (an errno name, or SHORT), and checks it.
    FaultRun runWithFault(Scope scope, const CountedCall &call, const std::string &error);

    // Whether a failure line of err names the file at path (a data set, a
    // parent or child of it, the archive or the store).
    bool namesFileOf(const std::string &err, const std::string &path) const;

private:
    std::string kxsmsCommand(const std::vector<std::string> &arguments) const;
    Outcome run(const std::string &command, const std::string &seam) const;
    void runClean(const std::vector<std::string> &arguments, const std::string &what);
    std::vector<std::string> arguments() const;
    void prepare();
    std::string pathsOf(Scope scope) const;
    Detail wholeDetail() const;

    // The checks.
    void checkCommon(FaultRun &run) const;
    void checkBackup(FaultRun &run) const;
    void checkRestore(FaultRun &run) const;
    std::map<std::string, bool> flags() const; // data set name -> its archive flag reads set
    std::string storeProblem() const;          // "" when the store reads whole
    std::filesystem::path target() const;      // what a restore writes (below the resource)
    std::vector<std::string> tempFiles() const;

    Scenario scenario_;
    testsupport::TempDir dir_{"kxsms-sweep"};
    std::filesystem::path data_;     // the TSA's resource "/"
    std::filesystem::path archives_; // the archives
    std::filesystem::path state_;    // the state store's folder
    std::filesystem::path saved_;    // copies to start each run from
    std::map<Scope, std::vector<CountedCall>> calls_;

    // What the run without a fault left.
    struct Member {
        std::string listing;
        uint64_t size = 0;
        bool complete = false;
        bool operator==(const Member &) const = default;
    };
    std::map<std::string, Member> cleanMembers_;
    TreeDescription cleanTarget_;
    TreeDescription cleanEntries_;
    TreeDescription beforeTarget_; // the target's entries before a run
    std::map<std::string, bool> flagsBefore_;

    bool savedInstead(const Member &clean, const Member &found) const;
    std::map<std::string, Member> members(const std::filesystem::path &archive, std::string &problem) const;
};

// The lines of a trace the seam wrote.
std::vector<CountedCall> readTrace(const std::filesystem::path &trace);

} // namespace sweep

#endif
