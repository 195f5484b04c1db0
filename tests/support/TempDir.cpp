#include "TempDir.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

// Gives the owner every permission on each folder of the tree (never
// following a link), so that its entries can be listed and removed.
void openUp(const fs::path &folder)
{
    struct stat info;
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return;
    chmod(folder.c_str(), (info.st_mode & 07777) | S_IRWXU);
    std::error_code ignored;
    for (const fs::directory_entry &entry : fs::directory_iterator(folder, ignored))
        openUp(entry.path());
}

} // namespace

TempDir::TempDir(const std::string &prefix)
{
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder " + pattern + ": " + std::strerror(errno));
    path_ = pattern;
}

TempDir::~TempDir()
{
    if (!path_.empty())
        removeTree(path_);
}

void removeTree(const fs::path &root)
{
    std::error_code failed;
    fs::remove_all(root, failed);
    if (!failed)
        return;
    openUp(root);
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

} // namespace testsupport
