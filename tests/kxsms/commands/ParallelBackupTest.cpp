// kxsms backup with one module object and with several (-j 1, -j 4): the
// same archive, whatever N, on a tree of many small files, hard links across
// directories, deep read-only directories and a large file among the small.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

#include <sys/stat.h>

#include "Preload.h"
#include "commands/KxsmsProgram.h"

namespace {

using namespace kxsms_test;

// Files the scan gives as at least this large go to the reading objects;
// smaller ones the scanning object saves itself.
constexpr size_t c_HandedOverFrom = 256 * 1024;

// Inode numbers of the files below root, grouped: names of one inode together.
std::set<std::set<std::string>> linkGroups(const fs::path &root)
{
    std::map<ino_t, std::set<std::string>> byInode;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        struct stat st;
        if (lstat(entry.path().c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink > 1)
            byInode[st.st_ino].insert(fs::relative(entry.path(), root).string());
    }
    std::set<std::set<std::string>> groups;
    for (auto &[inode, names] : byInode)
        groups.insert(names);
    return groups;
}

class ParallelBackup : public KxsmsProgram {
protected:
    void SetUp() override
    {
        KxsmsProgram::SetUp();
        const fs::path tree = data_ / "tree";
        for (int d = 0; d < 20; ++d)
            for (int f = 0; f < 100; ++f)
                writeFile(tree / ("small/d" + std::to_string(d) + "/f" + std::to_string(f)),
                          std::string(static_cast<size_t>(f * 13 % 700), static_cast<char>('a' + d)));
        // A large file among the small ones, larger than what a reader holds.
        std::string large(5u << 20, '\0');
        for (size_t i = 0; i < large.size(); ++i)
            large[i] = static_cast<char>(i * 31 / 4096);
        writeFile(tree / "small/d7/large", large);
        // Hard links across directories, the first name scanned late.
        fs::create_directories(tree / "z/links");
        fs::create_hard_link(tree / "small/d3/f5", tree / "z/links/f5-again");
        fs::create_hard_link(tree / "small/d3/f5", tree / "a-first-link");
        fs::create_hard_link(tree / "small/d7/large", tree / "z/large-again");
        // Deep directories without write permission.
        fs::create_directories(tree / "ro/one/two/three");
        writeFile(tree / "ro/one/two/three/inside", "deep\n");
        for (const char *dir : {"ro/one/two/three", "ro/one/two", "ro/one", "ro"})
            fs::permissions(tree / dir, fs::perms(0555));
    }

    void TearDown() override
    {
        for (const fs::path &root : {data_ / "tree", data_ / "r"})
            if (fs::exists(root))
                for (const auto &entry : fs::recursive_directory_iterator(root))
                    if (entry.is_directory() && !entry.is_symlink())
                        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
        KxsmsProgram::TearDown();
    }

    static std::string jobs(unsigned count) { return " -j " + std::to_string(count) + " "; }

    void expectRestoredWhole(const Result &result)
    {
        ASSERT_EQ(result.status, 0) << context(result);
        EXPECT_EQ(describeTree(data_ / "r/tree"), describeTree(data_ / "tree"));
        EXPECT_EQ(linkGroups(data_ / "r/tree"), linkGroups(data_ / "tree"));
        EXPECT_EQ(linkGroups(data_ / "tree").size(), 2u);
    }
};

struct Way {
    const char *name;
    // $J is the backup's job count; the restore reads the archive with one.
    const char *commandLine;
};

class ParallelWays : public ParallelBackup, public ::testing::WithParamInterface<std::tuple<Way, unsigned>> {};

TEST_P(ParallelWays, RestoredTreeEqualsTheOriginal)
{
    const auto &[way, count] = GetParam();
    const Result result = sh("export KXSMS_PASSPHRASE=secret J='" + jobs(count) + "'; " + way.commandLine);
    expectRestoredWhole(result);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ParallelWays,
    ::testing::Combine(
        ::testing::Values(
            Way{"file", "$KXSMS backup $J /tree -f a.kxa && $KXSMS restore -f a.kxa --to /r"},
            Way{"pipe", "set -o pipefail; $KXSMS backup $J /tree -f - | $KXSMS restore -f - --to /r"},
            Way{"zstd_pipe", "set -o pipefail; $KXSMS backup $J /tree --zstd -f - | $KXSMS restore -f - --to /r"},
            Way{"encrypted", "$KXSMS backup $J /tree --encrypt -f a.kxa && $KXSMS restore -f a.kxa --to /r"},
            Way{"two_paths", "$KXSMS backup $J /tree/small /tree -f a.kxa && $KXSMS restore -f a.kxa --to /r"}),
        ::testing::Values(1u, 4u)),
    [](const auto &tested) {
        return std::string(std::get<0>(tested.param).name) + "_j" + std::to_string(std::get<1>(tested.param));
    });

// The names of a listing in its order, each with what it links to (empty
// for a member that holds its data).
std::vector<std::pair<std::string, std::string>> membersOf(const std::string &listing)
{
    std::vector<std::pair<std::string, std::string>> members;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string field, name;
        for (int i = 0; i < 5 && fields >> field; ++i) {
        }
        std::getline(fields >> std::ws, name);
        const size_t link = name.find(" link to ");
        if (link == std::string::npos)
            members.emplace_back(name, "");
        else
            members.emplace_back(name.substr(0, link), name.substr(link + 9));
    }
    return members;
}

