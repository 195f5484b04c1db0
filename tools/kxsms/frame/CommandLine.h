// The command line: the program's own options, the interface each command
// implements to define its options (with their help and examples) and to run,
// and the parsing (CLI11, kept inside CommandLine.cpp).
#ifndef KXSMS_TOOLS_COMMANDLINE_H
#define KXSMS_TOOLS_COMMANDLINE_H

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "KXSMS.h"

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace kxsms {

// Exit statuses.
constexpr int c_ExitOk = 0;         // everything done
constexpr int c_ExitSomeFailed = 1; // some data sets failed; the rest was done
constexpr int c_ExitStopped = 2;    // the job stopped, or could not start

// The options given before (or after) any command.
struct GlobalOptions {
    KXSMS_TSA_TYPE tsa = KXSMS_TSA_FILE_SYSTEM;
    bool tsaGiven = false;
    std::string user; // empty: the user the process runs as
    std::string passwordFile;
    bool passwordPrompt = false;
    std::string logFile;
    int verbosity = 0;
};

// One option as it was defined: its names, and what it takes.
struct OptionInfo {
    std::vector<std::string> names; // "-f", "--file"; a positional's name ("PATH")
    bool positional = false;
    bool takesValue = false;
    std::vector<std::string> choices; // the only values it takes, when it names them
};

// The options of one command ("" for the program's own), in their order.
struct CommandInfo {
    std::string name;
    std::vector<OptionInfo> options;
};

class OptionSet;

// One defined option; its further properties are set through it.
class DefinedOption {
public:
    // The option must be given.
    DefinedOption &required();
    // It takes only these values.
    DefinedOption &oneOf(const std::vector<std::string> &choices);
    // It cannot be given together with other.
    DefinedOption &excludes(const DefinedOption &other);

private:
    friend class OptionSet;
    DefinedOption(CLI::Option *option, std::vector<OptionInfo> &infos, size_t index)
        : option_(option), infos_(&infos), index_(index)
    {
    }

    CLI::Option *option_;
    std::vector<OptionInfo> *infos_; // of the command, which stays while its options are defined
    size_t index_;
};

// Where a command (or the program itself) defines its options. names are
// "-f,--file" for an option, "PATH" for a positional argument. The values
// are written into the variables given once the command line is parsed, and
// taken exactly as given (a value "[a,b]" is no list).
class OptionSet {
public:
    // A flag: true when given.
    DefinedOption flag(const char *names, bool &value, const char *help);
    // A flag that counts how often it is given (-vv is 2).
    DefinedOption count(const char *names, int &value, const char *help);
    // An option with one value.
    DefinedOption value(const char *names, std::string &value, const char *help);
    // An option that may be given again, one value each time; a positional
    // argument that takes all that remain.
    DefinedOption values(const char *names, std::vector<std::string> &values, const char *help);
    // The examples and notes that end the command's --help.
    void examples(const char *text);

private:
    friend class CommandLine;
    struct Bound;
    OptionSet(CLI::App &app, CommandInfo &info, Bound &bound) : app_(app), info_(info), bound_(bound) {}
    size_t note(const char *names, bool takesValue);
    DefinedOption defined(CLI::Option *option, size_t index) { return DefinedOption(option, info_.options, index); }

    CLI::App &app_;
    CommandInfo &info_;
    Bound &bound_;
};

// One command: its options, help and examples, and its job.
class Command {
public:
    Command(const char *name, const char *summary) : name_(name), summary_(summary) {}
    virtual ~Command() = default;
    Command(const Command &) = delete;
    Command &operator=(const Command &) = delete;

    // The name on the command line, and the line --help shows for it.
    const char *name() const { return name_; }
    const char *summary() const { return summary_; }

    // Defines the command's options (bound to the command's own), their help and the examples.
    virtual void define(OptionSet &options) = 0;
    // Once the command line is read: completes and checks what the parser
    // cannot. False, with the reason written to err, when the command line
    // is wrong. now is the reference of relative times ("--since 2h").
    virtual bool check(std::ostream & /*err*/, int64_t /*now*/) { return true; }
    // Before the job: names given for this machine's file system become the
    // TSA's names (relative to cwd, the working directory, or "" when it is
    // not known).
    virtual void takeLocalNames(const GlobalOptions & /*globals*/, std::string_view /*cwd*/) {}
    // Does the job; its exit status.
    virtual int run(const GlobalOptions &globals) = 0;

private:
    const char *name_;
    const char *summary_;
};

// What the command line asks for.
struct ParsedCommandLine {
    GlobalOptions globals;
    Command *command = nullptr; // the command given (nullptr: none, with --version)
    bool showVersion = false;
};

// Parses the command line against the commands. Returns -1 when the command
// is to run (or, with showVersion set, the version to be shown); otherwise
// the exit status: 0 after --help (written to out), 2 for a command line that
// is wrong (the reason written to err). now is the reference of relative
// times such as "--since 2h".
int parseCommandLine(int argc, const char *const *argv, const std::vector<std::unique_ptr<Command>> &commands,
                     ParsedCommandLine &parsed, std::ostream &out, std::ostream &err, int64_t now);

class CommandLine;

// The command line built once and parsed again and again, each parse as
// parseCommandLine's on a new one: every option's variable is set back to
// the value it had when it was defined. For callers that parse many command
// lines (a fuzz target); the program parses one.
class CommandLineParser {
public:
    explicit CommandLineParser(const std::vector<std::unique_ptr<Command>> &commands);
    ~CommandLineParser();
    CommandLineParser(const CommandLineParser &) = delete;
    CommandLineParser &operator=(const CommandLineParser &) = delete;

    int parse(int argc, const char *const *argv, ParsedCommandLine &parsed, std::ostream &out, std::ostream &err,
              int64_t now);

private:
    std::unique_ptr<CommandLine> line_;
};

// Every option the program and each command define, the program's own first:
// what the manual page and the shell completion must offer.
std::vector<CommandInfo> describeCommandLine(const std::vector<std::unique_ptr<Command>> &commands);

} // namespace kxsms

#endif
