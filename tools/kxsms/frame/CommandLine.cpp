// The command line: the program's own options, each command's as the
// command defines them, and their checks (CLI11).
#include "frame/CommandLine.h"

#include <ostream>

#include <CLI/CLI.hpp>

namespace kxsms {

// The variables an OptionSet binds values to, so that each value can be
// taken back as given after parsing (see CommandLine::parse).
// They and the flags keep the values they had when they were bound, so that
// a command line parsed again starts from them (CommandLineParser).
struct OptionSet::Bound {
    std::vector<std::string *> values;
    std::vector<std::vector<std::string> *> lists;
    std::vector<std::pair<std::string *, std::string>> valuesAtStart;
    std::vector<std::pair<std::vector<std::string> *, std::vector<std::string>>> listsAtStart;
    std::vector<std::pair<bool *, bool>> flagsAtStart;
    std::vector<std::pair<int *, int>> countsAtStart;

    void setBack()
    {
        for (auto &[value, start] : valuesAtStart)
            *value = start;
        for (auto &[list, start] : listsAtStart)
            *list = start;
        for (auto &[flag, start] : flagsAtStart)
            *flag = start;
        for (auto &[count, start] : countsAtStart)
            *count = start;
    }
};

namespace {

const char *const c_Examples = R"(
Examples:
  kxsms resources                              list the target service's resources
  kxsms ls -l /etc                             list /etc with kind, size and time
  kxsms ls -r --json /srv/data | jq .          every data set below /srv/data, as JSON
  kxsms backup /home /etc -f /backup/a.kxa     back up two trees into one archive
  kxsms backup /home --exclude /home/tmp --zstd -f - | ssh host 'cat > a.kxa'
  kxsms backup /srv --incremental --clear-archive -f inc.kxa
                                               what changed since the last such backup
  kxsms backup /srv --since 7d -f week.kxa     data sets modified in the last 7 days
  kxsms verify -f a.kxa                        check every checksum without restoring
  kxsms restore -f a.kxa --to /tmp/r           restore below /tmp/r (/etc/x -> /tmp/r/etc/x)
  kxsms restore -f a.kxa --in-place            put back the original names, keeping newer data
  kxsms restore -f a.kxa --to /tmp/r /etc/ssh  only /etc/ssh and what lies below it
  kxsms list -f a.kxa --exclude '*.o'          the members, without object files
  KXSMS_PASSWORD=secret kxsms --tsa gw -u admin ls 'DOM1:\'

Names are the TSA's data-set names in the agent's form: paths such as /etc
for the file-system TSA, DOM1:\dir for GroupWise, .CN=x.O=y.[Root] for the
directory. The login uses the password of --password-file or KXSMS_PASSWORD,
else the empty one; when the TSA answers "Login denied" and standard input is
a terminal, kxsms asks once (--password-prompt asks at once).

Exit status: 0 all done, 1 some data sets failed, 2 the job stopped or could not start.)";

// CLI11 reads "[a,b]" given to an option of several values as a list.
// Names are taken as given: a value that starts with '[' (or with the
// marker itself) gets a marker byte before it that is taken off after.
constexpr char c_Marker = '\x01';

void unprotect(std::string &value)
{
    if (!value.empty() && value[0] == c_Marker)
        value.erase(0, 1);
}

std::vector<std::string> namesOf(const char *names)
{
    std::vector<std::string> result;
    std::string_view rest(names);
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        result.emplace_back(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return result;
}

} // namespace

DefinedOption &DefinedOption::required()
{
    option_->required();
    return *this;
}

DefinedOption &DefinedOption::oneOf(const std::vector<std::string> &choices)
{
    option_->check(CLI::IsMember(choices));
    (*infos_)[index_].choices = choices;
    return *this;
}

DefinedOption &DefinedOption::excludes(const DefinedOption &other)
{
    option_->excludes(other.option_);
    return *this;
}

size_t OptionSet::note(const char *names, bool takesValue)
{
    OptionInfo &info = info_.options.emplace_back();
    info.names = namesOf(names);
    info.positional = names[0] != '-';
    info.takesValue = takesValue;
    return info_.options.size() - 1;
}

DefinedOption OptionSet::flag(const char *names, bool &value, const char *help)
{
    bound_.flagsAtStart.emplace_back(&value, value);
    return defined(app_.add_flag(names, value, help), note(names, false));
}

DefinedOption OptionSet::count(const char *names, int &value, const char *help)
{
    bound_.countsAtStart.emplace_back(&value, value);
    return defined(app_.add_flag(names, value, help), note(names, false));
}

DefinedOption OptionSet::value(const char *names, std::string &value, const char *help)
{
    bound_.values.push_back(&value);
    bound_.valuesAtStart.emplace_back(&value, value);
    return defined(app_.add_option(names, value, help), note(names, true));
}

DefinedOption OptionSet::values(const char *names, std::vector<std::string> &values, const char *help)
{
    bound_.lists.push_back(&values);
    bound_.listsAtStart.emplace_back(&values, values);
    CLI::Option *option = app_.add_option(names, values, help);
    const size_t index = note(names, true);
    // One value each time the option is given: a value after it is no
    // second one, but a positional argument.
    if (!info_.options[index].positional)
        option->allow_extra_args(false);
    return defined(option, index);
}

void OptionSet::examples(const char *text)
{
    app_.footer(text);
}

// The whole command line: the program's options, then each command with its own.
class CommandLine {
public:
    explicit CommandLine(const std::vector<std::unique_ptr<Command>> &commands)
        : app_("kxsms: back up, restore, list and verify data through the KXSMS module", "kxsms")
    {
        app_.footer(c_Examples);
        app_.fallthrough();
        app_.require_subcommand(0, 1);
        described_.reserve(commands.size() + 1); // each command's stays in place while it is defined

        OptionSet program(app_, described_.emplace_back(), bound_);
        program.value("--tsa", tsa_, "TSA to connect to: fs (file system), dir (directory), gw (GroupWise)")
            .oneOf({"fs", "dir", "gw"});
        program.value("-u,--user", globals_.user, "user name for the login (default: the current user)");
        program.value("--password-file", globals_.passwordFile, "read the password from the first line of this file");
        program.flag("--password-prompt", globals_.passwordPrompt,
                     "ask for the password on the terminal before logging in");
        program.value("--log", globals_.logFile, "append the module's log to this file");
        program.count("-v,--verbose", globals_.verbosity, "more detail on stderr (-vv: the module's debug lines too)");
        program.flag("--version", showVersion_, "show the versions of kxsms and of the module");

        for (const std::unique_ptr<Command> &command : commands) {
            CLI::App *sub = app_.add_subcommand(command->name(), command->summary());
            CommandInfo &info = described_.emplace_back();
            info.name = command->name();
            OptionSet options(*sub, info, bound_);
            command->define(options);
            subcommands_.emplace_back(sub, command.get());
        }
    }

