// The directory TSA's store, a JSON file anyone who can write it may have
// edited: whatever its text, reading it must not crash, and a tree it
// accepts must be written out so that it reads back as the same tree.
//
// Input: a byte choosing the top's form (".[Root]" or ".T=<tree>"), then the
// store's text.
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "directory/DirectoryStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const smsemu::DirectoryNaming naming{"ACME_TREE", (data[0] & 1) != 0};
    const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    smsemu::DirectoryTree tree(naming);
    std::string problem;
    const bool parsed = smsemu::parseDirectoryStore(text, "tree.json", tree, problem);
    if (!parsed) {
        fuzzsupport::require(!problem.empty());
        return 0;
    }
    const std::string written = smsemu::serialiseDirectoryStore(tree);
    smsemu::DirectoryTree again(naming);
    fuzzsupport::require(smsemu::parseDirectoryStore(written, "tree.json", again, problem));
    fuzzsupport::require(again.objectCount() == tree.objectCount());
    fuzzsupport::require(smsemu::serialiseDirectoryStore(again) == written);
    return 0;
}
