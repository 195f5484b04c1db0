// Setting up, running and checking the sweep's jobs.
#include "SweepJob.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <stdexcept>

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include "Files.h"
#include "Preload.h"
#include "StandInConfig.h"
#include "archive/ArchiveReader.h"
#include "io/Streams.h"
#include "io/Text.h"

namespace sweep {

namespace fs = std::filesystem;

namespace {

std::string quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string base64Decoded(const std::string &text)
{
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (char c : text) {
        const size_t at = alphabet.find(c);
        if (at == std::string::npos)
            break;
        value = value << 6 | static_cast<unsigned>(at);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((value >> bits) & 0xFF));
        }
    }
    return out;
}

// "name: first difference" of two descriptions, for a message.
std::string firstDifference(const TreeDescription &got, const TreeDescription &want)
{
    for (const auto &[name, what] : want) {
        const auto it = got.find(name);
        if (it == got.end())
            return name + " is missing";
        if (!(it->second == what))
            return name + " is " + describe(it->second) + ", not " + describe(what);
    }
    for (const auto &[name, what] : got)
        if (want.count(name) == 0)
            return name + " should not be there";
    return "none";
}

// The attributes a restore's failure line says it could not set on the data
// set NAME whose data is in place: "cannot set attribute(s) A[, B]: CAUSE
// (the data is in place)".
std::set<std::string> attributesNotSet(const std::string &err, const std::string &name)
{
    std::set<std::string> names;
    const std::string printed = kxsms::printable(name, kxsms::NameStyle::FileSystem) + ": cannot set attribute";
    for (size_t at = err.find(printed); at != std::string::npos; at = err.find(printed, at + 1)) {
        const size_t end = err.find('\n', at);
        const std::string line = err.substr(at + printed.size(), end == std::string::npos ? end : end - at - printed.size());
        const size_t list = line.find(' ');
        const size_t cause = line.find(": ");
        if (line.find("(the data is in place)") == std::string::npos || list == std::string::npos ||
            cause == std::string::npos || cause < list)
            continue;
        const std::string named = line.substr(list + 1, cause - list - 1);
        for (size_t from = 0; from <= named.size();) {
            const size_t comma = std::min(named.find(", ", from), named.size());
            names.insert(named.substr(from, comma - from));
            from = comma + 2;
        }
    }
    return names;
}

// Whether the entry is as restored but for an owner the file system refused
// (kept as the restoring user's, without setuid and setgid bits), and a
// warning line names it: "NAME": warning: owner UID:GID not restored.
bool ownerOnlyRefused(const EntryState &got, const EntryState &restored, const std::string &err,
                      const std::string &name)
{
    EntryState same = got;
    same.mode = restored.mode;
    if (!(same == restored) || got.mode == restored.mode)
        return false;
    const auto bits = [](const std::string &mode) { return std::stoul(mode.substr(0, mode.find(' '))); };
    const unsigned long setId = S_ISUID | S_ISGID;
    if ((bits(got.mode) & ~setId) != (bits(restored.mode) & ~setId))
        return false;
    return err.find("\"" + kxsms::printable(name, kxsms::NameStyle::FileSystem) + "\": warning: owner ") !=
           std::string::npos;
}

// An entry's attribute text ("name=digest ...") without the named ones.
std::string withoutAttributes(const std::string &attributes, const std::set<std::string> &names)
{
    std::string kept;
    for (size_t from = 0; from < attributes.size();) {
        const size_t space = std::min(attributes.find(' ', from), attributes.size());
        const std::string one = attributes.substr(from, space - from);
        if (names.count(one.substr(0, one.find('='))) == 0)
            kept += (kept.empty() ? "" : " ") + one;
        from = space + 1;
    }
    return kept;
}

bool mentionsSanitizer(const std::string &err)
{
    return err.find("Sanitizer") != std::string::npos || err.find("runtime error:") != std::string::npos;
}

constexpr const char *c_Job = "job.kxa";
// What a backup finds under its archive's name before it runs: a job that
// ends without a whole archive must leave it so.
constexpr const char *c_OlderArchive = "an older archive of this name\n";

} // namespace

const char *scopeName(Scope scope)
{
    switch (scope) {
    case Scope::Tree:
        return "tree";
    case Scope::Archive:
        return "archive";
    case Scope::Store:
        return "store";
    }
    return "?";
}