// Whatever N, the archive holds the same names, each directory before what
// it holds and each link after the name it links to; -j 1 and the file
// system's order aside, only the order of unrelated members differs. With
// several objects every one scans, or (-x, --clear-archive) only the first.
TEST_F(ParallelBackup, ArchivesOfOneAndOfFourObjectsHoldTheSameInAnOrderReadersNeed)
{
    ASSERT_EQ(kxsms({"backup", "-j", "1", "/tree", "-f", "1.kxa"}).status, 0);
    const auto one = membersOf(kxsms({"list", "-f", "1.kxa"}).out);
    for (const char *how : {"", "-x"}) {
        SCOPED_TRACE(how);
        const Result four = sh(std::string("$KXSMS backup -j 4 ") + how + " /tree -f 4.kxa");
        ASSERT_EQ(four.status, 0) << context(four);
        EXPECT_NE(four.err.find("2042 data sets, 0 failed"), std::string::npos) << four.err;
        EXPECT_EQ(kxsms({"verify", "-f", "4.kxa"}).status, 0);
        const auto members = membersOf(kxsms({"list", "-f", "4.kxa"}).out);
        std::set<std::string> seen, names, namesOfOne;
        for (const auto &[name, target] : members) {
            const std::string parent = name.substr(0, name.rfind('/'));
            if (name != "/tree") {
                EXPECT_TRUE(seen.count(parent)) << name << " before its directory";
            }
            if (!target.empty()) {
                EXPECT_TRUE(seen.count(target)) << name << " before " << target;
            }
            seen.insert(name);
            names.insert(name);
        }
        for (const auto &member : one)
            namesOfOne.insert(member.first);
        EXPECT_EQ(names, namesOfOne);
        EXPECT_EQ(members.size(), one.size());
    }
}

struct Excluding {
    const char *name;
    std::vector<std::string> excludes;
    std::vector<std::string> absent, present; // below /tree
};

class ParallelExcludes : public ParallelBackup, public ::testing::WithParamInterface<Excluding> {};

TEST_P(ParallelExcludes, LeaveOutWhatTheyName)
{
    std::vector<std::string> arguments = {"backup", "-j", "4", "/tree", "-f", "a.kxa"};
    for (const std::string &exclude : GetParam().excludes)
        arguments.insert(arguments.end(), {"--exclude", exclude});
    ASSERT_EQ(kxsms(arguments).status, 0);
    const std::vector<std::string> names = archivedNames("a.kxa");
    const std::set<std::string> archived(names.begin(), names.end());
    for (const std::string &name : GetParam().absent)
        EXPECT_EQ(archived.count("/tree/" + name), 0u) << name;
    for (const std::string &name : GetParam().present)
        EXPECT_EQ(archived.count("/tree/" + name), 1u) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, ParallelExcludes,
    ::testing::Values(Excluding{"exact", {"/tree/small/d3"}, {"small/d3", "small/d3/f5"}, {"small/d4/f5", "z/links/f5-again"}},
                      Excluding{"pattern", {"f1*"}, {"small/d0/f1", "small/d9/f19"}, {"small/d0/f2", "small/d7/large"}}),
    [](const ::testing::TestParamInfo<Excluding> &tested) { return std::string(tested.param.name); });

