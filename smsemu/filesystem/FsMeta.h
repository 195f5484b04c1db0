// What the file-system TSA knows of a data set: one statx per data set, and
// the scan information built from it.
#pragma once

#include "SMSAPI.h"

#include <cstdint>
#include <ctime>
#include <sys/types.h>

namespace smsemu {

struct FsMeta {
    mode_t mode = 0; // type and permission bits
    uid_t uid = 0;
    gid_t gid = 0;
    std::uint64_t size = 0;
    std::uint64_t blocks = 0; // allocated, in units of 512 bytes
    std::uint64_t inode = 0;
    std::uint64_t device = 0;                   // the file system's device (makedev of statx's)
    std::uint32_t links = 0;                    // number of names of the inode
    std::uint32_t rdevMajor = 0, rdevMinor = 0; // what a device node stands for
    timespec atime{}, mtime{}, ctime{};
    timespec btime{}; // birth time, when hasBirthTime
    bool hasBirthTime = false;

    bool isDirectory() const;
    bool isSymlink() const;
    bool isRegular() const;
    // A FIFO, character or block device: saved and restored without data.
    bool isSpecial() const;
    bool isSocket() const;
};

// statx of `name` under `directory` (never following a final symbolic link);
// an empty name describes `directory` itself. Returns 0 or an errno.
int readMeta(int directory, const char *name, FsMeta &meta);

// Whether two timestamps are equal.
bool sameTime(const timespec &a, const timespec &b);
// a < b
bool earlierTime(const timespec &a, const timespec &b);

// Fills the scan information of a data set (the record is cleared before):
// attributes, owning name space, sizes, parent flag and the three packed
// times (creation = the earlier of birth and modification).
void describeMeta(const FsMeta &meta, bool archive, UINT32 creatorNameSpace, NWSM_SCAN_INFORMATION &info);

// The data-set size a scan reports: the file size for regular files, else 0.
std::uint64_t reportedSize(const FsMeta &meta);

} // namespace smsemu