const char *scenarioName(Scenario scenario)
{
    switch (scenario) {
    case Scenario::BackupFile:
        return "backup";
    case Scenario::BackupClear:
        return "backup_clear_archive";
    case Scenario::BackupIncremental:
        return "backup_incremental";
    case Scenario::RestoreTo:
        return "restore_to";
    case Scenario::RestoreInPlace:
        return "restore_in_place";
    case Scenario::RestoreChain:
        return "restore_chain";
    }
    return "?";
}

bool isBackup(Scenario scenario)
{
    return scenario == Scenario::BackupFile || scenario == Scenario::BackupClear ||
           scenario == Scenario::BackupIncremental;
}

bool clearsFlags(Scenario scenario)
{
    return scenario == Scenario::BackupClear || scenario == Scenario::BackupIncremental;
}

std::vector<CountedCall> readTrace(const fs::path &trace)
{
    // "call number result[ note] path": the path is the first word that starts with '/'.
    std::vector<CountedCall> calls;
    for (const std::string &line : testsupport::readLines(trace)) {
        const size_t space = line.find(' ');
        const size_t path = line.find(" /");
        if (space == std::string::npos || path == std::string::npos)
            continue;
        CountedCall call;
        call.call = line.substr(0, space);
        call.number = std::stoul(line.substr(space + 1));
        for (size_t i = path + 1; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                call.path += line[i + 1] == 'n' ? '\n' : line[i + 1];
                ++i;
            } else {
                call.path += line[i];
            }
        }
        calls.push_back(std::move(call));
    }
    return calls;
}

SweepJob::SweepJob(Scenario scenario)
    : scenario_(scenario), data_(dir_.path() / "data"), archives_(dir_.path() / "archives"),
      state_(dir_.path() / "state"), saved_(dir_.path() / "saved")
{
    fs::create_directories(data_);
    fs::create_directories(archives_);
    fs::create_directories(saved_);
    testsupport::useStandInConfig(dir_ / "smsemu.toml",
                                  testsupport::fileSystemTsaConfig(data_, state_ / "archive.sqlite"));
    makeTree(data_ / "src");

    const std::string full = (archives_ / "full.kxa").string();
    const std::string incremental = (archives_ / "inc.kxa").string();
    switch (scenario_) {
    case Scenario::BackupFile:
    case Scenario::BackupClear:
        break;
    case Scenario::BackupIncremental:
        runClean({"backup", "/src", "-f", full, "--clear-archive"}, "the full backup");
        afterTimesOf(data_ / "src");
        changeTree(data_ / "src");
        copyTree(state_, saved_ / "state");
        copyTree(dir_ / "chains", saved_ / "chains");
        break;
    // The archives restored hold their members in the order of one scan,
    // the same each run (which name of a hard link holds the data too).
    case Scenario::RestoreTo:
        runClean({"backup", "-j", "1", "/src", "-f", full}, "the backup");
        break;
    case Scenario::RestoreInPlace:
        runClean({"backup", "-j", "1", "/src", "-f", full}, "the backup");
        damageTree(data_ / "src");
        copyTree(data_ / "src", saved_ / "src");
        break;
    case Scenario::RestoreChain:
        runClean({"backup", "/src", "-f", full, "--clear-archive"}, "the full backup");
        afterTimesOf(data_ / "src");
        changeTree(data_ / "src");
        runClean({"backup", "/src", "-f", incremental, "--incremental", "--clear-archive"}, "the incremental backup");
        runClean({"restore", "-f", full, "--to", "/chain"}, "the restore of the full backup");
        copyTree(data_ / "chain", saved_ / "chain");
        break;
    }

    prepare();
    if (!isBackup(scenario_))
        beforeTarget_ = atDetail(describeTree(target()), Detail::Entry);
    if (clearsFlags(scenario_))
        flagsBefore_ = flags();
    for (Scope scope : {Scope::Tree, Scope::Archive, Scope::Store}) {
        prepare();
        const fs::path trace = dir_.path() / (std::string("trace-") + scopeName(scope));
        const std::string seam =
            "SYSFAULTS_PATHS=" + quote(pathsOf(scope)) + " SYSFAULTS_TRACE=" + quote(trace.string());
        const Outcome outcome = run(kxsmsCommand(arguments()), seam);
        if (outcome.status != 0)
            throw std::runtime_error(std::string(scenarioName(scenario_)) + " without faults: status " +
                                     std::to_string(outcome.status) + "\n" + outcome.err);
        calls_[scope] = readTrace(trace);
    }
    if (isBackup(scenario_)) {
        std::string problem;
        cleanMembers_ = members(archives_ / c_Job, problem);
        if (!problem.empty())
            throw std::runtime_error("the archive made without faults: " + problem);
    } else {
        const TreeDescription restored = describeTree(target());
        cleanTarget_ = atDetail(restored, wholeDetail());
        cleanEntries_ = atDetail(restored, Detail::Entry);
    }
}