// A fault in one open fails that data set alone: it is named, the others
// are saved, and the exit status is 1.
TEST_F(ParallelBackup, AFailedOpenFailsOnlyItsDataSet)
{
    const Result r = sh("SMSEMU_FAULTS=NWSMTSOpenDataSetForBackup@300=0xFFFDFFF5 $KXSMS backup -j 4 /tree -f a.kxa");
    EXPECT_EQ(r.status, 1) << context(r);
    size_t lines = 0;
    for (size_t at = r.err.find("kxsms: cannot back up "); at != std::string::npos;
         at = r.err.find("kxsms: cannot back up ", at + 1))
        ++lines;
    EXPECT_EQ(lines, 1u) << r.err;
    EXPECT_NE(r.err.find("(Data set is currently in use)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2041 data sets, 1 failed"), std::string::npos) << r.err;
    EXPECT_EQ(kxsms({"verify", "-f", "a.kxa"}).status, 0);
}

// An archive that cannot be written, early or late, whichever object is
// writing: the job ends with the cause, exit 2, and leaves no archive (nor
// waits for ever on an object that holds blocks).
TEST_F(ParallelBackup, AnArchiveThatCannotBeWrittenEndsTheJobWithItsCause)
{
    fs::create_directories(dir_ / "arch");
    const std::string seam = sysfaults::preloadAssignments(SYSFAULTS_LIBRARY) +
                             " SYSFAULTS_PROGRAM=kxsms SYSFAULTS_PATHS=" + (dir_ / "arch").string();
    for (const char *fault : {"writev@1=ENOSPC", "writev@8=EIO", "writev@18=ENOSPC"})
        for (const unsigned count : {1u, 4u}) {
            SCOPED_TRACE(std::string(fault) + jobs(count));
            const Result r = sh(seam + " SYSFAULTS=" + fault + " $KXSMS backup" + jobs(count) + "/tree -f arch/a.kxa");
            EXPECT_EQ(r.status, 2) << context(r);
            EXPECT_NE(r.err.find(std::string(fault).find("EIO") != std::string::npos ? "Input/output error"
                                                                                      : "No space left on device"),
                      std::string::npos)
                << r.err;
            EXPECT_TRUE(fs::is_empty(dir_ / "arch")) << "no archive, no temporary file";
        }
}

// A signal while the archive's reader stalls (a fixed point: the pipe is
// full): the end record is written, the exit is 128 + the signal, and what
// the archive holds restores.
class ParallelSignals : public ParallelBackup, public ::testing::WithParamInterface<std::tuple<const char *, int>> {};

TEST_P(ParallelSignals, EndTheArchiveCleanly)
{
    const auto &[signal, status] = GetParam();
    const Result r = sh(std::string("set -o pipefail; { $KXSMS backup -j 4 /tree -f - & echo $! >pid; wait $!; } | "
                                    "{ dd bs=65536 count=25 iflag=fullblock of=a.kxa 2>/dev/null; touch read; "
                                    "while [ ! -e signalled ]; do sleep 0.01; done; cat >>a.kxa; } & reader=$!; "
                                    "while [ ! -e read ]; do sleep 0.01; done; kill -") +
                        signal + " $(cat pid); touch signalled; wait $reader");
    EXPECT_EQ(r.status, status) << context(r);
    EXPECT_NE(r.err.find(std::string("SIG") + signal), std::string::npos) << r.err;
    const Result verified = kxsms({"verify", "-f", "a.kxa"});
    EXPECT_NE(verified.err.find("interrupted"), std::string::npos) << verified.err;
    EXPECT_EQ(verified.err.find("truncated"), std::string::npos) << "the end record is there\n" << verified.err;
    const Result restored = kxsms({"restore", "-f", "a.kxa", "--to", "/r"});
    EXPECT_TRUE(fs::exists(data_ / "r/tree/a.txt")) << context(restored);
}

INSTANTIATE_TEST_SUITE_P(Signals, ParallelSignals,
                         ::testing::Values(std::make_tuple("INT", 130), std::make_tuple("TERM", 143)),
                         [](const auto &tested) { return std::string(std::get<0>(tested.param)); });

// Members of an incremental archive other than directories: the names
// listed unchanged, and those saved.
// "N data sets, M failed, X of file data" of a command's summary line.
std::string countsOf(const std::string &command, const std::string &err)
{
    std::smatch m;
    const std::regex line(command + ": ([0-9]+ data sets?, [0-9]+ failed, [^,]+ of file data)");
    return std::regex_search(err, m, line) ? m[1].str() : "no summary";
}

