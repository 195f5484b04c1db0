#include "commands/ArchiveFlagCheck.h"

#include <vector>

#include "frame/FailureText.h"
#include "frame/ModuleLog.h"
#include "io/Text.h"

namespace kxsms {

bool archiveFlagsCleared(CKXSMS &kx, const std::string &name, NameStyle style, Progress &progress)
{
    if (name.empty())
        return true;
    std::vector<char> path(name.begin(), name.end());
    path.push_back('\0');
    bool archive = true;
    const unsigned int code =
        kx.ScanDataSetInfo(path.data(), nullptr, 0, nullptr, 0, nullptr, &archive, nullptr, nullptr, nullptr);
    // The TSA writes the clears it holds as this look begins, and says why
    // when it cannot.
    const std::string log = takeModuleLog();
    if (code == 0 && !archive)
        return true;
    // Why: the TSA's own words, else the text of the SMS code behind a
    // failed look.
    std::string why = tsaDetail(log);
    if (const std::optional<SmsCause> cause = lastSmsCause(log); why.empty() && code != 0 && cause)
        why = cause->text;
    progress.message("warning: the archive flags could not be cleared (" + printable(name, style) +
                     (code == 0 ? " still reads as changed" : " can no longer be asked") +
                     (why.empty() ? "" : ": " + why) + "); the next incremental backup will save those data sets again");
    return false;
}

bool clearsRecorded(const std::string &log, Progress &progress)
{
    const std::string why = tsaDetail(log);
    if (why.empty())
        return true;
    progress.message("warning: the archive flags could not be cleared (" + why +
                     "); the next incremental backup will save those data sets again");
    return false;
}

} // namespace kxsms
