// What a failing system call does to a kxsms job: for each call on the files
// of a scope and each error, the exit statuses the job may end with and the
// words of its cause, one of which a failure line must carry, besides the
// name of the data set or archive. Every run is held to the invariants
// besides (SweepJob.h): no crash or hang, no exit 0 for a job not wholly
// done, no temporary file left, every entry of a restore's target as it was
// or as restored, no archive flag cleared for a data set the archive does
// not hold complete, a state store that reads whole, EINTR retried rather
// than reported; after a backup, under the archive's name the older archive
// as it was or the new one whole, never a partial one.
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

// The faults the sweep found are mended: no row names one now.

inline const std::vector<Expectation> &faultTable()
{
    static const std::vector<Expectation> table = {
        // ---- the data sets: reading them for a backup, writing them in a restore ----
        {Scope::Tree, "open", "EACCES", {0, 1}, {NO_ACCESS}},
        {Scope::Tree, "open", "EIO", {0, 1}, {IO_ERROR}},
        {Scope::Tree, "openat", "EACCES", {0, 1}, {NO_ACCESS}},
        {Scope::Tree, "openat", "EIO", {0, 1}, {IO_ERROR, "Open file error"}},
        {Scope::Tree, "openat", "ENOSPC", {0, 1, 2}, {NO_SPACE}},
        {Scope::Tree, "openat", "EINTR", {0}, {}},
        {Scope::Tree, "openat2", "EACCES", {0, 1}, {NO_ACCESS}},
        {Scope::Tree, "openat2", "EIO", {0, 1}, {IO_ERROR, "Open file error"}},
        {Scope::Tree, "openat2", "EINTR", {0}, {}},
        {Scope::Tree, "statx", "EACCES", {0, 1}, {NO_ACCESS}},
        {Scope::Tree, "statx", "EIO", {0, 1}, {IO_ERROR}},
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
        // Owners are given where permitted: EPERM is passed over on purpose,
        // with a warning that names the data set ("warning: owner UID:GID not
        // restored"); the data set is restored as the user's own.
        {Scope::Tree, "fchownat", "EPERM", {0}, {}},
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
        {Scope::Tree, "unlinkat", "EIO", {1}, {IO_ERROR}},
        {Scope::Tree, "unlinkat", "EBUSY", {1}, {"Device or resource busy", "Data set is currently in use"}},
        {Scope::Tree, "close", "EIO", {0, 1}, {IO_ERROR}},
        {Scope::Tree, "fsync", "EIO", {1}, {IO_ERROR}},
        {Scope::Tree, "fdatasync", "EIO", {1}, {IO_ERROR}},

        // ---- the archives: written by a backup, read by a restore ----
        {Scope::Archive, "open", "EACCES", {2}, {"Permission denied"}},
        {Scope::Archive, "open", "ENOSPC", {2}, {"No space left on device"}},
        {Scope::Archive, "open", "EIO", {2}, {"Input/output error"}},
        {Scope::Archive, "open", "EINTR", {0}, {}},
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
        {Scope::Archive, "fsync", "ENOSPC", {2}, {"No space left on device"}},
        // A backup's archive takes its name last: a rename that fails leaves
        // the older archive of that name, and no temporary file.
        {Scope::Archive, "rename", "EIO", {2}, {"Input/output error"}},
        {Scope::Archive, "rename", "ENOSPC", {2}, {"No space left on device"}},
        {Scope::Archive, "rename", "EACCES", {2}, {"Permission denied"}},
        {Scope::Archive, "rename", "EDQUOT", {2}, {"Disk quota exceeded"}},
        {Scope::Archive, "fdatasync", "EIO", {2}, {"Input/output error"}},

        // ---- the state store of the archive flags ----
        // The store only decides what a backup marks; a restore that cannot
        // read it takes every flag for set and goes on.
        {Scope::Store, "open", "EACCES", {0, 1}, {STORE}},
        {Scope::Store, "open", "EIO", {0, 1}, {STORE}},
        {Scope::Store, "pwrite", "ENOSPC", {0, 1}, {STORE}},
        {Scope::Store, "pwrite", "EIO", {0, 1}, {STORE}},
        {Scope::Store, "pread", "EIO", {0, 1}, {STORE}},
        {Scope::Store, "fdatasync", "EIO", {0, 1}, {STORE}},
        {Scope::Store, "fsync", "EIO", {0, 1}, {STORE}},
        {Scope::Store, "ftruncate", "EIO", {0, 1}, {STORE}},
        {Scope::Store, "close", "EIO", {0, 1}, {STORE}},
    };
    return table;
}

#undef NO_SPACE
#undef IO_ERROR
#undef NO_ACCESS
#undef STORE

} // namespace sweep

#endif