SweepJob::~SweepJob()
{
    if (std::getenv("KXSMS_SYSCALL_SWEEP_KEEP") != nullptr)
        fprintf(stderr, "sweep: %s is kept in %s\n", scenarioName(scenario_), dir_.release().c_str());
}

// An in-place restore keeps directories that are not older than the
// archive's, and what it restores into them moves their times: the times of
// the run, which differ from run to run.
Detail SweepJob::wholeDetail() const
{
    return scenario_ == Scenario::RestoreInPlace ? Detail::NoDirectoryTimes : Detail::Whole;
}

std::vector<std::string> SweepJob::arguments() const
{
    const std::string job = (archives_ / c_Job).string();
    const std::string full = (archives_ / "full.kxa").string();
    switch (scenario_) {
    // A fault lands on the N-th call of its kind: with -x (as with
    // --clear-archive) one object scans, in the same order each run, and
    // the others read only the large files it hands them.
    case Scenario::BackupFile:
        return {"backup", "-x", "/src", "-f", job};
    case Scenario::BackupClear:
        return {"backup", "/src", "-f", job, "--clear-archive"};
    case Scenario::BackupIncremental:
        return {"backup", "/src", "-f", job, "--incremental", "--clear-archive"};
    // A fault lands on the N-th call of its kind, which must be the call the
    // run without faults made on the same data set: restores run with one
    // module object, whose calls come in the archive's order.
    case Scenario::RestoreTo:
        return {"restore", "-j", "1", "-f", full, "--to", "/out"};
    case Scenario::RestoreInPlace:
        return {"restore", "-j", "1", "-f", full, "--in-place"};
    case Scenario::RestoreChain:
        return {"restore", "-j", "1", "-f", full, "-f", (archives_ / "inc.kxa").string(), "--to", "/chain"};
    }
    return {};
}

fs::path SweepJob::target() const
{
    switch (scenario_) {
    case Scenario::RestoreTo:
        return data_ / "out";
    case Scenario::RestoreChain:
        return data_ / "chain";
    default:
        return data_ / "src";
    }
}

// What each run starts from.
void SweepJob::prepare()
{
    std::error_code ignored;
    fs::remove(archives_ / c_Job, ignored);
    if (isBackup(scenario_))
        testsupport::writeFile(archives_ / c_Job, c_OlderArchive);
    switch (scenario_) {
    case Scenario::BackupFile:
        break;
    case Scenario::BackupClear:
        fs::remove_all(state_, ignored);
        fs::remove_all(dir_ / "chains", ignored);
        break;
    case Scenario::BackupIncremental:
        copyTree(saved_ / "state", state_);
        copyTree(saved_ / "chains", dir_ / "chains");
        break;
    case Scenario::RestoreTo:
        fs::remove_all(data_ / "out", ignored);
        break;
    case Scenario::RestoreInPlace:
        copyTree(saved_ / "src", data_ / "src");
        break;
    case Scenario::RestoreChain:
        copyTree(saved_ / "chain", data_ / "chain");
        break;
    }
}

std::string SweepJob::pathsOf(Scope scope) const
{
    switch (scope) {
    case Scope::Tree:
        return data_.string();
    case Scope::Archive:
        return archives_.string();
    case Scope::Store:
        return state_.string();
    }
    return "";
}

std::string SweepJob::kxsmsCommand(const std::vector<std::string> &arguments) const
{
    std::string line = quote(KXSMS_BINARY);
    for (const std::string &argument : arguments)
        line += " " + quote(argument);
    return line;
}

