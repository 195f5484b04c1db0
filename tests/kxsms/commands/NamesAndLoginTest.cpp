// kxsms end to end: names that text and JSON must keep apart and give back,
// the login's password, listings cut short by their reader, and rm.
#include <fstream>
#include <set>
#include <sstream>

#include "commands/KxsmsProgram.h"

namespace {

using namespace kxsms_test;

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// Names that used to print alike: a newline and the four characters "\x0a";
// two different bytes that are not UTF-8.
const std::vector<std::string> c_OddNames = {"a\nb", "a\\x0ab", "bad\xff", "bad\xfe", "back\\slash"};

TEST_F(KxsmsProgram, OddNamesStayDistinctAndComeBack)
{
    for (const std::string &name : c_OddNames)
        writeFile(data_ / "odd" / name, name + "\n");

    const Result text = kxsms({"ls", "/odd"});
    ASSERT_EQ(text.status, 0) << context(text);
    const std::vector<std::string> shown = lines(text.out);
    EXPECT_EQ(shown.size(), c_OddNames.size()) << text.out;
    EXPECT_EQ(std::set<std::string>(shown.begin(), shown.end()),
              (std::set<std::string>{"/odd/a\\x0ab", "/odd/a\\\\x0ab", "/odd/bad\\xff", "/odd/bad\\xfe",
                                     "/odd/back\\\\slash"}));

    ASSERT_EQ(kxsms({"backup", "/odd", "-f", "a.kxa"}).status, 0);
    const Result listed = kxsms({"list", "-f", "a.kxa", "--json"});
    ASSERT_EQ(listed.status, 0) << context(listed);
    std::set<std::string> exact;
    for (const json &member : json::parse(listed.out)) {
        if (member["name"] == "/odd")
            continue;
        const bool utf8 = !member.contains("name_base64");
        EXPECT_EQ(utf8, member["name"].get<std::string>().find("\xEF\xBF\xBD") == std::string::npos) << member;
        exact.insert(utf8 ? member["name"].get<std::string>()
                          : std::string("base64:") + member["name_base64"].get<std::string>());
    }
    EXPECT_EQ(exact.size(), c_OddNames.size());
    EXPECT_TRUE(exact.count("base64:L29kZC9iYWT/")) << "/odd/bad\\xff";

    // Each name passed back: as the JSON gives it, or through base64 -d.
    for (const json &member : json::parse(listed.out)) {
        const Result back = member.contains("name_base64")
                                ? sh("$KXSMS restore -f a.kxa --to /r \"$(printf %s " +
                                     quote(member["name_base64"].get<std::string>()) + " | base64 -d)\"")
                                : kxsms({"restore", "-f", "a.kxa", "--to", "/r", member["name"].get<std::string>()});
        ASSERT_EQ(back.status, 0) << member << "\n" << context(back);
    }
    for (const std::string &name : c_OddNames)
        EXPECT_EQ(readFile(data_ / "r/odd" / name), name + "\n") << name;
    const Result one = kxsms({"restore", "-f", "a.kxa", "--to", "/one", "/odd/a\nb"});
    EXPECT_EQ(one.status, 0) << context(one);
    EXPECT_TRUE(fs::exists(data_ / "one/odd/a\nb"));
    EXPECT_FALSE(fs::exists(data_ / "one/odd/a\\x0ab"));
}

TEST_F(KxsmsProgram, ListingsCutShortByTheirReaderEndQuietly)
{
    // More output than the pipe and kxsms's buffer hold together.
    fs::create_directories(data_ / "many");
    for (int i = 0; i < 1200; ++i)
        std::ofstream(data_ / "many" / (std::string(150, 'n') + std::to_string(i)));
    ASSERT_EQ(kxsms({"backup", "/many", "-f", "a.kxa"}).status, 0);
    for (const char *command :
         {"$KXSMS ls -r /many", "$KXSMS ls -rl --json /many", "$KXSMS list -f a.kxa", "$KXSMS list -f a.kxa --json"}) {
        const Result r = sh(std::string("set -o pipefail; ") + command + " | head -1");
        EXPECT_EQ(r.status, 0) << command << "\n" << context(r);
        EXPECT_EQ(r.err, "") << command;
        EXPECT_EQ(lines(r.out).size(), 1u) << command;
    }
}

// The password: no prompt where the TSA does not check it; one prompt, on
// the terminal, after a refused login.
TEST_F(KxsmsProgram, PasswordIsAskedOnlyAfterARefusedLogin)
{
    unsetenv("KXSMS_PASSWORD");
    const Result peer = sh("script -qec \"$KXSMS ls /tree/sub\" /dev/null </dev/null");
    EXPECT_EQ(peer.status, 0) << context(peer);
    EXPECT_EQ(peer.out.find("Password"), std::string::npos) << peer.out;
    EXPECT_NE(peer.out.find("/tree/sub/b.txt"), std::string::npos) << peer.out;

    useConfig("users = { tester = \"right\" }");
    // The answer is typed once the prompt is there (kxsms flushes what was
    // typed before it turns the echo off), on a terminal made by script.
    const auto typed = [&](const std::string &password) {
        return sh("rm -f keys terminal; mkfifo keys; script -qec \"$KXSMS -u tester ls /tree/sub\" /dev/null <keys "
                  ">terminal & job=$!; "
                  "exec 3>keys; "
                  "while kill -0 $job 2>/dev/null && ! grep -q 'Password for tester:' terminal; do sleep 0.02; done; "
                  "printf '" +
                  password + "\\n' >&3; wait $job; status=$?; exec 3>&-; cat terminal; exit $status");
    };
    const Result asked = typed("right");
    EXPECT_EQ(asked.status, 0) << context(asked);
    size_t prompts = 0;
    for (size_t at = asked.out.find("Password for tester:"); at != std::string::npos;
         at = asked.out.find("Password for tester:", at + 1))
        ++prompts;
    EXPECT_EQ(prompts, 1u) << asked.out;
    EXPECT_NE(asked.out.find("/tree/sub/b.txt"), std::string::npos) << asked.out;

    const Result wrong = typed("wrong");
    EXPECT_NE(wrong.status, 0) << context(wrong);
    EXPECT_NE(wrong.out.find("Failed to login"), std::string::npos) << wrong.out;

    // Without a terminal: no prompt, the refusal reported.
    const Result batch = kxsms({"-u", "tester", "ls", "/tree/sub"});
    EXPECT_EQ(batch.status, 2) << context(batch);
    setenv("KXSMS_PASSWORD", "", 1);
}

TEST_F(KxsmsProgram, RmTakesSeveralNamesAndSubtrees)
{
    Result r = kxsms({"rm", "/tree/a.txt", "/tree/block.bin"});
    EXPECT_EQ(r.status, 0) << context(r);
    EXPECT_FALSE(fs::exists(data_ / "tree/a.txt") || fs::exists(data_ / "tree/block.bin"));
    r = kxsms({"rm", "/tree/sub"});
    EXPECT_EQ(r.status, 1) << context(r);
    EXPECT_NE(r.err.find("-r"), std::string::npos) << "a non-empty parent is refused with the way out\n" << r.err;
    EXPECT_TRUE(fs::exists(data_ / "tree/sub/b.txt"));
    r = kxsms({"rm", "-r", "/tree/sub"});
    EXPECT_EQ(r.status, 0) << context(r);
    EXPECT_FALSE(fs::exists(data_ / "tree/sub"));
    const std::vector<std::string> reported = lines(r.err);
    ASSERT_EQ(reported.size(), 4u) << r.err;
    EXPECT_EQ(reported.back(), "kxsms: deleted /tree/sub") << "the parent last";
}

// The summary's figures are what users see: data sets (the failed apart),
// the bytes of file data (a sparse file at its size, holes included; a
// 6-byte file as 6 B, not its stream) and the archive's size.
TEST_F(KxsmsProgram, FiguresCountFileDataNotStreams)
{
    writeFile(data_ / "fig/six", "6bytes");
    {
        std::ofstream sparse(data_ / "fig/sparse");
        sparse << "start";
    }
    fs::resize_file(data_ / "fig/sparse", 1ull << 30);
    const Result backup = kxsms({"backup", "/fig", "-f", "a.kxa"});
    ASSERT_EQ(backup.status, 0) << backup.err;
    EXPECT_NE(backup.err.find("backup: 3 data sets, 0 failed, 1.0 GiB of file data, archive "), std::string::npos)
        << backup.err;
    const Result restore = kxsms({"restore", "-f", "a.kxa", "--to", "/r"});
    ASSERT_EQ(restore.status, 0) << restore.err;
    EXPECT_NE(restore.err.find("restore: 3 data sets, 0 failed, 1.0 GiB of file data, archive "), std::string::npos)
        << restore.err;
    EXPECT_EQ(fs::file_size(data_ / "r/fig/sparse"), 1ull << 30);

    const Result six = kxsms({"backup", "/fig/six", "-f", "b.kxa"});
    EXPECT_NE(six.err.find("backup: 1 data set, 0 failed, 6 B of file data, archive "), std::string::npos) << six.err;
}

// Every line kxsms writes about a mistake starts with its name; a folder
// given as the archive is named.
TEST_F(KxsmsProgram, MistakesAreOneLineStartingWithTheProgramsName)
{
    fs::create_directories(dir_ / "folder");
    struct Case {
        std::vector<std::string> arguments;
        const char *message;
    };
    for (const Case &c : std::vector<Case>{
             {{"backup", "/tree"}, "kxsms: backup: --file is required"},
             {{"no-such-command"}, "kxsms: The following argument was not expected: no-such-command"},
             {{"list", "-f", "a.kxa", "--no-such-option"}, "kxsms: The following argument was not expected"},
             {{"restore", "-f", "a.kxa"}, "kxsms: restore: say where to restore"},
             {{"list", "-f", "folder"}, "kxsms: folder: is a directory, not an archive"},
             {{"restore", "-f", "folder", "--to", "/r"}, "kxsms: folder: is a directory, not an archive"},
         }) {
        const Result r = kxsms(c.arguments);
        EXPECT_EQ(r.status, 2) << c.message << "\n" << r.err;
        EXPECT_EQ(r.err.find(c.message), 0u) << r.err;
        std::istringstream lines(r.err);
        for (std::string line; std::getline(lines, line);)
            EXPECT_EQ(line.rfind("kxsms: ", 0), 0u) << line;
    }
}

TEST_F(KxsmsProgram, CountsAgreeWithTheirNouns)
{
    const Result one = kxsms({"backup", "/tree/a.txt", "-f", "a.kxa"});
    EXPECT_NE(one.err.find("backup: 1 data set, "), std::string::npos) << one.err;
    const Result two = kxsms({"backup", "/tree/sub/b.txt", "/tree/a.txt", "-f", "b.kxa"});
    EXPECT_NE(two.err.find("backup: 2 data sets"), std::string::npos) << two.err;
    const Result help = kxsms({"restore", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--in-place"), std::string::npos);
    EXPECT_EQ(help.out.find("kxsms resources"), std::string::npos) << "its own examples, not the global list";
}

} // namespace

namespace {

using namespace kxsms_test;

// The top of a directory tree backs up under the name ls takes for it, and
// the overwrite rules hold where the module fixes the open options.
TEST_F(KxsmsProgram, DirectoryTreeBacksUpFromItsRootAndKeepsItsOverwriteRules)
{
    fs::copy_file(fs::path(KXSMS_EXAMPLES_DIR) / "tree.json", dir_ / "tree.json");
    writeFile(dir_ / "dir.toml", "[[tsa]]\ntype = \"Directory\"\ntarget_service = \"ACME_TREE\"\nstore = \"" +
                                     (dir_ / "tree.json").string() + "\"\n");
    setenv("SMSEMU_CONFIG", (dir_ / "dir.toml").c_str(), 1);
    const Result listed = kxsms({"--tsa", "dir", "ls", "-r", "[Root]"});
    ASSERT_EQ(listed.status, 0) << context(listed);
    const Result saved = kxsms({"--tsa", "dir", "backup", "[Root]", "-f", "a.kxa"});
    EXPECT_EQ(saved.status, 0) << context(saved);
    EXPECT_EQ(kxsms({"list", "-f", "a.kxa"}).out.size() > 0, true);
    EXPECT_EQ(lines(kxsms({"list", "-f", "a.kxa"}).out).size(), lines(listed.out).size());

    // Overwrite rules there: newer cannot hold and is refused; never keeps
    // an object that exists and brings back one that is gone.
    const std::string bob = ".CN=Bob.OU=Sales.O=Acme.[Root]";
    ASSERT_EQ(kxsms({"--tsa", "dir", "backup", bob, "-f", "bob.kxa"}).status, 0);
    const std::string before = readFile(dir_ / "tree.json");
    const Result newer = kxsms({"restore", "-f", "bob.kxa", "--in-place"});
    EXPECT_EQ(newer.status, 2) << context(newer);
    EXPECT_NE(newer.err.find("always replaces"), std::string::npos) << newer.err;
    setenv("SMSEMU_TRACE", (dir_ / "trace").c_str(), 1);
    const Result never = kxsms({"restore", "-f", "bob.kxa", "--in-place", "--overwrite", "never"});
    unsetenv("SMSEMU_TRACE");
    EXPECT_EQ(never.status, 0) << context(never);
    EXPECT_NE(never.err.find("kept " + bob), std::string::npos) << never.err;
    EXPECT_EQ(readFile(dir_ / "trace").find("NWSMTSOpenDataSetForRestore"), std::string::npos) << "nothing opened";
    EXPECT_EQ(readFile(dir_ / "tree.json"), before);
    ASSERT_EQ(kxsms({"--tsa", "dir", "rm", bob}).status, 0);
    const Result back = kxsms({"restore", "-f", "bob.kxa", "--in-place", "--overwrite", "never"});
    EXPECT_EQ(back.status, 0) << context(back);
    EXPECT_EQ(kxsms({"--tsa", "dir", "info", bob}).status, 0);
}

} // namespace

namespace {

using namespace kxsms_test;

// With the default configuration (this machine's root), a path through a
// symlinked directory is backed up under its real name, with a notice.
TEST_F(KxsmsProgram, PathsThroughSymlinkedDirectoriesAreResolved)
{
    unsetenv("SMSEMU_CONFIG");
    const fs::path real = fs::canonical(dir_) / "real";
    writeFile(real / "terminfo/x", "x\n");
    fs::create_directory_symlink("real", dir_ / "lib");
    const Result r = kxsms({"backup", (dir_ / "lib/terminfo").string(), "-f", "a.kxa"});
    EXPECT_EQ(r.status, 0) << context(r);
    EXPECT_NE(r.err.find("backing up " + (real / "terminfo").string()), std::string::npos) << r.err;
    const Result listed = kxsms({"list", "-f", "a.kxa"});
    EXPECT_NE(listed.out.find((real / "terminfo/x").string()), std::string::npos) << listed.out;
}

} // namespace
