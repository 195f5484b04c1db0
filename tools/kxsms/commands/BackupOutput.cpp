#include "commands/BackupOutput.h"

namespace kxsms {

void countIn(Progress &progress, BackupOutput::Count what, uint64_t amount)
{
    Progress::Tally tally;
    countIn(tally, what, amount);
    progress.add(tally);
}

void countIn(Progress::Tally &tally, BackupOutput::Count what, uint64_t amount)
{
    switch (what) {
    case BackupOutput::Count::Failed:
        tally.failed += amount;
        break;
    case BackupOutput::Count::Skipped:
        ++tally.skipped;
        break;
    case BackupOutput::Count::Unchanged:
        ++tally.unchanged;
        break;
    case BackupOutput::Count::Done:
        ++tally.done;
        break;
    case BackupOutput::Count::DoneButFailed:
        ++tally.done;
        ++tally.failed;
        break;
    case BackupOutput::Count::FileData:
        tally.fileBytes += amount;
        break;
    case BackupOutput::Count::Bytes:
        tally.bytes += amount;
        break;
    }
}

} // namespace kxsms