Outcome SweepJob::run(const std::string &command, const std::string &seam) const
{
    const fs::path out = dir_.path() / "stdout", err = dir_.path() / "stderr";
    std::string line = "cd " + quote(dir_.path().string()) +
                       " && unset KXLIB_LOG SMSEMU_TRACE SMSEMU_FAULTS SYSFAULTS SYSFAULTS_PATHS SYSFAULTS_TRACE && "
                       "export KXSMS_PASSWORD= SMSEMU_CONFIG=" +
                       quote(dir_ / "smsemu.toml") +
                       // kxsms's record of clearing runs: the job's own, never
                       // the machine's, nor one another sweep shares.
                       " XDG_STATE_HOME=" + quote(dir_ / "chains") + " && ";
    if (!seam.empty())
        line += sysfaults::preloadAssignments(SYSFAULTS_LIBRARY) + " SYSFAULTS_PROGRAM=kxsms " + seam + " ";
    // A guard against a job that hangs, not a measure of time: 124 says it ran out.
    line += "timeout -k 10 600 " + command + " >" + quote(out.string()) + " 2>" + quote(err.string()) + " </dev/null";
    const int raw = system(("bash -c " + quote(line)).c_str());
    return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, testsupport::readFile(out), testsupport::readFile(err)};
}

void SweepJob::runClean(const std::vector<std::string> &arguments, const std::string &what)
{
    const Outcome outcome = run(kxsmsCommand(arguments), "");
    if (outcome.status != 0)
        throw std::runtime_error(what + ": status " + std::to_string(outcome.status) + "\n" + outcome.err);
}

FaultRun SweepJob::runWithFault(Scope scope, const CountedCall &call, const std::string &error)
{
    prepare();
    FaultRun run;
    run.settings = call.call + "@" + std::to_string(call.number) + "=" + error;
    run.command = kxsmsCommand(arguments());
    run.path = call.path;
    run.outcome = this->run(run.command, "SYSFAULTS_PATHS=" + quote(pathsOf(scope)) + " SYSFAULTS=" + run.settings);
    checkCommon(run);
    if (isBackup(scenario_))
        checkBackup(run);
    else
        checkRestore(run);
    return run;
}

void SweepJob::checkCommon(FaultRun &run) const
{
    const Outcome &outcome = run.outcome;
    if (outcome.status == 124 || outcome.status == 137)
        run.violations.push_back("the job hung (the guard ended it)");
    else if (outcome.status < 0 || outcome.status > 2)
        run.violations.push_back("the job ended with status " + std::to_string(outcome.status) + " (a crash?)");
    if (mentionsSanitizer(outcome.err))
        run.violations.push_back("a sanitizer reported a fault");
    if (outcome.err.find("sysfaults:") != std::string::npos)
        run.violations.push_back("the seam refused its setting");
    for (const std::string &temporary : tempFiles())
        run.violations.push_back("a temporary file was left: " + temporary);
}

std::vector<std::string> SweepJob::tempFiles() const
{
    std::vector<std::string> found;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(data_, error); !error && it != fs::end(it); it.increment(error))
        if (it->path().filename().string().rfind(".kxsms-", 0) == 0)
            found.push_back(it->path().string());
    for (const auto &entry : fs::directory_iterator(archives_, error))
        if (entry.path().extension() != ".kxa" || entry.path().filename().string().rfind(".kxsms-", 0) == 0)
            found.push_back(entry.path().string());
    return found;
}

std::map<std::string, SweepJob::Member> SweepJob::members(const fs::path &archive, std::string &problem) const
{
    std::map<std::string, Member> found;
    const int fd = open(archive.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        problem = "no archive";
        return found;
    }
    try {
        kxsms::FdInput raw(fd);
        kxsms::ArchiveInput input(raw, [&](const std::string &what) { problem += what + "; "; });
        kxsms::ArchiveReader reader(input, [&](const kxsms::ArchiveReader::Problem &p) { problem += p.what + "; "; });
        if (reader.open()) {
            kxsms::format::MemberDescriptor member;
            while (reader.nextMember(member)) {
                const unsigned char *block = nullptr;
                size_t size = 0;
                while (reader.readBlock(block, size)) {
                }
                const char *listing = member.listing == kxsms::format::Listing::Saved       ? "saved"
                                      : member.listing == kxsms::format::Listing::Unchanged ? "unchanged"
                                                                                            : "not saved";
                found[member.name] =
                    Member{listing, member.size, reader.memberState() == kxsms::ArchiveReader::MemberState::Intact};
            }
            if (!reader.endSeen())
                problem += "no end record; ";
        }
    } catch (const kxsms::IoError &e) {
        problem += std::string(e.what()) + "; no end record; ";
    }
    close(fd);
    return found;
}

