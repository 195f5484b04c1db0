#include "commands/BackupOutput.h"

namespace kxsms {

void countIn(Progress &progress, BackupOutput::Count what, uint64_t amount)
{
    switch (what) {
    case BackupOutput::Count::Failed:
        progress.failed(amount);
        break;
    case BackupOutput::Count::Skipped:
        progress.skipped();
        break;
    case BackupOutput::Count::Unchanged:
        progress.unchanged();
        break;
    case BackupOutput::Count::Done:
        progress.done();
        break;
    case BackupOutput::Count::DoneButFailed:
        progress.doneButFailed();
        break;
    case BackupOutput::Count::FileData:
        progress.fileData(amount);
        break;
    case BackupOutput::Count::Bytes:
        progress.add(amount);
        break;
    }
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