    int parse(int argc, const char *const *argv, ParsedCommandLine &parsed, std::ostream &out, std::ostream &err,
              int64_t now)
    {
        std::vector<std::string> protectedArguments(argv + 1, argv + argc);
        for (std::string &argument : protectedArguments)
            if (!argument.empty() && (argument[0] == '[' || argument[0] == c_Marker))
                argument.insert(argument.begin(), c_Marker);
        std::vector<std::string> reversed(protectedArguments.rbegin(), protectedArguments.rend());
        try {
            app_.parse(reversed);
            for (std::string *value : bound_.values)
                unprotect(*value);
            for (std::vector<std::string> *values : bound_.lists)
                for (std::string &value : *values)
                    unprotect(value);
        } catch (const CLI::ParseError &e) {
            // --help and --version print as the parser does; a mistake is
            // one line of kxsms's own.
            if (e.get_exit_code() == 0)
                return app_.exit(e, out, err) == 0 ? c_ExitOk : c_ExitStopped;
            err << "kxsms: " << e.what() << "; run with --help for more information\n";
            return c_ExitStopped;
        }

        globals_.tsaGiven = app_.count("--tsa") > 0;
        globals_.tsa = tsa_ == "dir" ? KXSMS_TSA_DIRECTORY : tsa_ == "gw" ? KXSMS_TSA_GROUPWISE : KXSMS_TSA_FILE_SYSTEM;
        parsed.globals = globals_;
        parsed.showVersion = showVersion_;
        parsed.command = nullptr;
        for (const auto &[sub, command] : subcommands_)
            if (sub->parsed())
                parsed.command = command;

        if (parsed.showVersion)
            return -1;
        if (parsed.command == nullptr) {
            err << app_.help() << "kxsms: a command is required\n";
            return c_ExitStopped;
        }
        return parsed.command->check(err, now) ? -1 : c_ExitStopped;
    }

    const std::vector<CommandInfo> &described() const { return described_; }

    // Back to the state of a command line just built.
    void setBack()
    {
        app_.clear();
        bound_.setBack();
    }

private:
    CLI::App app_;
    OptionSet::Bound bound_;
    std::vector<CommandInfo> described_;
    std::vector<std::pair<CLI::App *, Command *>> subcommands_;
    GlobalOptions globals_;
    std::string tsa_ = "fs";
    bool showVersion_ = false;
};

int parseCommandLine(int argc, const char *const *argv, const std::vector<std::unique_ptr<Command>> &commands,
                     ParsedCommandLine &parsed, std::ostream &out, std::ostream &err, int64_t now)
{
    CommandLine line(commands);
    return line.parse(argc, argv, parsed, out, err, now);
}

CommandLineParser::CommandLineParser(const std::vector<std::unique_ptr<Command>> &commands)
    : line_(std::make_unique<CommandLine>(commands))
{
}

CommandLineParser::~CommandLineParser() = default;

int CommandLineParser::parse(int argc, const char *const *argv, ParsedCommandLine &parsed, std::ostream &out,
                             std::ostream &err, int64_t now)
{
    line_->setBack();
    return line_->parse(argc, argv, parsed, out, err, now);
}

std::vector<CommandInfo> describeCommandLine(const std::vector<std::unique_ptr<Command>> &commands)
{
    return CommandLine(commands).described();
}

} // namespace kxsms
