// Reading a non-loaded ELF section from a file, including files that are
// not what they claim to be.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include <elf.h>
#include <unistd.h>

#include "frame/BuildStamp.h"

// This test program carries a stamp of its own, as the module does.
__asm__(".pushsection KxVersion,\"\",@progbits\n"
        ".ascii \"9.8.7.6 01/02/03 04:05:06\\n\"\n"
        ".popsection\n");

namespace {

std::string self()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : "";
}

std::string writeTemp(const std::vector<char> &bytes)
{
    char name[] = "/tmp/kxsms-stamp-XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    return name;
}

TEST(BuildStamp, ReadsTheSectionLine)
{
    std::string error;
    const auto line = kxsms::readElfSectionLine(self(), "KxVersion", error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(*line, "9.8.7.6 01/02/03 04:05:06");
}

TEST(BuildStamp, MissingSectionAndMissingFile)
{
    std::string error;
    EXPECT_FALSE(kxsms::readElfSectionLine(self(), "NoSuchSection", error));
    EXPECT_NE(error.find("no section"), std::string::npos);
    EXPECT_FALSE(kxsms::readElfSectionLine("/nonexistent/file", "KxVersion", error));
    EXPECT_FALSE(kxsms::readElfSectionLine("/etc/hostname", "KxVersion", error));
}

// A small ELF file: header, the section names, the stamp, the section table.
struct SmallElf {
    std::vector<char> bytes;
    size_t tableAt = 0;

    SmallElf()
    {
        const std::string names = std::string("\0.shstrtab\0KxVersion\0", 21);
        const std::string stamp = "1.2.3.4 05/06/07 08:09:10\n";
        bytes.resize(sizeof(Elf64_Ehdr));
        const size_t namesAt = bytes.size();
        bytes.insert(bytes.end(), names.begin(), names.end());
        const size_t stampAt = bytes.size();
        bytes.insert(bytes.end(), stamp.begin(), stamp.end());
        bytes.resize((bytes.size() + 7) / 8 * 8);
        tableAt = bytes.size();
        Elf64_Shdr sections[3] = {};
        sections[1].sh_name = 1;
        sections[1].sh_type = SHT_STRTAB;
        sections[1].sh_offset = namesAt;
        sections[1].sh_size = names.size();
        sections[2].sh_name = 11;
        sections[2].sh_type = SHT_PROGBITS;
        sections[2].sh_offset = stampAt;
        sections[2].sh_size = stamp.size();
        bytes.insert(bytes.end(), reinterpret_cast<char *>(sections), reinterpret_cast<char *>(sections + 3));
        Elf64_Ehdr header = {};
        memcpy(header.e_ident, ELFMAG, SELFMAG);
        header.e_ident[EI_CLASS] = ELFCLASS64;
        header.e_ident[EI_DATA] = ELFDATA2LSB;
        header.e_ident[EI_VERSION] = EV_CURRENT;
        header.e_type = ET_DYN;
        header.e_machine = EM_X86_64;
        header.e_ehsize = sizeof header;
        header.e_shoff = tableAt;
        header.e_shentsize = sizeof(Elf64_Shdr);
        header.e_shnum = 3;
        header.e_shstrndx = 1;
        memcpy(bytes.data(), &header, sizeof header);
    }
    Elf64_Ehdr &header() { return *reinterpret_cast<Elf64_Ehdr *>(bytes.data()); }
    Elf64_Shdr &section(size_t i)
    {
        return *reinterpret_cast<Elf64_Shdr *>(bytes.data() + tableAt + i * sizeof(Elf64_Shdr));
    }
};

std::optional<std::string> stampOf(const std::vector<char> &bytes, std::string &error)
{
    const std::string path = writeTemp(bytes);
    auto line = kxsms::readElfSectionLine(path, "KxVersion", error);
    unlink(path.c_str());
    return line;
}

TEST(BuildStamp, SmallFileReadsBack)
{
    SmallElf elf;
    std::string error;
    const auto line = stampOf(elf.bytes, error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(*line, "1.2.3.4 05/06/07 08:09:10");
}

// A stamp with no end of line is read whole; it once made the reader throw.
TEST(BuildStamp, UnendedStampIsReadWhole)
{
    SmallElf elf;
    elf.section(2).sh_size -= 1; // leaves out the '\n'
    std::string error;
    const auto line = stampOf(elf.bytes, error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(*line, "1.2.3.4 05/06/07 08:09:10");
}

// Truncated anywhere, or with offsets, sizes and counts pointing anywhere:
// refused with a reason, never a crash or a read outside the file.
TEST(BuildStamp, DamagedFilesAreRefusedSafely)
{
    const SmallElf good;
    for (size_t length = 0; length < good.bytes.size(); ++length) {
        std::string error;
        std::vector<char> cut(good.bytes.begin(), good.bytes.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(stampOf(cut, error)) << length;
        EXPECT_FALSE(error.empty()) << length;
    }

    const std::vector<std::pair<const char *, std::function<void(SmallElf &)>>> damage = {
        {"magic", [](SmallElf &e) { e.bytes[1] = 'X'; }},
        {"32-bit class", [](SmallElf &e) { e.header().e_ident[EI_CLASS] = ELFCLASS32; }},
        {"big endian", [](SmallElf &e) { e.header().e_ident[EI_DATA] = ELFDATA2MSB; }},
        {"table far away", [](SmallElf &e) { e.header().e_shoff = ~0ull - 10; }},
        {"table entry too small", [](SmallElf &e) { e.header().e_shentsize = 1; }},
        {"names index out of range", [](SmallElf &e) { e.header().e_shstrndx = 7; }},
        {"names far away", [](SmallElf &e) { e.section(1).sh_offset = ~0ull - 4; }},
        {"names too long", [](SmallElf &e) { e.section(1).sh_size = ~0ull; }},
        {"name offset outside", [](SmallElf &e) { e.section(2).sh_name = 0xFFFFFFF0u; }},
        {"name at the very end", [](SmallElf &e) { e.section(2).sh_name = 20; }},
        {"stamp far away", [](SmallElf &e) { e.section(2).sh_offset = ~0ull - 4; }},
        {"stamp too large", [](SmallElf &e) { e.section(2).sh_size = 1u << 20; }},
        {"stamp without bits", [](SmallElf &e) { e.section(2).sh_type = SHT_NOBITS; }},
    };
    for (const auto &[what, change] : damage) {
        SmallElf elf;
        change(elf);
        std::string error;
        EXPECT_FALSE(stampOf(elf.bytes, error)) << what;
        EXPECT_FALSE(error.empty()) << what;
    }
}

} // namespace
