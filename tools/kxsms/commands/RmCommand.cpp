// rm: deletes data sets on the target; -r each subtree, children before
// their parents.
#include <ctime>
#include <vector>

#include <fmt/format.h>

#include "commands/RmCommand.h"
#include "frame/ModuleSession.h"
#include "frame/PathRules.h"
#include "io/Text.h"

namespace kxsms {

namespace {

const char *const c_RmExamples = R"(
Examples:
  kxsms rm /tmp/old.txt /tmp/older.txt
  kxsms rm -r /tmp/build           the subtree, children before their parents
)";

// The data sets of the subtree at path, parents before their children (the
// scan's order); false when the scan failed (reported).
bool subtree(ModuleSession &session, const std::string &given, std::vector<std::string> &names, int &status)
{
    CKXSMS &kx = session.kx();
    kx.SetScanStartTime(time(nullptr));
    kx.SetScanTraverse(true);
    std::string path = given;
    char name[KXSMS_NAME_BUFFER + 8];
    unsigned int sequence = 0;
    for (;;) {
        bool end = false;
        const unsigned int code = kx.Scan(path.data(), &sequence, name, sizeof name, nullptr, 0, nullptr, nullptr,
                                          nullptr, nullptr, nullptr, nullptr, &end);
        if (code != 0) {
            status = std::max(status, session.failureStatus("cannot list " + printable(path, session.names()), code));
            if (sequence != 0)
                kx.AbortScan(&sequence);
            return false;
        }
        if (end)
            return true;
        names.emplace_back(name);
    }
}

bool isParent(CKXSMS &kx, std::string &path)
{
    bool parent = false, archive = false;
    long modified = 0, accessed = 0;
    unsigned long long size = 0;
    return kx.ScanDataSetInfo(path.data(), nullptr, 0, nullptr, 0, &parent, &archive, &modified, &accessed, &size) ==
               0 &&
           parent;
}

} // namespace

RmCommand::RmCommand() : Command("rm", "delete data sets") {}

void RmCommand::define(OptionSet &options)
{
    options.values("PATH", options_.paths, "the data sets").required();
    options.flag("-r,--recursive", options_.recursive, "a parent with everything below it, children first");
    options.examples(c_RmExamples);
}

void RmCommand::takeLocalNames(const GlobalOptions &globals, std::string_view cwd)
{
    for (std::string &path : options_.paths)
        takeLocalPath(path, cwd, globals.tsa);
}

int RmCommand::run(const GlobalOptions &globals)
{
    const RmOptions &options = options_;
    std::unique_ptr<ModuleSession> session = ModuleSession::open(globals, globals.tsa);
    if (!session)
        return c_ExitStopped;
    CKXSMS &kx = session->kx();
    int status = c_ExitOk;
    for (const std::string &given : options.paths) {
        std::vector<std::string> names;
        if (options.recursive) {
            if (!subtree(*session, given, names, status)) {
                if (status == c_ExitStopped)
                    return status;
                continue;
            }
        } else {
            names.push_back(given);
        }
        // Children before their parents: the scan's order backwards.
        for (auto name = names.rbegin(); name != names.rend(); ++name) {
            const unsigned int code = kx.DeleteDataSet(name->data());
            if (code != 0) {
                std::string what = "cannot delete " + printable(*name, session->names());
                if (!options.recursive && isParent(kx, *name))
                    what += " (a parent is deleted only when empty; -r deletes what it holds first)";
                status = std::max(status, session->failureStatus(what, code));
                if (status == c_ExitStopped)
                    return status;
                continue;
            }
            if (options.recursive || globals.verbosity > 0)
                fmt::print(stderr, "kxsms: deleted {}\n", printable(*name, session->names()));
        }
    }
    return status;
}

} // namespace kxsms