std::pair<std::set<std::string>, std::set<std::string>> unchangedAndSaved(const std::string &listing)
{
    std::set<std::string> saved, unchanged;
    for (const json &member : json::parse(listing)) {
        if (member["kind"] == "d")
            continue;
        (member["unchanged"] == true ? unchanged : saved).insert(member["name"].get<std::string>());
    }
    return {unchanged, saved};
}

// An incremental backup with several objects lists what is unchanged
// (each header read by a reader) and saves what changed, after a full
// backup that cleared the flags with one object or with four.
class ParallelClearing : public ParallelBackup, public ::testing::WithParamInterface<unsigned> {};

TEST_P(ParallelClearing, IncrementalListsTheUnchangedAndSavesTheChanged)
{
    const Result full = kxsms({"backup", "-j", std::to_string(GetParam()), "/tree", "--clear-archive", "-f", "full.kxa"});
    ASSERT_EQ(full.status, 0) << context(full);
    EXPECT_EQ(full.err.find("note:"), std::string::npos) << full.err;
    writeFile(data_ / "tree/small/d2/f9", "changed\n");
    const Result inc = kxsms({"backup", "-j", "4", "/tree", "--incremental", "-f", "inc.kxa"});
    ASSERT_EQ(inc.status, 0) << context(inc);
    const Result listed = kxsms({"list", "-f", "inc.kxa", "--json"});
    const auto [unchanged, saved] = unchangedAndSaved(listed.out);
    EXPECT_EQ(saved.count("/tree/small/d2/f9"), 1u) << listed.out.substr(0, 2000);
    EXPECT_LE(saved.size(), 1u) << listed.out.substr(0, 2000);
    EXPECT_GT(unchanged.size(), 2000u) << listed.out.substr(0, 2000);
}

// A signal mid-way clears no flag with several objects: what the readers
// read ahead of the archive may be in no archive.
TEST_P(ParallelClearing, ASignalMidWayClearsNoFlag)
{
    const Result r = sh("set -o pipefail; { $KXSMS backup -j " + std::to_string(GetParam()) +
                        " /tree --clear-archive -f - & echo $! >pid; wait $!; } | "
                        "{ dd bs=65536 count=25 iflag=fullblock of=a.kxa 2>/dev/null; touch read; "
                        "while [ ! -e signalled ]; do sleep 0.01; done; cat >>a.kxa; } & reader=$!; "
                        "while [ ! -e read ]; do sleep 0.01; done; kill -INT $(cat pid); touch signalled; "
                        "wait $reader");
    EXPECT_EQ(r.status, 130) << context(r);
    // A member cut short is named, and counted as failed in the summary.
    // The backup counts what verify finds in its archive: the member cut
    // short as failed, not as saved, and none of its data as file data.
    if (r.err.find("stopped inside ") != std::string::npos) {
        EXPECT_EQ(r.err.find(", 0 failed"), std::string::npos) << r.err;
        const Result verified = kxsms({"verify", "-f", "a.kxa"});
        EXPECT_EQ(verified.status, 1) << context(verified);
        EXPECT_EQ(countsOf("backup", r.err), countsOf("verify", verified.err)) << r.err << verified.err;
    }
    const Result inc = kxsms({"backup", "-j", "1", "/tree", "--incremental", "-f", "inc.kxa"});
    ASSERT_EQ(inc.status, 0) << context(inc);
    const auto [unchanged, saved] = unchangedAndSaved(kxsms({"list", "-f", "inc.kxa", "--json"}).out);
    // The interrupted archive lists (exit 1, for the member cut short).
    std::set<std::string> before;
    for (const json &member : json::parse(kxsms({"list", "-f", "a.kxa", "--json"}).out))
        before.insert(member["name"].get<std::string>());
    EXPECT_FALSE(before.empty());
    EXPECT_GT(saved.size(), 0u);
    if (GetParam() > 1) {
        EXPECT_EQ(unchanged, std::set<std::string>{});
    }
    // One object clears what is whole in the archive, no more.
    for (const std::string &name : unchanged)
        EXPECT_EQ(before.count(name), 1u) << name;
}

INSTANTIATE_TEST_SUITE_P(Jobs, ParallelClearing, ::testing::Values(1u, 4u),
                         [](const auto &tested) { return "j" + std::to_string(tested.param); });

