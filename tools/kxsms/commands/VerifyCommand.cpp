// verify: read the whole archive and check its structure and every checksum
// without restoring anything. Given a chain (several -f, oldest first), every
// archive is checked so, and then whether the chain holds each data set its
// newest archive lists in the version listed, as a restore of the chain
// would find it.
#include <algorithm>

#include "frame/ArchiveSecrets.h"
#include "commands/ArchiveListing.h"
#include "commands/ArchiveSource.h"
#include "commands/ChainCheck.h"
#include "commands/VerifyCommand.h"
#include "frame/Signals.h"

namespace kxsms {

namespace {

const char *const c_VerifyExamples = R"(
Examples:
  kxsms verify -f a.kxa
  ssh host 'cat a.kxa' | kxsms verify -f -
  kxsms verify -f full.kxa -f inc1.kxa -f inc2.kxa
                                   a chain, oldest first: every archive, and
                                   whether it holds each version inc2 lists
)";

// Reads one archive of a chain whole, each member handed to take; the
// worse of status and what the reading found.
int readLink(ArchiveSource &archive, Progress &progress, int status,
             const std::function<void(const format::MemberDescriptor &)> &take)
{
    const int read = readArchive(archive, progress, [&take](const format::MemberDescriptor &member, ArchiveReader &) {
        take(member);
        return true;
    });
    return std::max(status, read);
}

// The archives of a chain, oldest first: the links are checked first, as a
// restore does; then the newest archive is read, and the earlier ones newest
// first, each copy offered to the check as a restore would take it.
int verifyChain(const std::vector<std::string> &paths, Progress &progress)
{
    Archives archives;
    if (!openChain(paths, archives, progress))
        return c_ExitStopped;
    ArchiveSource &newest = *archives.back();
    progress.showNamesAs(newest.names());
    const std::vector<ChainLink> links = chainLinks(archives);
    if (const auto why = chainRefusal(links)) {
        progress.message(*why);
        return c_ExitStopped;
    }
    int status = c_ExitOk;
    if (const auto gap = chainGap(links)) {
        progress.message(*gap + "; checking each version " + newest.label() +
                         " lists against the copies the chain holds");
        status = c_ExitSomeFailed;
    }
    ChainCheck check;
    status = readLink(newest, progress, status,
                      [&check](const format::MemberDescriptor &member) { check.listNewest(member); });
    for (size_t i = archives.size() - 1; i-- > 0 && status < c_ExitStopped;)
        status = readLink(*archives[i], progress, status,
                          [&check](const format::MemberDescriptor &member) { check.offer(member); });
    if (status >= c_ExitStopped)
        return status;
    if (check.report(newest.label(), progress, newest.names()) > 0)
        status = c_ExitSomeFailed;
    return status;
}

} // namespace

VerifyCommand::VerifyCommand() : Command("verify", "check an archive's structure and every checksum") {}

void VerifyCommand::define(OptionSet &options)
{
    options
        .values("-f,--file", options_.archives,
                "the archive to read; - for standard input; again for a chain, oldest first: each archive is "
                "checked, and whether the chain holds every version its newest archive lists")
        .required();
    defineReadingSecrets(options);
    options.examples(c_VerifyExamples);
}

int VerifyCommand::run(const GlobalOptions &globals)
{
    Progress progress("verify", globals.verbosity);
    const bool chain = options_.archives.size() > 1;
    int status = c_ExitStopped;
    // An archive whose only faults are those its backup recorded in it (data
    // sets it could not read to their end, a job that stopped) is not damaged.
    bool recordedOnly = false;
    if (!chain) {
        ArchiveSource archive(options_.archives.front(), progress, true);
        status = readArchive(archive, progress, [](const format::MemberDescriptor &, ArchiveReader &) { return true; });
        recordedOnly = status == c_ExitSomeFailed && !archive.corrupted();
    } else {
        try {
            status = verifyChain(options_.archives, progress);
        } catch (const Interrupted &) {
            progress.message(interruptText());
            return interruptedStatus();
        } catch (const IoError &e) {
            progress.message(e.what());
            return c_ExitStopped;
        }
    }
    if (status == c_ExitOk)
        progress.summary(chain ? "the chain is intact and holds every version its newest archive lists"
                               : "the archive is intact");
    else if (status == c_ExitSomeFailed)
        progress.summary(chain ? "the chain is damaged or incomplete"
                         : recordedOnly
                             ? "the archive is undamaged, but its backup did not save everything whole (see above)"
                             : "the archive is damaged");
    return status;
}

} // namespace kxsms
