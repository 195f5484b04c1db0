// The command line and the times it takes.
#include <gtest/gtest.h>

#include <sstream>

#include "commands/BackupCommand.h"
#include "commands/Commands.h"
#include "commands/RestoreCommand.h"
#include "frame/CommandLine.h"
#include "frame/SinceTime.h"

using namespace kxsms;

namespace {

constexpr int64_t c_Now = 1700000000;

struct Parsed {
    int status;
    std::vector<std::unique_ptr<Command>> commands; // what command points into
    GlobalOptions globals;
    const Command *command;
    bool version;
    std::string out;
    std::string err;

    // The command given, with its options: a backup's, a restore's.
    std::string name() const { return command != nullptr ? command->name() : ""; }
    const BackupOptions &backup() const { return dynamic_cast<const BackupCommand &>(*command).options(); }
    const RestoreOptions &restore() const { return dynamic_cast<const RestoreCommand &>(*command).options(); }
};

Parsed parse(std::vector<const char *> arguments)
{
    arguments.insert(arguments.begin(), "kxsms");
    Parsed parsed{};
    parsed.commands = allCommands();
    ParsedCommandLine line;
    std::ostringstream out, err;
    parsed.status =
        parseCommandLine(static_cast<int>(arguments.size()), arguments.data(), parsed.commands, line, out, err, c_Now);
    parsed.globals = line.globals;
    parsed.command = line.command;
    parsed.version = line.showVersion;
    parsed.out = out.str();
    parsed.err = err.str();
    return parsed;
}

TEST(Options, BackupWithEverything)
{
    const Parsed p = parse({"--tsa",       "gw",      "-u",          "admin",         "--log",
                            "/tmp/l",      "-vv",     "backup",      "DOM1:\\a",      "DOM1:\\b",
                            "-f",          "-",       "--exclude",   "DOM1:\\a\\x",   "--exclude",
                            "DOM1:\\a\\y", "--since", "@1600000000", "--incremental", "--clear-archive",
                            "--zstd"});
    ASSERT_EQ(p.status, -1) << p.err;
    ASSERT_EQ(p.name(), "backup");
    const GlobalOptions &g = p.globals;
    EXPECT_EQ(g.tsa, KXSMS_TSA_GROUPWISE);
    EXPECT_TRUE(g.tsaGiven);
    EXPECT_EQ(g.user, "admin");
    EXPECT_EQ(g.logFile, "/tmp/l");
    EXPECT_EQ(g.verbosity, 2);
    const BackupOptions &o = p.backup();
    EXPECT_EQ(o.paths, (std::vector<std::string>{"DOM1:\\a", "DOM1:\\b"}));
    EXPECT_EQ(o.archive, "-");
    EXPECT_EQ(o.excludes.size(), 2u);
    ASSERT_TRUE(o.since);
    EXPECT_EQ(*o.since, 1600000000);
    EXPECT_TRUE(o.incremental && o.clearArchive && o.zstd);
}

TEST(Options, GlobalOptionsAfterTheSubcommandAndDefaults)
{
    const Parsed p = parse({"restore", "-f", "a.kxa", "-v", "--to", "/tmp/r"});
    ASSERT_EQ(p.status, -1) << p.err;
    ASSERT_EQ(p.name(), "restore");
    EXPECT_EQ(p.globals.verbosity, 1);
    EXPECT_EQ(p.restore().to, "/tmp/r");
    EXPECT_EQ(p.restore().overwrite, Overwrite::Always);
    EXPECT_TRUE(p.restore().xattrs) << "attributes and ACLs are restored unless asked not to";
    EXPECT_EQ(p.globals.tsa, KXSMS_TSA_FILE_SYSTEM);
    EXPECT_FALSE(p.globals.tsaGiven);
    EXPECT_FALSE(parse({"restore", "-f", "a.kxa", "--no-xattrs"}).restore().xattrs);
}

TEST(Options, EachCommandIsRecognised)
{
    const std::vector<std::pair<std::vector<const char *>, std::string>> table = {
        {{"resources"}, "resources"},
        {{"ls"}, "ls"},
        {{"ls", "/etc", "-r", "-l", "--json"}, "ls"},
        {{"info", "/etc"}, "info"},
        {{"list", "-f", "a"}, "list"},
        {{"verify", "-f", "a"}, "verify"},
        {{"rm", "/tmp/x"}, "rm"},
        {{"restore", "-f", "-", "--in-place", "--overwrite", "never"}, "restore"},
    };
    for (const auto &[arguments, command] : table) {
        const Parsed p = parse(arguments);
        EXPECT_EQ(p.status, -1) << arguments[0] << ": " << p.err;
        EXPECT_EQ(p.name(), command) << arguments[0];
    }
}

TEST(Options, WrongCommandLinesExitWithStatus2)
{
    const std::vector<std::vector<const char *>> table = {
        {},                     // no command
        {"frobnicate"},         // unknown command
        {"backup", "-f", "a"},  // no path
        {"backup", "/x"},       // no archive
        {"restore"},            // no archive
        {"--tsa", "nfs", "ls"}, // unknown TSA
        {"restore", "-f", "a", "--overwrite", "sometimes"},
        {"backup", "/x", "-f", "a", "--since", "yesterday-ish"},
        {"info"},                       // no path
        {"ls", "--password", "secret"}, // passwords never on the command line
    };
    for (const auto &arguments : table) {
        const Parsed p = parse(arguments);
        EXPECT_EQ(p.status, c_ExitStopped) << (arguments.empty() ? "(none)" : arguments[0]);
        EXPECT_FALSE(p.err.empty());
    }
}

TEST(Options, HelpShowsExamplesAndExitsWith0)
{
    const Parsed p = parse({"--help"});
    EXPECT_EQ(p.status, c_ExitOk);
    EXPECT_NE(p.out.find("Examples:"), std::string::npos);
    EXPECT_NE(p.out.find("kxsms backup"), std::string::npos);
}

TEST(Options, VersionNeedsNoCommand)
{
    const Parsed p = parse({"--version"});
    EXPECT_EQ(p.status, -1);
    EXPECT_TRUE(p.version);
}

TEST(SinceTime, Forms)
{
    struct tm fields = {};
    fields.tm_year = 2024 - 1900;
    fields.tm_mon = 2;
    fields.tm_mday = 1;
    fields.tm_isdst = -1;
    const int64_t midnight = mktime(&fields);

    const std::vector<std::pair<std::string, int64_t>> table = {
        {"@0", 0},
        {"@1700000000", 1700000000},
        {"2024-03-01", midnight},
        {"2024-03-01 12:30", midnight + 12 * 3600 + 30 * 60},
        {"2024-03-01T12:30:15", midnight + 12 * 3600 + 30 * 60 + 15},
        {"90s", c_Now - 90},
        {"30m", c_Now - 1800},
        {"2h", c_Now - 7200},
        {"7d", c_Now - 7 * 86400},
        {"2w", c_Now - 14 * 86400},
    };
    for (const auto &[text, expected] : table) {
        std::string error;
        const auto value = parseTime(text, c_Now, error);
        ASSERT_TRUE(value) << text << ": " << error;
        EXPECT_EQ(*value, expected) << text;
    }
}

TEST(SinceTime, Refused)
{
    for (const char *text : {"", "@", "@12x", "yesterday", "2024-02-30", "2024-13-01", "2024-03-01 25:00",
                             "2024-03-01 12:3", "2024-3-1", "5y", "h", "2024-03-01 12:30:15:00", "-5d"}) {
        std::string error;
        EXPECT_FALSE(parseTime(text, c_Now, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

} // namespace

namespace {

TEST(Options, NamesAreTakenAsGivenAndRestoreNeedsAPlace)
{
    Parsed p = parse({"--tsa", "dir", "backup", "[Root]", "\x01[x]", "-f", "a", "--exclude", "[ab].o", "b"});
    ASSERT_EQ(p.status, -1) << p.err;
    EXPECT_EQ(p.backup().paths, (std::vector<std::string>{"[Root]", "\x01[x]", "b"}));
    EXPECT_EQ(p.backup().excludes, std::vector<std::string>{"[ab].o"});

    p = parse({"restore", "-f", "a"});
    EXPECT_EQ(p.status, 2);
    EXPECT_NE(p.err.find("--in-place"), std::string::npos);
    p = parse({"restore", "-f", "a", "--in-place"});
    ASSERT_EQ(p.status, -1) << p.err;
    EXPECT_EQ(p.restore().overwrite, Overwrite::Newer);
    p = parse({"restore", "-f", "a", "--to", "/r", "--overwrite", "never", "/etc", "-n"});
    ASSERT_EQ(p.status, -1) << p.err;
    EXPECT_EQ(p.restore().overwrite, Overwrite::Never);
    EXPECT_TRUE(p.restore().dryRun);
    EXPECT_EQ(p.restore().paths, std::vector<std::string>{"/etc"});
}

} // namespace

namespace {

// Every value, the program's and each command's, comes back as it was given,
// also one that looks like a list ("[a,b]") or starts with the byte kxsms
// marks such values with while it parses.
TEST(Options, EveryValueIsTakenAsGiven)
{
    Parsed p = parse({"-u", "[u]", "--log", "[l,m]", "--password-file", "\x01p", "restore", "-f", "[a]", "-f", "[b,c]",
                      "--to", "[r]", "[m,n]", "--exclude", "[x]"});
    ASSERT_EQ(p.status, -1) << p.err;
    EXPECT_EQ(p.globals.user, "[u]");
    EXPECT_EQ(p.globals.logFile, "[l,m]");
    EXPECT_EQ(p.globals.passwordFile, "\x01p");
    EXPECT_EQ(p.restore().archives, (std::vector<std::string>{"[a]", "[b,c]"}));
    EXPECT_EQ(p.restore().to, "[r]");
    EXPECT_EQ(p.restore().paths, std::vector<std::string>{"[m,n]"});
    EXPECT_EQ(p.restore().excludes, std::vector<std::string>{"[x]"});

    p = parse({"backup", "/x", "-f", "a", "--since", "[x"});
    EXPECT_EQ(p.status, c_ExitStopped);
    EXPECT_NE(p.err.find("--since: \"[x\" is not a time"), std::string::npos) << p.err;
}

// What each command defines is what its --help shows, under its own command.
TEST(Options, EachCommandsHelpShowsItsOwnOptions)
{
    for (const CommandInfo &command : describeCommandLine(allCommands())) {
        if (command.name.empty())
            continue;
        const Parsed p = parse({command.name.c_str(), "--help"});
        EXPECT_EQ(p.status, c_ExitOk) << command.name;
        for (const OptionInfo &option : command.options)
            EXPECT_NE(p.out.find(option.names.back()), std::string::npos) << command.name << " " << option.names.back();
        EXPECT_NE(p.out.find("Examples:"), std::string::npos) << command.name;
    }
}

} // namespace

namespace {

// A parser built once parses each command line as a new one would: nothing
// given before (a flag, a value, a list, a global option, a command) stays.
TEST(Options, ParserBuiltOnceKeepsNothingBetweenParses)
{
    const std::vector<std::unique_ptr<Command>> commands = allCommands();
    CommandLineParser parser(commands);
    const auto run = [&](std::vector<const char *> arguments, ParsedCommandLine &line) {
        arguments.insert(arguments.begin(), "kxsms");
        std::ostringstream out, err;
        return parser.parse(static_cast<int>(arguments.size()), arguments.data(), line, out, err, c_Now);
    };
    ParsedCommandLine first;
    ASSERT_EQ(run({"--tsa", "gw", "-vv", "-u", "admin", "backup", "DOM1:\\a", "-f", "a.kxa", "--zstd", "--exclude",
                   "DOM1:\\a\\x", "--incremental"},
                  first),
              -1);
    ParsedCommandLine second;
    ASSERT_EQ(run({"backup", "/b", "-f", "b.kxa"}, second), -1);
    EXPECT_EQ(second.globals.tsa, KXSMS_TSA_FILE_SYSTEM);
    EXPECT_FALSE(second.globals.tsaGiven);
    EXPECT_EQ(second.globals.verbosity, 0);
    EXPECT_EQ(second.globals.user, "");
    const BackupOptions &o = dynamic_cast<const BackupCommand &>(*second.command).options();
    EXPECT_EQ(o.paths, std::vector<std::string>{"/b"});
    EXPECT_EQ(o.archive, "b.kxa");
    EXPECT_FALSE(o.zstd);
    EXPECT_FALSE(o.incremental);
    EXPECT_TRUE(o.excludes.empty());
    // A command given before is not taken for one given now.
    ParsedCommandLine third;
    EXPECT_EQ(run({"--version"}, third), -1);
    EXPECT_EQ(third.command, nullptr);
    EXPECT_TRUE(third.showVersion);
    ParsedCommandLine fourth;
    EXPECT_EQ(run({"backup", "/c"}, fourth), 2) << "--file is required again";
}

} // namespace
