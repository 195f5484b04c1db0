// What a failing system call does to a kxsms job: for each call on the files
// of a scope and each error, the exit statuses the job may end with and the
// words of its cause, one of which a failure line must carry, besides the
// name of the data set or archive. Every run is held to the invariants
// besides (SweepJob.h): no crash or hang, no exit 0 for a job not wholly
// done, no temporary file left, every entry of a restore's target as it was
// or as restored, no archive flag cleared for a data set the archive does
// not hold complete, a state store that reads whole, EINTR retried rather
// than reported.
//
// Statuses: 0 all done, 1 some data sets failed, 2 the job stopped (the
// archive could not be written or read, or the module took the error for
// one that ends a job: a full disk). 0 is listed where a failure of the call
// is harmless at some of its places: a first attempt made again another way,
// a look that only decides what to do, a descriptor that was only read. The
// job must then have done everything.
//
// A row may name faults of kxsms or the TSA it shows (Known): the test
// reports them as skipped, with the run, until they are mended.
#ifndef KXSMS_TESTS_SYSCALL_FAULTTABLE_H
#define KXSMS_TESTS_SYSCALL_FAULTTABLE_H

#include <set>
#include <string>
#include <vector>

#include "SweepJob.h"

namespace sweep {

struct Known {
    std::set<Scenario> scenarios;
    const char *violation; // the words of the broken invariant it explains
    const char *what;      // the fault
};

struct Expectation {
    Scope scope;
    const char *call;
    const char *error; // an errno name, or SHORT (half the bytes moved)
    std::set<int> statuses;
    std::vector<const char *> words; // the cause as a failure line words it (any one)
    std::vector<Known> known = {};
    // Where a scenario allows other statuses than the row's, and why.
    std::set<Scenario> alsoDoneIn = {}; // the job may also end 0, having done everything
};

// An incremental backup reads only the stream header of a data set it lists
// as unchanged. When that read fails (the TSA reads a link's target or the
// attributes as it opens the stream), the data set is saved whole instead,
// which records its version from its own stream, or names it with the cause
// when the save fails too: nothing is lost or listed without its identity,
// and a job that saved it whole has done everything.
inline const std::set<Scenario> c_HeaderReadMadeGood = {Scenario::BackupIncremental};

// The words a failure of each kind carries: the errno's own text, or the
// TSA's text of the SMS code it becomes (smsemu README, "System errors").
#define NO_SPACE  "No space left on device", "Out of disk space", "Cannot create a file"
#define IO_ERROR  "Input/output error", "Error reading the file", "Unable to write to file", "Unable to scan file entry"
#define NO_ACCESS "Permission denied", "No search privileges", "Cannot create a directory entry"
#define STORE     "archive flags could not be cleared", "archive state"

inline const std::set<Scenario> c_Backups = {Scenario::BackupFile, Scenario::BackupClear, Scenario::BackupIncremental};
inline const std::set<Scenario> c_Clears = {Scenario::BackupClear, Scenario::BackupIncremental};
inline const std::set<Scenario> c_Restores = {Scenario::RestoreTo, Scenario::RestoreInPlace, Scenario::RestoreChain};
inline const std::set<Scenario> c_All = {Scenario::BackupFile, Scenario::BackupClear,    Scenario::BackupIncremental,
                                         Scenario::RestoreTo,  Scenario::RestoreInPlace, Scenario::RestoreChain};

// The faults the sweep found, by what they break.
inline const Known c_ResourceOpen = {
    c_All, "no failure line gives the cause",
    "the resource's own directory that cannot be opened is \"Open file error\" whatever the errno, and the cause "
    "is said nowhere (filesystem/FsNames.cpp, openResourceDirectory)"};
inline const Known c_FlagCheckCause = {
    c_Clears, "no failure line gives the cause",
    "kxsms's check of the archive flags at the end, when its look-up fails, warns that the flags could not be "
    "cleared (\"can no longer be asked\") without the cause (commands/ArchiveFlagCheck.cpp)"};
inline const Known c_StoreNotWritten = {
    c_Clears, "exit 0, but the archive flag of",
    "the clears are written to the state store at the release, after kxsms checked the last data set's flag, which "
    "reads clear while the clear waits: a store that cannot be made or written leaves every flag set (smsemu says "
    "so on stderr) and the job exits 0"};
inline const Known c_OpenNotRetried = {
    c_All, "status 1, the table expects 0",
    "the open of a data set for backup (filesystem/FsBackup.cpp, FsBackupDataSet::open) and of a directory a "
    "restore writes in (filesystem/FsRestore.cpp) fail on EINTR (\"Open file error\") instead of trying again"};
inline const Known c_LinkLookupCause = {
    c_Restores, "no failure line gives the cause",
    "a hard link whose first name cannot be looked up (its folder's openat2 or its statx failing) is reported as "
    "\"not linked to NAME: it does not exist\" (or \"it is not the file this name was linked to\") with \"No data "
    "sets found\": the errno is lost (filesystem/FsRestore.cpp, hard links)"};
inline const char *const c_OwnerDroppedWhat =
    "an owner the file system refuses (EPERM) is passed over without a word, and the setuid and setgid bits go "
    "with it: the job exits 0 with the owner and mode not restored (the TSA means it so, as tar does for a user "
    "who is not root; a warning line would keep it from passing unseen)";
inline const Known c_OwnerDropped = {c_Restores, "exit 0, but the tree is not as restored", c_OwnerDroppedWhat};
inline const Known c_OwnerDroppedEntry = {c_Restores, "is neither as it was nor as restored", c_OwnerDroppedWhat};
inline const Known c_StatAfterRead = {
    c_Backups, "no failure line gives the cause",
    "a look at the file after its data was read that fails is reported as \"changed while it was being read\", "
    "without the cause (filesystem/FsBackup.cpp)"};
inline const Known c_DeleteCause = {
    {Scenario::RestoreChain},
    "no failure line gives the cause",
    "a removal that fails is \"Error deleting data set\" (or, when the look at the data set before it fails, "
    "\"Open file error\") whatever the errno, and the cause is said nowhere (filesystem/FileSystemTsa.cpp, delete)"};

inline const std::vector<Expectation> &faultTable()
{
    static const std::vector<Expectation> table = {
        // ---- the data sets: reading them for a backup, writing them in a restore ----
        {Scope::Tree, "open", "EACCES", {0, 1}, {NO_ACCESS}, {c_ResourceOpen, c_FlagCheckCause}},
        {Scope::Tree, "open", "EIO", {0, 1}, {IO_ERROR}, {c_ResourceOpen, c_FlagCheckCause}},
        {Scope::Tree, "openat", "EACCES", {0, 1}, {NO_ACCESS}, {c_FlagCheckCause}},
        {Scope::Tree, "openat", "EIO", {0, 1}, {IO_ERROR, "Open file error"}, {c_FlagCheckCause}},
        {Scope::Tree, "openat", "ENOSPC", {0, 1, 2}, {NO_SPACE}, {c_FlagCheckCause}},
        {Scope::Tree, "openat", "EINTR", {0}, {}, {c_OpenNotRetried}},
        {Scope::Tree, "openat2", "EACCES", {0, 1}, {NO_ACCESS}, {c_LinkLookupCause}},
        {Scope::Tree, "openat2", "EIO", {0, 1}, {IO_ERROR, "Open file error"}, {c_LinkLookupCause}},
        {Scope::Tree, "openat2", "EINTR", {0}, {}},
        {Scope::Tree,
         "statx",
         "EACCES",
         {0, 1},
         {NO_ACCESS},
         {c_StatAfterRead, c_FlagCheckCause, c_DeleteCause, c_LinkLookupCause}},
        {Scope::Tree,
         "statx",
         "EIO",
         {0, 1},
         {IO_ERROR},
         {c_StatAfterRead, c_FlagCheckCause, c_DeleteCause, c_LinkLookupCause}},
        {Scope::Tree, "getdents64", "EIO", {1}, {IO_ERROR}},
        {Scope::Tree, "getdents64", "EINTR", {0}, {}},
        {Scope::Tree, "pread", "EIO", {1}, {IO_ERROR}},
        {Scope::Tree, "pread", "EINTR", {0}, {}},
        {Scope::Tree, "pread", "SHORT", {0}, {}},
        {Scope::Tree, "flistxattr", "EIO", {0, 1}, {IO_ERROR}},
        {Scope::Tree, "fgetxattr", "EIO", {1}, {IO_ERROR}, {}, c_HeaderReadMadeGood},
        {Scope::Tree, "lseek", "EIO", {0, 1}, {IO_ERROR}},
        {Scope::Tree, "readlinkat", "EIO", {1}, {IO_ERROR, "Open file error"}, {}, c_HeaderReadMadeGood},
        {Scope::Tree, "ftruncate", "EFBIG", {1}, {"File too large", IO_ERROR}},
        {Scope::Tree, "ftruncate", "ENOSPC", {1, 2}, {NO_SPACE}},
        {Scope::Tree, "pwrite", "ENOSPC", {2}, {NO_SPACE}},
        {Scope::Tree, "pwrite", "EDQUOT", {2}, {"Disk quota exceeded", NO_SPACE}},
        {Scope::Tree, "pwrite", "EIO", {1}, {IO_ERROR}},
        {Scope::Tree, "pwrite", "EINTR", {0}, {}},
        {Scope::Tree, "pwrite", "SHORT", {0}, {}},
        {Scope::Tree, "renameat", "EIO", {1}, {IO_ERROR}},
        {Scope::Tree, "renameat", "ENOSPC", {1, 2}, {NO_SPACE}},
        {Scope::Tree, "renameat", "EACCES", {1}, {NO_ACCESS}},
        {Scope::Tree, "mkdirat", "ENOSPC", {2}, {NO_SPACE}},
        {Scope::Tree, "mkdirat", "EACCES", {1}, {NO_ACCESS}},
        {Scope::Tree, "mkdirat", "EIO", {1}, {IO_ERROR}},
        // Owners are given where permitted: EPERM is passed over on purpose.
        {Scope::Tree, "fchownat", "EPERM", {0}, {}, {c_OwnerDropped, c_OwnerDroppedEntry}},
        {Scope::Tree, "fchownat", "EIO", {1}, {IO_ERROR}},
        {Scope::Tree, "fchmod", "EPERM", {1}, {NO_ACCESS, "Operation not permitted"}},
        {Scope::Tree, "fchmod", "EIO", {1}, {IO_ERROR}},
        {Scope::Tree, "fchmodat", "EIO", {1}, {IO_ERROR}},
        {Scope::Tree, "futimens", "EIO", {1}, {IO_ERROR}},
        {Scope::Tree, "futimens", "EROFS", {1}, {NO_ACCESS, "Read-only file system"}},
        {Scope::Tree, "utimensat", "EIO", {0, 1}, {IO_ERROR}},
        {Scope::Tree, "fsetxattr", "ENOTSUP", {1}, {"Operation not supported"}},
        {Scope::Tree, "fsetxattr", "ENOSPC", {1, 2}, {NO_SPACE}},
        {Scope::Tree, "linkat", "EMLINK", {1}, {"Too many links", IO_ERROR}},
        {Scope::Tree, "linkat", "ENOSPC", {1, 2}, {NO_SPACE}},
        {Scope::Tree, "symlinkat", "ENOSPC", {1, 2}, {NO_SPACE}},
        {Scope::Tree, "symlinkat", "EIO", {1}, {IO_ERROR}},
        {Scope::Tree, "mknodat", "EPERM", {1}, {NO_ACCESS, "Operation not permitted"}},
        {Scope::Tree, "unlinkat", "EIO", {1}, {IO_ERROR}, {c_DeleteCause}},
        {Scope::Tree,
         "unlinkat",
         "EBUSY",
         {1},
         {"Device or resource busy", "Data set is currently in use"},
         {c_DeleteCause}},
        {Scope::Tree, "close", "EIO", {0, 1}, {IO_ERROR}},
        {Scope::Tree, "fsync", "EIO", {1}, {IO_ERROR}},
        {Scope::Tree, "fdatasync", "EIO", {1}, {IO_ERROR}},

        // ---- the archives: written by a backup, read by a restore ----
        {Scope::Archive, "open", "EACCES", {2}, {"Permission denied"}},
        {Scope::Archive, "open", "ENOSPC", {2}, {"No space left on device"}},
        {Scope::Archive, "open", "EIO", {2}, {"Input/output error"}},
        {Scope::Archive, "open", "EINTR", {2}, {"Interrupted system call"}},
        {Scope::Archive, "writev", "ENOSPC", {2}, {"No space left on device"}},
        {Scope::Archive, "writev", "EDQUOT", {2}, {"Disk quota exceeded"}},
        {Scope::Archive, "writev", "EIO", {2}, {"Input/output error"}},
        {Scope::Archive, "writev", "EFBIG", {2}, {"File too large"}},
        {Scope::Archive, "writev", "EINTR", {0}, {}},
        {Scope::Archive, "writev", "SHORT", {0}, {}},
        {Scope::Archive, "write", "ENOSPC", {2}, {"No space left on device"}},
        {Scope::Archive, "write", "EINTR", {0}, {}},
        {Scope::Archive, "read", "EIO", {2}, {"Input/output error"}},
        {Scope::Archive, "read", "EINTR", {0}, {}},
        {Scope::Archive, "read", "SHORT", {0}, {}},
        {Scope::Archive, "fstat", "EIO", {0, 2}, {"Input/output error"}},
        // A backup's archive may be written out only when it is closed (NFS).
        {Scope::Archive, "close", "EIO", {0, 2}, {"Input/output error"}},
        {Scope::Archive, "close", "EDQUOT", {0, 2}, {"Disk quota exceeded"}},
        {Scope::Archive, "fsync", "EIO", {2}, {"Input/output error"}},
        {Scope::Archive, "fdatasync", "EIO", {2}, {"Input/output error"}},

        // ---- the state store of the archive flags ----
        // The store only decides what a backup marks; a restore that cannot
        // read it takes every flag for set and goes on.
        {Scope::Store, "open", "EACCES", {0, 1}, {STORE}, {c_StoreNotWritten}},
        {Scope::Store, "open", "EIO", {0, 1}, {STORE}, {c_StoreNotWritten}},
        {Scope::Store, "pwrite", "ENOSPC", {0, 1}, {STORE}, {c_StoreNotWritten}},
        {Scope::Store, "pwrite", "EIO", {0, 1}, {STORE}, {c_StoreNotWritten}},
        {Scope::Store, "pread", "EIO", {0, 1}, {STORE}, {c_StoreNotWritten}},
        {Scope::Store, "fdatasync", "EIO", {0, 1}, {STORE}, {c_StoreNotWritten}},
        {Scope::Store, "fsync", "EIO", {0, 1}, {STORE}, {c_StoreNotWritten}},
        {Scope::Store, "ftruncate", "EIO", {0, 1}, {STORE}, {c_StoreNotWritten}},
        {Scope::Store, "close", "EIO", {0, 1}, {STORE}, {c_StoreNotWritten}},
    };
    return table;
}

#undef NO_SPACE
#undef IO_ERROR
#undef NO_ACCESS
#undef STORE

} // namespace sweep

#endif
