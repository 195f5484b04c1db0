// Every example kxsms shows its users is run: the Examples of `kxsms --help`
// and of each command's --help, the EXAMPLES of the manual page, and the
// kxsms command lines in the READMEs' code blocks. They run against the
// stand-in over a tree that has the paths they name (the file system's "/"
// is the test's data folder; the directory and GroupWise TSAs those of
// examples/), one after the other in the order they are shown, and each
// must succeed. What they cannot do here is rewritten, and only that: an
// archive in /backup/ goes to backup/ in the test's folder, and `ssh HOST
// 'COMMAND'` runs COMMAND here, in the folder remote/.
#include <gtest/gtest.h>

#include <regex>

#include "commands/KxsmsProgram.h"

namespace {

using namespace kxsms_test;

struct Example {
    std::string source; // where it is shown
    std::string line;   // as shown, a comment after it taken off
};

// A line of help text: "  kxsms ARGS     what it does" -> "kxsms ARGS".
std::string withoutNote(const std::string &line)
{
    const size_t start = line.find("kxsms ");
    std::string command = line.substr(start);
    if (const size_t gap = command.find("  "); gap != std::string::npos)
        command.erase(gap);
    return command;
}

// The manual page's EXAMPLES, with its escapes read.
std::vector<Example> manualExamples(const std::string &page)
{
    std::vector<Example> examples;
    std::istringstream in(page);
    std::string line;
    bool section = false;
    while (std::getline(in, line)) {
        if (line.rfind(".SH", 0) == 0)
            section = line == ".SH EXAMPLES";
        else if (section && line.rfind("kxsms ", 0) == 0) {
            line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
            line = std::regex_replace(line, std::regex(R"(\\\(aq)"), "'");
            examples.push_back({"docs/kxsms.1", line});
        }
    }
    return examples;
}

// kxsms command lines in the code blocks of a README; a line that ends with
// '|' goes on on the next. Synopses (with "[-" or "...") are no examples.
std::vector<Example> readmeExamples(const std::string &name, const std::string &text)
{
    std::vector<Example> examples;
    std::istringstream in(text);
    std::string line, pending;
    bool block = false;
    const std::regex command(R"(^(\w+=\S+ )*(build/bin/)?kxsms )");
    bool server = false; // a section about a directory server of one's own
    while (std::getline(in, line)) {
        if (line.rfind("```", 0) == 0) {
            block = !block;
            continue;
        }
        if (!block) {
            // The LDAP section's examples need a server of the reader's
            // own, which this test does not start.
            if (line.rfind("#", 0) == 0)
                server = line.find("LDAP") != std::string::npos;
            continue;
        }
        if (server)
            continue;
        if (!pending.empty()) {
            pending += "\n" + line;
        } else if (std::regex_search(line, command)) {
            if (line.find(" [-") != std::string::npos || line.find("...") != std::string::npos)
                continue;
            pending = line;
        } else {
            continue;
        }
        if (!pending.empty() && pending.back() == '|')
            continue;
        // A "# note" after the command.
        if (const size_t note = pending.find("  #"); note != std::string::npos)
            pending.erase(pending.find_last_not_of(' ', note) + 1);
        examples.push_back({name, pending});
        pending.clear();
    }
    return examples;
}

// The command line as it runs here.
std::string runnable(std::string line)
{
    line = std::regex_replace(line, std::regex(R"(^(\w+=\S+ )*)"), ""); // the environment is the test's
    line = std::regex_replace(line, std::regex(R"((build/bin/)?\bkxsms )"), "\"$$KXSMS\" ");
    line = std::regex_replace(line, std::regex(R"( /backup/)"), " backup/");
    // The other host is a folder of its own.
    line = std::regex_replace(line, std::regex(R"(\bssh \w+ ')"), "sh -c 'cd remote && ");
    // A key pair is never replaced: the one made for the examples before goes first.
    line = std::regex_replace(line, std::regex(R"(^("\$KXSMS" key generate -o (\S+).*))"), "rm -f $2.pub $2.key && $1");
    return line;
}

class Examples : public KxsmsProgram {
protected:
    void SetUp() override
    {
        KxsmsProgram::SetUp();
        // Encrypted examples take their passphrase from the environment.
        setenv("KXSMS_PASSPHRASE", "examples' passphrase", 1);
        const fs::path examples = KXSMS_EXAMPLES_DIR;
        fs::copy(examples / "gw", dir_ / "gw", fs::copy_options::recursive);
        fs::copy_file(examples / "tree.json", dir_ / "tree.json");
        useConfig("");
        std::string config = readFile(dir_ / "smsemu.toml");
        config += "\n[[tsa]]\ntype = \"Directory\"\ntarget_service = \"ACME_TREE\"\nroot_form = \"[Root]\"\nstore = \"" +
                  (dir_ / "tree.json").string() +
                  "\"\n\n[[tsa]]\ntype = \"GroupWise System\"\n  [[tsa.resource]]\n  name = \"DOM1:\"\n  path = \"" +
                  (dir_ / "gw/dom1").string() + "\"\n";
        writeFile(dir_ / "smsemu.toml", config);
        for (const char *file : {"home/ann/notes.txt", "home/ann/.cache/c", "home/bob/b.txt", "etc/passwd",
                                 "etc/ssh/sshd_config", "etc/x.conf", "src/a.c", "src/a.o", "src/cache/c",
                                 "srv/data/d.txt", "usr/include/linux/netfilter/nf.h", "tmp/old.txt",
                                 "tmp/older.txt", "tmp/build/obj/x.o"})
            writeFile(data_ / file, std::string(file) + "\n");
        fs::create_directories(dir_ / "backup");
        fs::create_directories(dir_ / "remote");
        // The archives the examples read.
        for (const char *line : {"$KXSMS backup /home /etc --clear-archive -f full.kxa",
                                 "echo more >> data/home/ann/notes.txt",
                                 "$KXSMS backup /home /etc --incremental --clear-archive -f inc1.kxa",
                                 "$KXSMS backup /home /etc --incremental --clear-archive -f inc2.kxa",
                                 "$KXSMS backup /home /etc /src -f a.kxa",
                                 "$KXSMS key generate -o vault"}) {
            const Result made = sh(line);
            ASSERT_EQ(made.status, 0) << line << "\n" << context(made);
        }
    }
    void TearDown() override
    {
        unsetenv("KXSMS_PASSPHRASE");
        KxsmsProgram::TearDown();
    }
};

TEST_F(Examples, EveryExampleShownRuns)
{
    std::vector<Example> examples;
    const Result help = kxsms({"--help"});
    ASSERT_EQ(help.status, 0);
    std::vector<std::string> commands;
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  kxsms ", 0) == 0)
            examples.push_back({"kxsms --help", withoutNote(line)});
        std::smatch found;
        if (std::regex_match(line, found, std::regex(R"(  (\w+)  +\S.*)")) && found[1] != "kxsms")
            commands.push_back(found[1]);
    }
    ASSERT_GE(commands.size(), 9u) << help.out;
    for (const std::string &command : commands) {
        const Result own = kxsms({command, "--help"});
        ASSERT_EQ(own.status, 0) << command;
        std::istringstream in(own.out);
        bool section = false;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("Examples:", 0) == 0)
                section = true;
            else if (section && line.rfind("  kxsms ", 0) == 0)
                examples.push_back({"kxsms " + command + " --help", withoutNote(line)});
        }
    }
    const fs::path root = fs::path(KXSMS_EXAMPLES_DIR).parent_path();
    for (const Example &example : manualExamples(readFile(root / "docs/kxsms.1")))
        examples.push_back(example);
    for (const char *readme : {"README.md", "tools/kxsms/README.md", "examples/README.md", "smsemu/README.md"})
        for (const Example &example : readmeExamples(readme, readFile(root / readme)))
            examples.push_back(example);
    ASSERT_GE(examples.size(), 50u);

    for (const Example &example : examples) {
        const std::string line = runnable(example.line);
        const Result result = sh("set -o pipefail; " + line);
        EXPECT_EQ(result.status, 0) << example.source << ": " << example.line << "\nran: " << line << "\n"
                                    << context(result);
    }
}

} // namespace