std::map<std::string, bool> SweepJob::flags() const
{
    const Outcome listed = run(kxsmsCommand({"ls", "-r", "-l", "--json", "/src"}), "");
    std::map<std::string, bool> set;
    if (listed.status != 0)
        throw std::runtime_error("cannot list the archive flags: " + listed.err);
    for (const auto &entry : nlohmann::json::parse(listed.out)) {
        const std::string name =
            entry.contains("name_base64") ? base64Decoded(entry["name_base64"]) : entry["name"].get<std::string>();
        set[name] = entry["archive"].get<bool>();
    }
    return set;
}

std::string SweepJob::storeProblem() const
{
    const fs::path store = state_ / "archive.sqlite";
    if (!fs::exists(store))
        return "";
    sqlite3 *db = nullptr;
    std::string problem;
    if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        problem = "cannot open the state store: " + std::string(sqlite3_errmsg(db));
    } else {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) != SQLITE_OK ||
            sqlite3_step(statement) != SQLITE_ROW)
            problem = "cannot check the state store: " + std::string(sqlite3_errmsg(db));
        else if (const auto *text = sqlite3_column_text(statement, 0);
                 std::string(reinterpret_cast<const char *>(text)) != "ok")
            problem = "the state store is damaged: " + std::string(reinterpret_cast<const char *>(text));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return problem;
}

// An incremental backup that could not read the stream header of a data
// set it lists as unchanged saves the data set whole instead: more than
// needed, nothing lost.
bool SweepJob::savedInstead(const Member &clean, const Member &found) const
{
    return scenario_ == Scenario::BackupIncremental && clean.listing == "unchanged" && found.listing == "saved" &&
           found.complete;
}

void SweepJob::checkBackup(FaultRun &run) const
{
    // Under the archive's name: the older archive as it was, or the new
    // one whole with its end record (also after a job that stopped once it
    // was written, when its folder could not be made durable); never a
    // partial archive, nor none.
    const bool older = testsupport::readFile(archives_ / c_Job) == c_OlderArchive;
    std::string problem;
    const auto found = older ? std::map<std::string, Member>{} : members(archives_ / c_Job, problem);
    if (older && run.outcome.status != 2)
        run.violations.push_back("status " + std::to_string(run.outcome.status) +
                                 ", but the archive was not written: the older one is still there");
    if (!older && (problem.find("no end record") != std::string::npos || problem == "no archive"))
        run.violations.push_back("a partial archive took the archive's name: " + problem);
    if (run.outcome.status == 0) {
        if (!problem.empty())
            run.violations.push_back("exit 0, but the archive has problems: " + problem);
        for (const auto &[name, member] : cleanMembers_) {
            const auto it = found.find(name);
            if (it == found.end())
                run.violations.push_back("exit 0, but the archive does not list " + name);
            else if (!(it->second == member) && !savedInstead(member, it->second))
                run.violations.push_back("exit 0, but the archive holds " + name + " otherwise (" + it->second.listing +
                                         ", " + (it->second.complete ? "complete" : "incomplete") + ")");
        }
    }
    // A data set the job could not even describe (a socket whose look
    // failed) is listed as not saved: that names it, it does not claim it.
    for (const auto &[name, member] : found)
        if (cleanMembers_.count(name) == 0 && member.listing != "not saved")
            run.violations.push_back("the archive lists " + name + ", which the job without faults did not");
    if (!clearsFlags(scenario_))
        return;
    if (const std::string store = storeProblem(); !store.empty())
        run.violations.push_back(store);
    std::map<std::string, bool> now;
    try {
        now = flags();
    } catch (const std::exception &e) {
        run.violations.push_back(std::string("the state store cannot be read after the job: ") + e.what());
        return;
    }
    for (const auto &[name, set] : now) {
        if (set)
            continue;
        const auto it = found.find(name);
        const bool complete = it != found.end() && it->second.complete && it->second.listing == "saved";
        const auto before = flagsBefore_.find(name);
        const bool clearBefore = before != flagsBefore_.end() && !before->second;
        if (!complete && !clearBefore)
            run.violations.push_back("the archive flag of " + name +
                                     " was cleared, but the archive does not hold it complete");
    }
    if (run.outcome.status == 0)
        for (const auto &[name, member] : found)
            if (member.listing == "saved" && now.count(name) != 0 && now.at(name))
                run.violations.push_back("exit 0, but the archive flag of " + name + " stays set");
}

