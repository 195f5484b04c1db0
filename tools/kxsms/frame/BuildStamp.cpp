// Reading one section of an ELF file with checked offsets.
#include "frame/BuildStamp.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/WholeTransfers.h"

namespace kxsms {

namespace {

class File {
public:
    explicit File(const std::string &path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~File()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    bool ok() const { return fd_ >= 0; }
    uint64_t size() const
    {
        struct stat st;
        return fstat(fd_, &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }
    // Reads exactly size bytes at offset, which the caller has checked against the file size.
    bool readAt(void *out, size_t size, uint64_t offset) const
    {
        return readWhole(fd_, out, size, static_cast<off_t>(offset));
    }

private:
    int fd_;
};

// offset + size lies within a file of fileSize bytes (no overflow).
bool within(uint64_t offset, uint64_t size, uint64_t fileSize)
{
    return offset <= fileSize && size <= fileSize - offset;
}

} // namespace

std::optional<std::string> readElfSectionLine(const std::string &path, const std::string &section, std::string &error,
                                              size_t maxSize)
{
    File file(path);
    if (!file.ok()) {
        error = "cannot open " + path + ": " + strerror(errno);
        return std::nullopt;
    }
    const uint64_t fileSize = file.size();
    Elf64_Ehdr header;
    if (!within(0, sizeof header, fileSize) || !file.readAt(&header, sizeof header, 0) ||
        memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_ident[EI_DATA] != ELFDATA2LSB) {
        error = path + " is not a 64-bit little-endian ELF file";
        return std::nullopt;
    }
    if (header.e_shoff == 0 || header.e_shentsize < sizeof(Elf64_Shdr)) {
        error = path + " has no section table";
        return std::nullopt;
    }

    auto sectionHeader = [&](uint64_t index, Elf64_Shdr &out) {
        const uint64_t offset = header.e_shoff + index * header.e_shentsize;
        return index < 0x1000000 && within(header.e_shoff, (index + 1) * header.e_shentsize, fileSize) &&
               file.readAt(&out, sizeof out, offset);
    };

    // Very large tables keep their real count and string-table index in section 0.
    Elf64_Shdr first;
    if (!sectionHeader(0, first)) {
        error = path + " has a damaged section table";
        return std::nullopt;
    }
    const uint64_t count = header.e_shnum != 0 ? header.e_shnum : first.sh_size;
    const uint64_t namesIndex = header.e_shstrndx != SHN_XINDEX ? header.e_shstrndx : first.sh_link;
    Elf64_Shdr names;
    if (namesIndex >= count || !sectionHeader(namesIndex, names) || !within(names.sh_offset, names.sh_size, fileSize)) {
        error = path + " has a damaged section table";
        return std::nullopt;
    }

    std::vector<char> name(section.size() + 1);
    for (uint64_t i = 0; i < count; ++i) {
        Elf64_Shdr candidate;
        if (!sectionHeader(i, candidate)) {
            error = path + " has a damaged section table";
            return std::nullopt;
        }
        // The name with its terminator must lie inside the string table.
        if (candidate.sh_name >= names.sh_size || names.sh_size - candidate.sh_name < name.size() ||
            !file.readAt(name.data(), name.size(), names.sh_offset + candidate.sh_name) ||
            memcmp(name.data(), section.c_str(), name.size()) != 0)
            continue;
        if (candidate.sh_type == SHT_NOBITS || !within(candidate.sh_offset, candidate.sh_size, fileSize) ||
            candidate.sh_size > maxSize) {
            error = "the section " + section + " of " + path + " is damaged or too large";
            return std::nullopt;
        }
        std::string content(candidate.sh_size, '\0');
        if (!file.readAt(content.data(), content.size(), candidate.sh_offset)) {
            error = "cannot read the section " + section + " of " + path;
            return std::nullopt;
        }
        // The stamp is its first line; a section with no end of line is
        // taken whole.
        const size_t end = std::min(content.find('\n'), content.find('\0'));
        if (end != std::string::npos)
            content.erase(end);
        return content;
    }
    error = path + " has no section " + section;
    return std::nullopt;
}

} // namespace kxsms
