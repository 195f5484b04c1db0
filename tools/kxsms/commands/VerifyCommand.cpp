// verify: read the whole archive and check its structure and every checksum
// without restoring anything.
#include "frame/ArchiveSecrets.h"
#include "commands/ArchiveListing.h"
#include "commands/VerifyCommand.h"

namespace kxsms {

namespace {

const char *const c_VerifyExamples = R"(
Examples:
  kxsms verify -f a.kxa
  ssh host 'cat a.kxa' | kxsms verify -f -
)";

} // namespace

VerifyCommand::VerifyCommand() : Command("verify", "check an archive's structure and every checksum") {}

void VerifyCommand::define(OptionSet &options)
{
    options.value("-f,--file", options_.archive, "the archive to read; - for standard input").required();
    defineReadingSecrets(options);
    options.examples(c_VerifyExamples);
}

int VerifyCommand::run(const GlobalOptions &globals)
{
    Progress progress("verify", globals.verbosity);
    const int status = readArchive(options_.archive, progress, true,
                                   [](const format::MemberDescriptor &, ArchiveReader &) { return true; });
    if (status == c_ExitOk || status == c_ExitSomeFailed)
        progress.summary(status == c_ExitOk ? "the archive is intact" : "the archive is damaged");
    return status;
}

} // namespace kxsms
