// What the fuzz targets share besides their input: the check that aborts
// (libFuzzer reports it with the input), and a scratch folder of the process
// for targets whose parser reads a file.
#ifndef KXSMS_FUZZ_FUZZSUPPORT_H
#define KXSMS_FUZZ_FUZZSUPPORT_H

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace fuzzsupport {

inline void require(bool condition)
{
    if (!condition)
        abort();
}

// A folder below TMPDIR, removed when the process ends.
class ScratchFolder {
public:
    ScratchFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kxsms-fuzz-XXXXXX").string();
        require(mkdtemp(pattern.data()) != nullptr);
        path_ = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    const std::filesystem::path &path() const { return path_; }

    // Writes the bytes to the file of that name in the folder; its path.
    std::filesystem::path write(const std::string &name, const uint8_t *data, size_t size) const
    {
        const std::filesystem::path file = path_ / name;
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
        return file;
    }

private:
    std::filesystem::path path_;
};

} // namespace fuzzsupport

#endif