// A fault in one reader's connection (the second object's: it saves the
// large files with several names; small ones stay with the scan's) fails
// only what that reader saves: each is named with its cause, the others are
// saved and restore identical. (-x keeps the scan to the first object.)
TEST_F(ParallelBackup, AFaultInOneConnectionFailsOnlyThatReadersDataSets)
{
    // One more large file with two names, and one just below the size the
    // scan hands over, with two names too (the scan's connection saves it).
    writeFile(data_ / "tree/small/d12/big", std::string(c_HandedOverFrom, 'b'));
    fs::create_hard_link(data_ / "tree/small/d12/big", data_ / "tree/z/links/big-again");
    writeFile(data_ / "tree/small/d12/edge", std::string(c_HandedOverFrom - 1, 'e'));
    fs::create_hard_link(data_ / "tree/small/d12/edge", data_ / "tree/z/links/edge-again");
    const Result r = sh("SMSEMU_FAULTS='NWSMTSReadDataSet#2@*=0xFFFDFFC6' $KXSMS backup -j 4 -x /tree -f a.kxa");
    EXPECT_EQ(r.status, 1) << context(r);
    const std::set<std::string> linked = {"/tree/small/d7/large", "/tree/z/large-again", "/tree/small/d12/big",
                                          "/tree/z/links/big-again"};
    std::set<std::string> failed;
    const std::string cause = ": Failed to backup data (Error reading the file)";
    for (size_t at = r.err.find("kxsms: cannot read "); at != std::string::npos;
         at = r.err.find("kxsms: cannot read ", at + 1)) {
        const size_t start = at + std::string("kxsms: cannot read ").size();
        const size_t end = r.err.find(cause, start);
        ASSERT_NE(end, std::string::npos) << r.err;
        failed.insert(r.err.substr(start, end - start));
    }
    EXPECT_EQ(failed, linked) << r.err;
    EXPECT_NE(r.err.find(", 4 failed"), std::string::npos) << r.err;
    const Result restored = kxsms({"restore", "-j", "1", "-f", "a.kxa", "--to", "/r"});
    for (const auto &entry : fs::recursive_directory_iterator(data_ / "tree")) {
        const std::string name = "/tree/" + fs::relative(entry.path(), data_ / "tree").string();
        if (!entry.is_regular_file() || linked.count(name) != 0)
            continue;
        EXPECT_EQ(readFile(data_ / "r" / name.substr(1)), readFile(entry.path())) << name;
    }
}

// Which connections open the data sets: the scanning object (the one that
// opens the most) saves every small file where its scan stands; the readers
// open only the large file's two names, each at most twice (a reader that
// meets a file with several names hands it to the link reader). (-x keeps
// the scan to the first object.)
TEST_F(ParallelBackup, ReadersOpenOnlyTheLargeFiles)
{
    const Result r = sh("SMSEMU_TRACE=$PWD/trace $KXSMS backup -j 4 -x /tree -f a.kxa");
    ASSERT_EQ(r.status, 0) << context(r);
    std::map<std::string, size_t> opens; // by connection
    std::istringstream trace(readFile(dir_ / "trace"));
    const std::string call = "NWSMTSOpenDataSetForBackup(";
    for (std::string line; std::getline(trace, line);)
        if (line.rfind(call, 0) == 0)
            ++opens[line.substr(call.size(), line.find(',') - call.size())];
    ASSERT_GE(opens.size(), 2u) << readFile(dir_ / "trace").substr(0, 2000);
    size_t most = 0, total = 0;
    for (const auto &[connection, count] : opens) {
        most = std::max(most, count);
        total += count;
    }
    EXPECT_GE(most, 2000u);
    EXPECT_GE(total - most, 2u);
    EXPECT_LE(total - most, 4u);
}

