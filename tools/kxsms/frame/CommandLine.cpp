// The command line: subcommands, options and their checks (CLI11).
#include "frame/CommandLine.h"

#include <map>
#include <ostream>

#include <CLI/CLI.hpp>

#include "frame/SinceTime.h"

namespace kxsms {

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

// The examples each subcommand's --help shows.
const char *const c_LsExamples = R"(
Examples:
  kxsms ls /etc                  the data sets directly below /etc
  kxsms ls -rl /srv/data         the whole subtree with kind, size and time
  kxsms ls -r --json /srv | jq -r '.[].name'
)";
const char *const c_InfoExamples = R"(
Examples:
  kxsms info /etc/passwd
  kxsms --tsa dir info '[Root]' --json
)";
const char *const c_BackupExamples = R"(
Examples:
  kxsms backup /home /etc -f /backup/a.kxa
  kxsms backup /src --exclude '*.o' --exclude /src/cache -f src.kxa
  kxsms backup /srv --incremental --clear-archive --zstd -f - | ssh host 'cat > inc.kxa'
  kxsms backup -n /home --exclude '.cache'     what would be saved, without saving
)";
const char *const c_RestoreExamples = R"(
Examples:
  kxsms restore -f a.kxa --to /tmp/r           below /tmp/r (/etc/x -> /tmp/r/etc/x)
  kxsms restore -f a.kxa --in-place /etc/ssh   /etc/ssh back in its place, newer files kept
  kxsms restore -n -f a.kxa --in-place         what would be written and what kept
  kxsms restore -f full.kxa -f inc1.kxa -f inc2.kxa --to /tmp/r
                                               a chain, oldest first: the tree as inc2 lists it

A restore needs --to DIR or --in-place. --to replaces what exists below DIR
(--overwrite always); --in-place keeps data sets that are not older than the
archive's copies (--overwrite newer). PATH selects members at or below it.
A chain also removes what the newest archive no longer lists, by the same rule.
)";
const char *const c_ListExamples = R"(
Examples:
  kxsms list -f a.kxa
  kxsms list -f a.kxa /etc --exclude '*.conf'
  kxsms list -f a.kxa --json | jq -r '.[].name'
)";
const char *const c_VerifyExamples = R"(
Examples:
  kxsms verify -f a.kxa
  ssh host 'cat a.kxa' | kxsms verify -f -
)";
const char *const c_RmExamples = R"(
Examples:
  kxsms rm /tmp/old.txt /tmp/older.txt
  kxsms rm -r /tmp/build           the subtree, children before their parents
)";

constexpr char c_Marker = '\x01';

void unprotect(std::string &value)
{
    if (!value.empty() && value[0] == c_Marker)
        value.erase(0, 1);
}

} // namespace

const char *tsaOptionName(KXSMS_TSA_TYPE type)
{
    switch (type) {
    case KXSMS_TSA_DIRECTORY: return "dir";
    case KXSMS_TSA_GROUPWISE: return "gw";
    default: return "fs";
    }
}

