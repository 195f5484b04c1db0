// The folders a restore connection writes into, kept open between its data
// sets: an archive holds a folder's files one after another, so the folder
// (and the resource directory it is found from) is opened once for the run
// of them instead of once per file. One connection is driven by one thread,
// so nothing here is locked.
//
// The folder is resolved exactly as openParentDirectory does (no symbolic
// link followed, nothing outside the resource); once open, it is used by its
// descriptor only, so a symbolic link planted later at its name is never
// followed, and a folder renamed while its files are restored keeps
// receiving them under its new name, as the one file being written always
// did. A folder removed meanwhile takes no new name (the system refuses
// them), and the data set that finds it so asks again (`forgetFolder`). Any
// removal through the TSA (`removals`, counted by the TSA) drops what is
// held, and so does a change this restore makes to an existing directory
// (`folderChanged`: its group, set-group-ID bit or default ACL may decide
// what new files in it get). The descriptors close when the connection turns to another folder
// or logs out; a data set still open in a folder keeps its own reference.
#pragma once

#include "filesystem/FsNames.h"

#include <atomic>
#include <memory>
#include <string>

namespace smsemu {

class RestoreFolders {
public:
    // What a file made in a folder gets from the system before anything
    // is applied to it, learned from the first file made there: a later
    // file whose owner and mode would be the same needs no chown or chmod.
    struct Creates {
        bool known = false;
        bool modeExact = false; // the create mode less the umask, exactly (no default ACL, no other rule)
        bool unnamed = false;   // new files may be made unnamed (O_TMPFILE) and linked by descriptor
        uid_t uid = 0;
        gid_t gid = 0;
        unsigned generation = 0; // learned before this many forks (a child learns anew)
    };
    struct Held {
        UniqueFd fd;
        Creates creates; // written by the connection's one thread
        int get() const { return fd.get(); }
    };
    using Folder = std::shared_ptr<Held>;

    explicit RestoreFolders(std::atomic<unsigned long> &removals) : removals_(removals) {}

    // The directory of a resource, opened once.
    CCODE rootOf(const std::vector<ResourceConfig> &resources, std::size_t resource, int &fd);
    // The folder that holds `name`, reused when it is the one held now, else
    // opened from `root` with openParentDirectory (`create`, `error` as
    // there) and held.
    CCODE parentOf(int root, const FsName &name, bool create, Folder &folder, int *error = nullptr);
    // Drops the folder held (the next data set opens it afresh).
    void forgetFolder();
    // An existing directory's owner, mode or attributes were changed: every
    // connection looks its folder up again and learns anew.
    void folderChanged() { removals_.fetch_add(1, std::memory_order_acq_rel); }

private:
    // The folder's key: the resource and the components above the leaf.
    static void keyOf(const FsName &name, std::string &key);

    std::atomic<unsigned long> &removals_;
    unsigned long removalsSeen_ = 0;
    std::size_t rootResource_ = 0;
    UniqueFd root_;
    std::string key_;
    Folder folder_;
    std::string scratch_; // the key being looked up, kept to spare an allocation per file
};

} // namespace smsemu
