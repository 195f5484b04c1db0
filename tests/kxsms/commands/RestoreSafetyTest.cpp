// kxsms end to end: where a restore writes, what it keeps, what a signal
// leaves behind, and dry runs that change nothing.
#include <set>

#include "commands/KxsmsProgram.h"

namespace {

using namespace kxsms_test;

TEST_F(KxsmsProgram, RestoreRefusesWithoutAPlace)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    writeFile(data_ / "tree/a.txt", "edited\n");
    const Result r = kxsms({"restore", "-f", "a.kxa"});
    EXPECT_EQ(r.status, 2) << context(r);
    EXPECT_NE(r.err.find("--to DIR"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--in-place"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(data_ / "tree/a.txt"), "edited\n");
    const Result both = kxsms({"restore", "-f", "a.kxa", "--to", "/r", "--in-place"});
    EXPECT_EQ(both.status, 2) << context(both);
    const Result file = kxsms({"restore", "-f", "a.kxa", "--to", "/tree/a.txt"});
    EXPECT_EQ(file.status, 2) << context(file);
    EXPECT_NE(file.err.find("--to /tree/a.txt: not a directory"), std::string::npos) << file.err;
    EXPECT_EQ(readFile(data_ / "tree/a.txt"), "edited\n");
}

TEST_F(KxsmsProgram, InPlaceKeepsANewerEditAndSaysSo)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    writeFile(data_ / "tree/a.txt", "edited after the backup\n");
    fs::remove(data_ / "tree/sub/deeper/c.txt");
    const Result r = kxsms({"restore", "-f", "a.kxa", "--in-place"});
    EXPECT_EQ(r.status, 0) << context(r);
    EXPECT_EQ(readFile(data_ / "tree/a.txt"), "edited after the backup\n");
    EXPECT_EQ(readFile(data_ / "tree/sub/deeper/c.txt"), "gamma\n");
    EXPECT_NE(r.err.find("kept /tree/a.txt"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" kept"), std::string::npos) << "the summary counts what was kept";

    // --to replaces what is there, as tar does.
    writeFile(data_ / "r/tree/a.txt", "old copy\n");
    const Result to = kxsms({"restore", "-f", "a.kxa", "--to", "/r"});
    EXPECT_EQ(to.status, 0) << context(to);
    EXPECT_EQ(readFile(data_ / "r/tree/a.txt"), "alpha\n");
}

// The archive reaches kxsms through a FIFO that stops in the middle of the
// large member (and stays open), so the signal comes while that member is
// being written, however long kxsms takes to get there.
TEST_F(KxsmsProgram, SignalDuringRestoreLeavesNoTemporaryFileAndTheOldContent)
{
    writeFile(data_ / "tree/large.bin", bigContent(3u << 20));
    ASSERT_EQ(kxsms({"backup", "/tree/large.bin", "-f", "a.kxa"}).status, 0);
    writeFile(data_ / "r/tree/large.bin", "the old content\n");
    for (const auto &[signal, status] :
         std::vector<std::pair<std::string, int>>{{"INT", 130}, {"TERM", 143}, {"HUP", 129}}) {
        const Result r = sh("mkfifo p; (head -c 1500000 a.kxa; exec sleep 3600) >p & feeder=$!; "
                            "$KXSMS restore -f p --to /r & job=$!; "
                            "while kill -0 $job 2>/dev/null && ! ls data/r/tree/.kxsms-restore-* >/dev/null 2>&1; "
                            "do sleep 0.02; done; "
                            "kill -" +
                            signal + " $job; wait $job; status=$?; kill $feeder; rm -f p; exit $status");
        EXPECT_EQ(r.status, status) << signal << "\n" << context(r);
        EXPECT_NE(r.err.find("abandoned /r/tree/large.bin"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("restore: 0 data sets"), std::string::npos) << "the summary so far\n" << r.err;
        EXPECT_EQ(temporaryFiles(data_ / "r"), std::set<std::string>{});
        EXPECT_EQ(readFile(data_ / "r/tree/large.bin"), "the old content\n");
    }
}

// The reader of the archive stops after 1.6 MB of the 6 MB the backup
// writes, so the backup is still running when the signal comes, however
// fast or slow it is; then the reader takes the rest. What was written
// before the signal verifies and restores.
TEST_F(KxsmsProgram, SignalDuringBackupEndsTheArchiveCleanly)
{
    for (int i = 0; i < 12; ++i)
        writeFile(data_ / ("tree/many/f" + std::to_string(10 + i)), bigContent(512u << 10));
    const Result r = sh("set -o pipefail; "
                        "{ $KXSMS backup /tree -f - & echo $! >pid; wait $!; } | "
                        "{ dd bs=65536 count=25 iflag=fullblock of=a.kxa 2>/dev/null; touch read; "
                        "while [ ! -e signalled ]; do sleep 0.01; done; cat >>a.kxa; } & reader=$!; "
                        "while [ ! -e read ]; do sleep 0.01; done; "
                        "kill -TERM $(cat pid); touch signalled; wait $reader");
    EXPECT_EQ(r.status, 143) << context(r);
    EXPECT_NE(r.err.find("SIGTERM"), std::string::npos) << r.err;

    const Result verified = kxsms({"verify", "-f", "a.kxa"});
    EXPECT_EQ(verified.status, 1) << context(verified);
    EXPECT_NE(verified.err.find("interrupted"), std::string::npos) << verified.err;
    EXPECT_EQ(verified.err.find("truncated"), std::string::npos) << "the end record is there\n" << verified.err;

    const Result listed = kxsms({"list", "-f", "a.kxa", "--json"});
    const json members = json::parse(listed.out);
    ASSERT_GE(members.size(), 2u) << listed.out;
    size_t complete = 0;
    for (const json &member : members)
        complete += member["state"] == "ok";
    EXPECT_GE(complete + 1, members.size()) << "at most the member being read is incomplete";
    const Result restored = kxsms({"restore", "-f", "a.kxa", "--to", "/r"});
    EXPECT_TRUE(fs::exists(data_ / "r/tree/a.txt")) << context(restored);
}

// What a listing tells of each data set but its access time, which the
// listing itself moves (a directory read when a second boundary has passed).
std::string withoutAccessTimes(const std::string &listing)
{
    json entries = json::parse(listing);
    for (json &entry : entries)
        entry.erase("accessed");
    return entries.dump(1);
}

TEST_F(KxsmsProgram, DryRunsChangeNothing)
{
    const Result flagsBefore = kxsms({"ls", "-r", "--json", "/tree"});
    const Result dry = kxsms({"backup", "-n", "/tree", "--clear-archive", "--exclude", "*.bin", "-f", "a.kxa"});
    EXPECT_EQ(dry.status, 0) << context(dry);
    EXPECT_FALSE(fs::exists(dir_ / "a.kxa"));
    EXPECT_NE(dry.out.find("/tree/a.txt\n"), std::string::npos) << dry.out;
    EXPECT_EQ(dry.out.find("big.bin"), std::string::npos) << dry.out;
    EXPECT_EQ(withoutAccessTimes(kxsms({"ls", "-r", "--json", "/tree"}).out), withoutAccessTimes(flagsBefore.out))
        << "archive flags, kinds, sizes and times unchanged";

    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    writeFile(data_ / "tree/a.txt", "edited\n");
    fs::remove(data_ / "tree/sub/b.txt");
    const auto tree = describeTree(data_);
    const Result restore = kxsms({"restore", "-n", "-f", "a.kxa", "--in-place"});
    EXPECT_EQ(restore.status, 0) << context(restore);
    EXPECT_EQ(describeTree(data_), tree);
    EXPECT_NE(restore.out.find("keep /tree/a.txt"), std::string::npos) << restore.out;
    EXPECT_NE(restore.out.find("restore /tree/sub/b.txt"), std::string::npos) << restore.out;
    EXPECT_NE(restore.out.find("keep /tree/big.bin"), std::string::npos) << "the same age is kept\n" << restore.out;
    writeFile(data_ / "r/tree/a.txt", "there\n");
    const Result to = kxsms({"restore", "-n", "-f", "a.kxa", "--to", "/r"});
    EXPECT_EQ(to.status, 0) << context(to);
    EXPECT_NE(to.out.find("replace /r/tree/a.txt"), std::string::npos) << to.out;
    EXPECT_NE(to.out.find("restore /r/tree/big.bin"), std::string::npos) << to.out;
    EXPECT_EQ(readFile(data_ / "r/tree/a.txt"), "there\n");
    EXPECT_FALSE(fs::exists(data_ / "r/tree/big.bin"));
}

struct Selected {
    const char *name;
    std::vector<std::string> arguments; // after "-f a.kxa"
    std::set<std::string> expected;     // files of the tree
};

class MemberSelection : public KxsmsProgram, public ::testing::WithParamInterface<Selected> {};

std::set<std::string> filesOf(const json &members)
{
    std::set<std::string> names;
    for (const json &member : members)
        if (!member["parent"].get<bool>())
            names.insert(member["name"].get<std::string>());
    return names;
}

// The same selection through backup, list and restore.
TEST_P(MemberSelection, TakesTheSameMembersEverywhere)
{
    const Selected &s = GetParam();
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "all.kxa"}).status, 0);

    std::vector<std::string> list = {"list", "-f", "all.kxa", "--json"};
    list.insert(list.end(), s.arguments.begin(), s.arguments.end());
    const Result listed = kxsms(list);
    ASSERT_EQ(listed.status, 0) << context(listed);
    EXPECT_EQ(filesOf(json::parse(listed.out)), s.expected);

    std::vector<std::string> restore = {"restore", "-f", "all.kxa", "--to", "/r"};
    restore.insert(restore.end(), s.arguments.begin(), s.arguments.end());
    const Result restored = kxsms(restore);
    ASSERT_EQ(restored.status, 0) << context(restored);
    std::set<std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(data_ / "r"))
        if (!fs::is_directory(fs::symlink_status(entry.path())))
            files.insert("/" + entry.path().lexically_relative(data_ / "r").string());
    EXPECT_EQ(files, s.expected) << context(restored);

    // A backup with the excludes (the paths given become what is backed up).
    std::vector<std::string> backup = {"backup", "-f", "some.kxa"};
    bool hasPath = false;
    for (const std::string &argument : s.arguments) {
        hasPath = hasPath || (argument[0] == '/' && backup.back() != "--exclude");
        backup.push_back(argument);
    }
    if (!hasPath)
        backup.push_back("/tree");
    const Result saved = kxsms(backup);
    ASSERT_EQ(saved.status, 0) << context(saved);
    EXPECT_EQ(filesOf(json::parse(kxsms({"list", "-f", "some.kxa", "--json"}).out)), s.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, MemberSelection,
    ::testing::Values(Selected{"one_member", {"/tree/a.txt"}, {"/tree/a.txt"}},
                      Selected{"subtree", {"/tree/sub"}, {"/tree/sub/b.txt", "/tree/sub/deeper/c.txt"}},
                      Selected{
                          "two_paths", {"/tree/sub/deeper", "/tree/link"}, {"/tree/sub/deeper/c.txt", "/tree/link"}},
                      Selected{"last_component_pattern",
                               {"--exclude", "*.bin"},
                               {"/tree/a.txt", "/tree/link", "/tree/sub/b.txt", "/tree/sub/deeper/c.txt"}},
                      Selected{"parent_by_component",
                               {"--exclude", "sub"},
                               {"/tree/a.txt", "/tree/link", "/tree/big.bin", "/tree/block.bin"}},
                      Selected{"whole_name_pattern",
                               {"/tree", "--exclude", "/tree/sub/*", "--exclude", "/tree/b*"},
                               {"/tree/a.txt", "/tree/link"}},
                      Selected{"exact_and_pattern",
                               {"/tree/sub", "--exclude", "/tree/sub/deeper", "--exclude", "?.bin"},
                               {"/tree/sub/b.txt"}}),
    [](const ::testing::TestParamInfo<Selected> &tested) { return std::string(tested.param.name); });

TEST_F(KxsmsProgram, SelectionThatTakesNothingIsReported)
{
    ASSERT_EQ(kxsms({"backup", "/tree", "-f", "a.kxa"}).status, 0);
    const Result r = kxsms({"restore", "-f", "a.kxa", "--to", "/r", "/tree/a.txt", "/tree/nothing"});
    EXPECT_EQ(r.status, 1) << context(r);
    EXPECT_NE(r.err.find("/tree/nothing: not found in the archive"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(data_ / "r/tree/a.txt"), "alpha\n");
    // A member named without its leading '/', as tar users write it.
    const Result relative = kxsms({"list", "-f", "a.kxa", "tree/sub/b.txt"});
    EXPECT_EQ(relative.status, 0) << context(relative);
    EXPECT_NE(relative.out.find("/tree/sub/b.txt"), std::string::npos);
}

} // namespace