int parseCommandLine(int argc, const char *const *argv, Options &options, bool &showVersion, std::ostream &out,
                     std::ostream &err, int64_t now)
{
    showVersion = false;
    // One --exclude takes one value (allow_extra_args(false)); a value such
    // as the directory's "[Root]" is no bracketed list (see protect()).
    CLI::App app{"kxsms: back up, restore, list and verify data through the KXSMS module", "kxsms"};
    app.footer(c_Examples);
    app.fallthrough();
    app.require_subcommand(0, 1);

    std::string tsa = "fs";
    app.add_option("--tsa", tsa, "TSA to connect to: fs (file system), dir (directory), gw (GroupWise)")
        ->check(CLI::IsMember({"fs", "dir", "gw"}));
    app.add_option("-u,--user", options.user, "user name for the login (default: the current user)");
    app.add_option("--password-file", options.passwordFile, "read the password from the first line of this file");
    app.add_flag("--password-prompt", options.passwordPrompt, "ask for the password on the terminal before logging in");
    app.add_option("--log", options.logFile, "append the module's log to this file");
    app.add_flag("-v,--verbose", options.verbosity, "more detail on stderr (-vv: the module's debug lines too)");
    app.add_flag("--version", showVersion, "show the versions of kxsms and of the module");

    auto *resources = app.add_subcommand("resources", "list the resources of the target service");
    resources->footer("\nExamples:\n  kxsms resources\n  kxsms --tsa gw resources\n");

    auto *ls = app.add_subcommand("ls", "list the data sets below PATH (default: the TSA's root)");
    ls->add_option("PATH", options.path, "where to start");
    ls->add_flag("-r,--recursive", options.recursive, "the whole subtree, PATH itself first");
    ls->add_flag("-l,--long", options.longFormat, "kind, size and modification time before each name");
    ls->add_flag("--json", options.json, "a JSON array of objects");
    ls->footer(c_LsExamples);

    auto *info = app.add_subcommand("info", "show what the TSA reports of one data set");
    info->add_option("PATH", options.path, "the data set")->required();
    info->add_flag("--json", options.json, "a JSON object");
    info->footer(c_InfoExamples);

    std::string since;
    auto *backup = app.add_subcommand("backup", "back up the subtrees at PATH... into an archive");
    backup->add_option("PATH", options.paths, "data sets to back up, each with everything below it")->required();
    backup->add_option("-f,--file", options.archive, "the archive to write; - for standard output")->required();
    backup->add_option("--exclude", options.excludes,
                       "leave out this data set, or what matches this shell pattern (with its subtree); repeatable")
        ->allow_extra_args(false);
    backup->add_option("--since", since, "only data sets modified since TIME (parents always)");
    backup->add_flag("--incremental", options.incremental, "only data sets whose archive flag is set (parents always)");
    backup->add_flag("--clear-archive", options.clearArchive, "clear the archive flag of each data set saved");
    backup->add_flag("--zstd", options.zstd, "compress the archive with zstd");
    backup->add_flag("-n,--dry-run", options.dryRun, "show what would be saved; write no archive, clear no flag");
    backup->footer(c_BackupExamples);

    std::string overwrite;
    auto *restore = app.add_subcommand("restore", "restore the data sets of an archive (--to DIR or --in-place)");
    restore->add_option("PATH", options.paths, "restore only these members and what lies below them");
    restore
        ->add_option("-f,--file", options.archives,
                     "the archive to read; - for standard input; again for a chain: the full backup, then each "
                     "incremental backup after it, oldest first")
        ->required()
        ->allow_extra_args(false);
    auto *to = restore->add_option("--to", options.to, "restore below this directory");
    restore->add_flag("--in-place", options.inPlace, "restore over the original names")->excludes(to);
    restore->add_option("--overwrite", overwrite,
                        "existing data sets: always (default with --to), newer (default with --in-place), never")
        ->check(CLI::IsMember({"always", "newer", "never"}));
    bool noXattrs = false;
    restore->add_flag("--no-xattrs", noXattrs, "do not restore extended attributes and ACLs");
    restore->add_option("--exclude", options.excludes, "leave out this member or what matches this shell pattern")
        ->allow_extra_args(false);
    restore->add_flag("-n,--dry-run", options.dryRun, "show what would be written and what kept; change nothing");
    restore->footer(c_RestoreExamples);

    auto *list = app.add_subcommand("list", "list the members of an archive");
    list->add_option("-f,--file", options.archive, "the archive to read; - for standard input")->required();
    list->add_option("PATH", options.paths, "list only these members and what lies below them");
    list->add_option("--exclude", options.excludes, "leave out this member or what matches this shell pattern")
        ->allow_extra_args(false);
    list->add_flag("--json", options.json, "a JSON array of objects");
    list->footer(c_ListExamples);

    auto *verify = app.add_subcommand("verify", "check an archive's structure and every checksum");
    verify->add_option("-f,--file", options.archive, "the archive to read; - for standard input")->required();
    verify->footer(c_VerifyExamples);

    auto *rm = app.add_subcommand("rm", "delete data sets");
    rm->add_option("PATH", options.paths, "the data sets")->required();
    rm->add_flag("-r,--recursive", options.recursive, "a parent with everything below it, children first");
    rm->footer(c_RmExamples);

    // CLI11 reads "[a,b]" given to an option of several values as a list.
    // Names are taken as given: a value that starts with '[' (or with the
    // marker itself) gets a marker byte before it that is taken off after.
    std::vector<std::string> protectedArguments(argv + 1, argv + argc);
    for (std::string &argument : protectedArguments)
        if (!argument.empty() && (argument[0] == '[' || argument[0] == c_Marker))
            argument.insert(argument.begin(), c_Marker);
    std::vector<std::string> reversed(protectedArguments.rbegin(), protectedArguments.rend());
    try {
        app.parse(reversed);
        for (std::string *value : {&options.path, &options.to, &options.archive, &options.user, &options.passwordFile,
                                   &options.logFile})
            unprotect(*value);
        for (auto *values : {&options.paths, &options.excludes, &options.archives})
            for (std::string &value : *values)
                unprotect(value);
    } catch (const CLI::ParseError &e) {
        const int status = app.exit(e, out, err);
        return status == 0 ? c_ExitOk : c_ExitStopped;
    }

    options.tsaGiven = app.count("--tsa") > 0;
    options.tsa = tsa == "dir" ? KXSMS_TSA_DIRECTORY : tsa == "gw" ? KXSMS_TSA_GROUPWISE : KXSMS_TSA_FILE_SYSTEM;
    options.xattrs = !noXattrs;
    if (overwrite.empty())
        overwrite = options.inPlace ? "newer" : "always";
    options.overwrite = overwrite == "never" ? Overwrite::Never : overwrite == "newer" ? Overwrite::Newer : Overwrite::Always;

    const std::map<CLI::App *, Command> commands = {
        {resources, Command::Resources}, {ls, Command::Ls},       {info, Command::Info},
        {backup, Command::Backup},       {restore, Command::Restore}, {list, Command::List},
        {verify, Command::Verify},       {rm, Command::Rm},
    };
    for (const auto &[sub, command] : commands)
        if (sub->parsed())
            options.command = command;

    if (!options.archives.empty())
        options.archive = options.archives.front();

    if (showVersion)
        return -1;
    if (options.command == Command::None) {
        err << app.help() << "kxsms: a command is required\n";
        return c_ExitStopped;
    }
    if (options.command == Command::Restore && options.to.empty() && !options.inPlace) {
        err << "kxsms restore: say where to restore: --to DIR (below DIR) or --in-place (over the original "
               "names, keeping data that is not older than the archive's)\n";
        return c_ExitStopped;
    }
    if (!since.empty()) {
        std::string error;
        options.since = parseTime(since, now, error);
        if (!options.since) {
            err << "kxsms: --since: " << error << "\n";
            return c_ExitStopped;
        }
    }
    return -1;
}

} // namespace kxsms
