// A backup driven through several module objects at once (backup -j N).
//
// On the file-system TSA (unless the backup clears archive flags or keeps
// to one file system), every object scans. The first scans the path one
// level deep and queues the directories it finds; each object takes a
// queued directory and scans it, one level deep while fewer directories
// wait than there are objects (queueing its own), else with all it holds.
// Each object saves what its scans return, a data set at a time, so the
// scans, opens and reads of all objects overlap. The first object saves
// the files with several names its scans meet; the others leave theirs to
// it, and it saves them at the end. Its connection saves an inode's data
// under the first of its names and the others as links to it.
//
// Otherwise the first object scans, as a backup with one object does, and
// saves the directories and the small files itself (what the scan could not
// give of a directory's contents is reported on its connection; a small file
// costs less to read where the scan stands than to open by name elsewhere).
// Every larger data set the scan returns becomes an item that one of the
// other objects opens by name and reads, each object on a thread of its
// own. Files with several names all go to one object, whose connection
// knows the names it saved.
//
// No thread of its own writes the archive: the items (a data set, or a run
// of them, of one object) are written strictly in the order they were
// begun, each as it is read, by whichever thread finishes or hands over
// what is ready at the front (a thread that waits, for room or for work,
// writes meanwhile, so a large file streams through while its reader reads
// on). The archive is one stream in the format a backup with one object
// writes: a directory's item is begun before it is queued or handed on, so
// parents come before their children, and the first name of a file before
// its links.
//
// Each object reads into a ring of its own (c_BytesPerObject): what is read
// ahead of the archive is bounded in bytes, whatever the sizes of the
// files, and a small file takes only the bytes it holds. The queues of
// directories and of files with several names keep 4096 entries in memory
// each; more go to a temporary file.
//
// With --clear-archive, a reading object's clears are made as it reads,
// ahead of the archive. Its TSA takes them into effect only at its logout
// (opening a file by name takes none), and the command logs the readers
// out only once the archive is complete and durable; a job that ends early
// ends without logging out (see BackupCommand). A scan that begins at a
// directory takes its connection's clears into effect: so such a backup
// scans with the first object only.
#ifndef KXSMS_TOOLS_PARALLELBACKUP_H
#define KXSMS_TOOLS_PARALLELBACKUP_H

#include <memory>
#include <string>
#include <vector>

#include "archive/ArchiveWriter.h"
#include "commands/ArchiveFlagCheck.h"
#include "commands/BackupCommand.h"
#include "commands/BackupJob.h"
#include "frame/ModuleSession.h"
#include "frame/Progress.h"

namespace kxsms {

class Pipeline;

class ParallelBackup {
public:
    // What each object may read ahead of the archive, in bytes: 32 of the
    // module's blocks, or many more small files.
    static constexpr size_t c_BytesPerObject = 32 * 64 * 1024;

    // Files the scan gives as smaller than this are saved by the scanning
    // object itself, at its scan position: opening one by name on another
    // connection (and the wake-ups to hand it over and back) costs more
    // than reading it. Larger files go to the readers and stream in
    // parallel. All names of one inode have one size, so they stay with
    // one connection, which saves the later names as links.
    static constexpr unsigned long long c_HandedOverFrom = 256 * 1024;

    // Whether every object scans (see above): the file-system TSA, without
    // --clear-archive or --one-file-system.
    static bool scansInParallel(const BackupOptions &options, KXSMS_TSA_TYPE type);

    // sessions[0] scans; each of the others (at least one) reads, or scans.
    ParallelBackup(const BackupOptions &options, std::vector<std::unique_ptr<ModuleSession>> &sessions,
                   ArchiveWriter &writer, Progress &progress, const ArchiveIdentity &archive);
    ~ParallelBackup();
    ParallelBackup(const ParallelBackup &) = delete;
    ParallelBackup &operator=(const ParallelBackup &) = delete;

    // Backs up everything below path; returns once all of it is in the
    // archive. False when the job must stop. Throws IoError when the
    // archive cannot be written.
    bool backUp(const std::string &path);

    // Once what the readers saved of `path` is durable: each reader looks
    // at it, so that its TSA takes the clears of the readers' archive flags
    // into effect before the next path's scan (a look at a directory, or at
    // a data set the connection cleared, does).
    void settle(const std::string &path);

    // Ends what the scan has open (finish does the rest).
    void abandon();

    // Ends the reading threads (each abandons the data set it has open) and
    // what the scan has open. Before the archive's end record is written.
    void finish();

    const LastSaved &lastSaved() const;

private:
    std::unique_ptr<Pipeline> pipeline_;
};

} // namespace kxsms

#endif
