// A private folder for one test below the temporary folder (TMPDIR), removed
// with everything in it when the object goes.
#ifndef KXSMS_TESTS_SUPPORT_TEMPDIR_H
#define KXSMS_TESTS_SUPPORT_TEMPDIR_H

#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
public:
    // A new folder named prefix-XXXXXX, mode 0700; throws std::runtime_error
    // when none can be made.
    explicit TempDir(const std::string &prefix = "kxsms-test");
    // Removes the folder, also where the test left folders in it that their
    // owner may not write or enter.
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    // A name below the folder, as the text that environment variables,
    // configurations and C calls take.
    std::string operator/(const std::string &name) const { return (path_ / name).string(); }
    // Gives the folder up: the caller removes it (removeTree).
    std::filesystem::path release()
    {
        std::filesystem::path kept = path_;
        path_.clear();
        return kept;
    }

private:
    std::filesystem::path path_;
};

// Removes a tree as its owner can: folders without write or search
// permission are opened up first. What cannot be removed is left.
void removeTree(const std::filesystem::path &root);

} // namespace testsupport

#endif
