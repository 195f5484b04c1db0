// verify: read the whole archive and check its structure and every checksum
// without restoring anything.
#include "commands/ArchiveListing.h"
#include "commands/Commands.h"

namespace kxsms {

int runVerify(const Options &options)
{
    Progress progress("verify", options.verbosity);
    const int status = readArchive(options, progress, true, [](const format::MemberDescriptor &, ArchiveReader &) { return true; });
    if (status == c_ExitOk || status == c_ExitSomeFailed)
        progress.summary(status == c_ExitOk ? "the archive is intact" : "the archive is damaged");
    return status;
}

} // namespace kxsms
