// The directory TSA's store: a JSON file holding the objects of the tree.
//
//   {"objects": [
//     {"dn": ".O=Acme.[Root]", "class": "Organization",
//      "attributes": {"description": ["The Acme company"]}},
//     {"dn": ".CN=Admin.O=Acme.[Root]", "class": "User",
//      "attributes": {"mail": "admin@acme.example", "telephoneNumber": ["1", "2"]}}
//   ]}
//
// - "objects" may be left out (an empty tree); no other key is allowed, at the
//   top or in an object, so that a rewrite never drops what it does not know.
// - "dn": the object's distinguished name ending in the top of the tree
//   (".[Root]"; ".T=<tree>" is read too); "class": a non-empty string;
//   "attributes" (optional): each value a string or an array of strings.
// - An object's container must be in the store, in any place of the list;
//   names are compared ignoring case, escapes resolved, and may be used once.
// - The dn ".[Root]" gives the top of the tree a class and attributes (by
//   default class "Top", none).
//
// The store is rewritten after each change: the whole file, written to a
// temporary file in its folder and renamed over it, under an exclusive
// flock(2) of the store file (taken again when another process renamed a new
// file in meanwhile). Objects go out in tree order (each container before its
// children), names in the "[Root]" form.
#pragma once

#include "directory/DirectoryTree.h"
#include "SMSAPI.h"

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace smsemu {

// Builds the tree a store text describes. False, with the problem as
// "<file>:<line>:<column>: ..." (JSON syntax) or "<file>: objects[<i>] ...".
bool parseDirectoryStore(std::string_view text, const std::string &file, DirectoryTree &tree, std::string &problem);

// The store text of a tree.
std::string serialiseDirectoryStore(const DirectoryTree &tree);

// Whether a store file can be read and describes a tree (for the configuration).
bool checkDirectoryStore(const std::filesystem::path &file, const DirectoryNaming &naming, std::string &problem);

class DirectoryStore {
public:
    DirectoryStore(std::filesystem::path file, DirectoryNaming naming);

    const std::filesystem::path &file() const { return file_; }

    // Reads the file when it is not the one last read (another inode, size
    // or modification time). On failure (NWSMTS_READ_ERROR, the problem in
    // `problem`) the tree read before stays, and the next call tries again.
    CCODE refresh(std::string &problem);
    // The tree as last read or changed.
    const DirectoryTree &tree() const { return *tree_; }

    // Applies one change and rewrites the file, under the lock and after
    // reading the file again if it changed. `edit` either refuses (its code,
    // the tree left as it was) or changes the tree and returns 0. A file that
    // cannot be written (NWSMTS_OUT_OF_DISK_SPACE, NWSMTS_WRITE_ERROR) is left
    // as it was and the tree is read back from it.
    CCODE change(const std::function<CCODE(DirectoryTree &)> &edit, std::string &problem);

private:
    struct Stamp {
        bool valid = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        long long seconds = 0;
        long nanoseconds = 0;
        bool operator==(const Stamp &) const = default;
    };
    CCODE write(std::string &problem);

    std::filesystem::path file_;
    DirectoryNaming naming_;
    std::unique_ptr<DirectoryTree> tree_;
    Stamp stamp_;
};

} // namespace smsemu