void SweepJob::checkRestore(FaultRun &run) const
{
    TreeDescription now = describeTree(target());
    const bool failed = run.outcome.status != 0;
    const std::string restoredBelow = "/" + target().lexically_relative(data_).string() + "/";
    // An owner the file system refuses is warned of and passed over: the
    // entry counts as restored.
    if (run.settings.rfind("fchownat@", 0) == 0)
        for (auto &[name, entry] : now)
            if (const auto clean = cleanEntries_.find(name);
                clean != cleanEntries_.end() &&
                ownerOnlyRefused(atDetail({{name, entry}}, Detail::Entry).at(name), clean->second, run.outcome.err,
                                 restoredBelow + name)) {
                entry.mode = clean->second.mode;
            }
    if (!failed && atDetail(now, wholeDetail()) != cleanTarget_)
        run.violations.push_back("exit 0, but the tree is not as restored: " +
                                 firstDifference(atDetail(now, wholeDetail()), cleanTarget_));
    // Whatever failed, each entry is as it was or as the restore makes it:
    // never half written, never removed unless the restore removes it. A
    // failed job may leave a directory it made for what goes below it; when
    // the attribute call fails, a data set whose data is in place and that
    // lacks exactly the attributes its failure line names.
    const bool attributeRow = failed && run.settings.rfind("fsetxattr@", 0) == 0;
    for (const auto &[name, entry] : atDetail(now, Detail::Entry)) {
        const auto before = beforeTarget_.find(name);
        const auto clean = cleanEntries_.find(name);
        if ((before != beforeTarget_.end() && before->second == entry) ||
            (clean != cleanEntries_.end() && clean->second == entry))
            continue;
        if (failed && entry.directory && before == beforeTarget_.end())
            continue;
        if (attributeRow && clean != cleanEntries_.end()) {
            EntryState without = clean->second;
            without.attributes = withoutAttributes(
                without.attributes, attributesNotSet(run.outcome.err, restoredBelow + name));
            if (without.attributes != clean->second.attributes && without == entry)
                continue;
        }
        run.violations.push_back(name + " is neither as it was nor as restored: " + describe(entry) + " (restored: " +
                                 (clean != cleanEntries_.end() ? describe(clean->second) : "none") + ")");
    }
    for (const auto &[name, entry] : beforeTarget_)
        if (now.count(name) == 0 && cleanEntries_.count(name) != 0)
            run.violations.push_back(name + " was removed");
}

bool SweepJob::namesFileOf(const std::string &err, const std::string &path) const
{
    std::vector<std::string> wanted;
    auto add = [&](const std::string &one) {
        if (one.rfind(archives_.string(), 0) == 0) {
            wanted.push_back(one);
            // The archive being written is named by the name it will take.
            const std::string leaf = fs::path(one).filename().string();
            if (leaf.rfind(".kxsms-partial-", 0) == 0 && leaf.size() > 24)
                wanted.push_back((fs::path(one).parent_path() / leaf.substr(24)).string());
            wanted.push_back("the archive");
            return;
        }
        if (one.rfind(state_.string(), 0) == 0) {
            wanted.push_back("archive state");
            wanted.push_back("archive flags");
            return;
        }
        if (one.rfind(data_.string(), 0) != 0)
            return;
        std::string name = one.substr(data_.string().size());
        if (name.empty())
            name = "/";
        fs::path tsa(name);
        // A temporary file, named or unnamed (the system shows an unnamed
        // one as "#<inode> (deleted)"), is named by the data set it was for:
        // one in its folder.
        const std::string leaf = tsa.filename().string();
        const bool unnamed = leaf.size() > 11 && leaf[0] == '#' && leaf.ends_with(" (deleted)");
        if (leaf.rfind(".kxsms-", 0) == 0 || unnamed)
            wanted.push_back(kxsms::printable(tsa.parent_path().string() + "/", kxsms::NameStyle::FileSystem));
        else
            wanted.push_back(kxsms::printable(name, kxsms::NameStyle::FileSystem));
    };
    const size_t arrow = path.find(" -> ");
    add(path.substr(0, arrow));
    if (arrow != std::string::npos)
        add(path.substr(arrow + 4));
    for (const std::string &name : wanted)
        if (err.find(name) != std::string::npos)
            return true;
    // A child of the file (a directory whose listing or descriptor failed) is named too.
    return false;
}

} // namespace sweep
