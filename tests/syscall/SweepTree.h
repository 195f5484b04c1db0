// The small tree the fault sweep backs up and restores: about thirty data
// sets of every kind a Linux tree holds, the changes an incremental backup
// then meets, the damage an in-place restore repairs, and a description of
// a tree entry by entry to compare what a job left.
#ifndef KXSMS_TESTS_SYSCALL_SWEEPTREE_H
#define KXSMS_TESTS_SYSCALL_SWEEPTREE_H

#include <filesystem>
#include <map>
#include <string>

namespace sweep {

// Makes the tree below root (which must not exist): files (empty, one block,
// several blocks, sparse, read-only, setuid, odd names), directories (empty,
// deep, private), symbolic links, hard links, a FIFO, a device (as root), a
// socket, and files with extended attributes and an ACL. Times are fixed.
void makeTree(const std::filesystem::path &root);

// What an incremental backup meets after a full one: a file changed, one
// added, one deleted, one renamed, one whose mode changed.
void changeTree(const std::filesystem::path &root);

// What an in-place restore repairs: files deleted or replaced by older
// copies, a subtree removed; and one file changed after the backup, which
// the restore keeps.
void damageTree(const std::filesystem::path &root);

// What one entry of a tree is, field by field.
struct EntryState {
    bool directory = false;
    std::string mode;       // type and permission bits, owner and group
    std::string time;       // modification time to the nanosecond
    std::string content;    // size and digest, link target or device numbers
    std::string attributes; // extended attributes with value digests
    std::string inode;      // the first name of the entries that share its inode ("" when none do)
    bool operator==(const EntryState &) const = default;
};

// How much of an entry a comparison looks at: everything; everything but
// the times of directories, which an entry made in them moves; or each
// entry on its own (no directory times, no sharing of inodes, which depends
// on the other names).
enum class Detail { Whole, NoDirectoryTimes, Entry };

// Each entry below root by its relative name.
using TreeDescription = std::map<std::string, EntryState>;
TreeDescription describeTree(const std::filesystem::path &root);

// The entries cut to a detail, and one entry as text for a message.
TreeDescription atDetail(TreeDescription tree, Detail detail);
std::string describe(const EntryState &entry);

// Returns once the file system stamps changes later than every change time
// in the tree: its clock may move only every few milliseconds, and a change
// that carried the time a backup saw would look like none. It waits for the
// clock to move, however long that takes, not for a time.
void afterTimesOf(const std::filesystem::path &root);

// Copies a tree exactly (cp -a); false when it could not.
bool copyTree(const std::filesystem::path &from, const std::filesystem::path &to);

} // namespace sweep

#endif