// Every object scans: a fault in the second one's reads fails what it
// reads, each named with its cause and counted; all else restores identical.
TEST_F(ParallelBackup, AFaultInOneScanningConnectionFailsOnlyItsDataSets)
{
    const Result r = sh("SMSEMU_FAULTS='NWSMTSReadDataSet#2@*=0xFFFDFFC6' $KXSMS backup -j 4 /tree -f a.kxa");
    EXPECT_EQ(r.status, 1) << context(r);
    std::set<std::string> failed;
    const std::string lead = "kxsms: cannot read ", cause = ": Failed to backup data (Error reading the file)";
    for (size_t at = r.err.find(lead); at != std::string::npos; at = r.err.find(lead, at + 1)) {
        const size_t end = r.err.find(cause, at);
        ASSERT_NE(end, std::string::npos) << r.err;
        failed.insert(r.err.substr(at + lead.size(), end - at - lead.size()));
    }
    ASSERT_FALSE(failed.empty()) << r.err;
    EXPECT_NE(r.err.find(", " + std::to_string(failed.size()) + " failed"), std::string::npos) << r.err;
    // The members of what failed are marked incomplete: the restore names them.
    const Result restored = kxsms({"restore", "-j", "1", "-f", "a.kxa", "--to", "/r"});
    EXPECT_EQ(restored.status, 1) << context(restored);
    for (const auto &entry : fs::recursive_directory_iterator(data_ / "tree")) {
        const std::string name = "/tree/" + fs::relative(entry.path(), data_ / "tree").string();
        if (entry.is_regular_file() && failed.count(name) == 0) {
            EXPECT_EQ(readFile(data_ / "r" / name.substr(1)), readFile(entry.path()))
                << name << "\n" << r.err << restored.err;
        }
    }
}

// A directory of more directories than the scans queue in memory, each with
// a name of one file: every name is saved (the inode's data once) and
// restores linked, whether the queues' overflow goes to a temporary file,
// finds no folder for one, or cannot write it.
TEST_F(ParallelBackup, ManyDirectoriesAndNamesOfOneFileAreAllSaved)
{
    const fs::path wide = data_ / "wide";
    writeFile(wide / "first", "one inode\n");
    for (int d = 0; d < 4500; ++d) {
        fs::create_directories(wide / ("d" + std::to_string(d)));
        fs::create_hard_link(wide / "first", wide / ("d" + std::to_string(d)) / "name");
    }
    fs::create_directories(dir_ / "spill");
    struct Spill {
        const char *name;
        std::string environment;
    };
    const std::string seam = sysfaults::preloadAssignments(SYSFAULTS_LIBRARY) +
                             " SYSFAULTS_PROGRAM=kxsms SYSFAULTS_PATHS=" + (dir_ / "spill").string();
    for (const Spill &way :
         {Spill{"spilled", "TMPDIR=" + (dir_ / "spill").string()},
          Spill{"no_folder", "TMPDIR=" + (dir_ / "none").string()},
          Spill{"unwritable", "TMPDIR=" + (dir_ / "spill").string() + " " + seam + " SYSFAULTS=pwrite@*=ENOSPC"}}) {
        SCOPED_TRACE(way.name);
        removeTree(data_ / "r");
        const Result r = sh(way.environment + " $KXSMS backup -j 4 /wide -f a.kxa");
        ASSERT_EQ(r.status, 0) << context(r);
        EXPECT_NE(r.err.find("9002 data sets, 0 failed"), std::string::npos) << r.err;
        size_t data = 0;
        for (const auto &[name, target] : membersOf(kxsms({"list", "-f", "a.kxa"}).out))
            data += target.empty() && (name.find("/name") != std::string::npos || name == "/wide/first");
        const Result restored = kxsms({"restore", "-j", "1", "-f", "a.kxa", "--to", "/r"});
        ASSERT_EQ(restored.status, 0) << context(restored);
        struct stat st;
        ASSERT_EQ(stat((data_ / "r/wide/first").c_str(), &st), 0);
        EXPECT_EQ(st.st_nlink, 4501u);
        EXPECT_EQ(data, 1u);
    }
}

TEST_F(ParallelBackup, JobCountsOutOfRangeAreRefused)
{
    for (const char *count : {"0", "65", "x", "-1"}) {
        const Result r = kxsms({"backup", "-j", count, "/tree", "-f", "a.kxa"});
        EXPECT_EQ(r.status, 2) << count << "\n" << context(r);
        EXPECT_NE(r.err.find("--jobs takes a whole number from 1 to 64"), std::string::npos) << r.err;
    }
    // -n reads nothing: the scan alone, whatever -j says, without a note.
    const Result dry = kxsms({"backup", "-j", "4", "/tree", "-n"});
    EXPECT_EQ(dry.status, 0) << context(dry);
    EXPECT_EQ(dry.err.find("note:"), std::string::npos) << dry.err;
}

} // namespace
