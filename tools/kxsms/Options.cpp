// The command line: subcommands, options and their checks (CLI11).
#include "Options.h"

#include <map>
#include <ostream>

#include <CLI/CLI.hpp>

#include "SinceTime.h"

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
  kxsms restore -f a.kxa --overwrite never     restore what is missing, keep the rest
  KXSMS_PASSWORD=secret kxsms --tsa gw -u admin ls 'DOM1:\'

Names are the TSA's data-set names in the agent's form: paths such as /etc
for the file-system TSA, DOM1:\dir for GroupWise, .CN=x.O=y.[Root] for the
directory. The password comes from --password-file, KXSMS_PASSWORD or a prompt
on a terminal; without any of them it is empty.

Exit status: 0 all done, 1 some data sets failed, 2 the job stopped or could not start.)";

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
    CLI::App app{"kxsms: back up, restore, list and verify data through the KXSMS module", "kxsms"};
    app.footer(c_Examples);
    app.fallthrough();
    app.require_subcommand(0, 1);

    std::string tsa = "fs";
    app.add_option("--tsa", tsa, "TSA to connect to: fs (file system), dir (directory), gw (GroupWise)")
        ->check(CLI::IsMember({"fs", "dir", "gw"}));
    app.add_option("-u,--user", options.user, "user name for the login (default: the current user)");
    app.add_option("--password-file", options.passwordFile, "read the password from the first line of this file");
    app.add_option("--log", options.logFile, "append the module's log to this file");
    app.add_flag("-v,--verbose", options.verbosity, "more detail on stderr (-vv: the module's debug lines too)");
    app.add_flag("--version", showVersion, "show the versions of kxsms and of the module");

    auto *resources = app.add_subcommand("resources", "list the resources of the target service");

    auto *ls = app.add_subcommand("ls", "list the data sets below PATH (default: the TSA's root)");
    ls->add_option("PATH", options.path, "where to start");
    ls->add_flag("-r,--recursive", options.recursive, "the whole subtree, PATH itself first");
    ls->add_flag("-l,--long", options.longFormat, "kind, size and modification time before each name");
    ls->add_flag("--json", options.json, "a JSON array of objects");

    auto *info = app.add_subcommand("info", "show what the TSA reports of one data set");
    info->add_option("PATH", options.path, "the data set")->required();
    info->add_flag("--json", options.json, "a JSON object");

    std::string since;
    auto *backup = app.add_subcommand("backup", "back up the subtrees at PATH... into an archive");
    backup->add_option("PATH", options.paths, "data sets to back up, each with everything below it")->required();
    backup->add_option("-f,--file", options.archive, "the archive to write; - for standard output")->required();
    backup->add_option("--exclude", options.excludes, "leave out this data set (with its subtree); repeatable");
    backup->add_option("--since", since, "only data sets modified since TIME (parents always)");
    backup->add_flag("--incremental", options.incremental, "only data sets whose archive flag is set (parents always)");
    backup->add_flag("--clear-archive", options.clearArchive, "clear the archive flag of each data set saved");
    backup->add_flag("--zstd", options.zstd, "compress the archive with zstd");

    std::string overwrite = "always";
    auto *restore = app.add_subcommand("restore", "restore the data sets of an archive");
    restore->add_option("-f,--file", options.archive, "the archive to read; - for standard input")->required();
    restore->add_option("--to", options.to, "restore below this directory instead of the original places");
    restore->add_option("--overwrite", overwrite, "existing data sets: always (default), newer, never")
        ->check(CLI::IsMember({"always", "newer", "never"}));
    bool noXattrs = false;
    restore->add_flag("--no-xattrs", noXattrs, "do not restore extended attributes and ACLs");

    auto *list = app.add_subcommand("list", "list the members of an archive");
    list->add_option("-f,--file", options.archive, "the archive to read; - for standard input")->required();
    list->add_flag("--json", options.json, "a JSON array of objects");

    auto *verify = app.add_subcommand("verify", "check an archive's structure and every checksum");
    verify->add_option("-f,--file", options.archive, "the archive to read; - for standard input")->required();

    auto *rm = app.add_subcommand("rm", "delete one data set");
    rm->add_option("PATH", options.path, "the data set")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const int status = app.exit(e, out, err);
        return status == 0 ? c_ExitOk : c_ExitStopped;
    }

    options.tsaGiven = app.count("--tsa") > 0;
    options.tsa = tsa == "dir" ? KXSMS_TSA_DIRECTORY : tsa == "gw" ? KXSMS_TSA_GROUPWISE : KXSMS_TSA_FILE_SYSTEM;
    options.xattrs = !noXattrs;
    options.overwrite = overwrite == "never" ? Overwrite::Never : overwrite == "newer" ? Overwrite::Newer : Overwrite::Always;

    const std::map<CLI::App *, Command> commands = {
        {resources, Command::Resources}, {ls, Command::Ls},       {info, Command::Info},
        {backup, Command::Backup},       {restore, Command::Restore}, {list, Command::List},
        {verify, Command::Verify},       {rm, Command::Rm},
    };
    for (const auto &[sub, command] : commands)
        if (sub->parsed())
            options.command = command;

    if (showVersion)
        return -1;
    if (options.command == Command::None) {
        err << app.help() << "kxsms: a command is required\n";
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
