// Reading a non-loaded ELF section from a file, including files that are
// not what they claim to be.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <elf.h>
#include <unistd.h>

#include "BuildStamp.h"

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

std::vector<char> readAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

// Damaged copies of this program: truncated anywhere in the headers and the
// section table, or with offsets pointing past the end. Never a crash.
TEST(BuildStamp, DamagedFilesAreRefusedSafely)
{
    const std::vector<char> image = readAll(self());
    ASSERT_GT(image.size(), sizeof(Elf64_Ehdr));
    Elf64_Ehdr header;
    memcpy(&header, image.data(), sizeof header);

    std::vector<std::vector<char>> variants;
    for (size_t length : {size_t{0}, size_t{10}, sizeof(Elf64_Ehdr) - 1, sizeof(Elf64_Ehdr),
                          static_cast<size_t>(header.e_shoff) + 100})
        if (length < image.size())
            variants.emplace_back(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(length));
    auto patched = [&](auto change) {
        std::vector<char> copy = image;
        Elf64_Ehdr h;
        memcpy(&h, copy.data(), sizeof h);
        change(h, copy);
        memcpy(copy.data(), &h, sizeof h);
        variants.push_back(copy);
    };
    patched([](Elf64_Ehdr &h, std::vector<char> &) { h.e_shoff = ~0ull - 10; });
    patched([](Elf64_Ehdr &h, std::vector<char> &) { h.e_shstrndx = 0xFFF0; });
    patched([](Elf64_Ehdr &h, std::vector<char> &) { h.e_shentsize = 1; });
    patched([](Elf64_Ehdr &h, std::vector<char> &copy) {
        // Every section offset and name pointing far away.
        for (unsigned i = 0; i < h.e_shnum; ++i) {
            Elf64_Shdr s;
            const size_t at = h.e_shoff + i * sizeof s;
            if (at + sizeof s > copy.size())
                break;
            memcpy(&s, copy.data() + at, sizeof s);
            s.sh_offset = ~0ull - 1;
            s.sh_size = ~0ull - 1;
            s.sh_name = 0xFFFFFFF0u;
            memcpy(copy.data() + at, &s, sizeof s);
        }
    });

    // More sections than the table holds: the stamp (found first) may still be read.
    {
        std::vector<char> copy = image;
        Elf64_Ehdr h;
        memcpy(&h, copy.data(), sizeof h);
        h.e_shnum = 0xFFFF;
        memcpy(copy.data(), &h, sizeof h);
        const std::string path = writeTemp(copy);
        std::string error;
        const auto line = kxsms::readElfSectionLine(path, "KxVersion", error);
        EXPECT_TRUE(!line || *line == "9.8.7.6 01/02/03 04:05:06");
        EXPECT_FALSE(kxsms::readElfSectionLine(path, "NoSuchSection", error));
        unlink(path.c_str());
    }

    for (const auto &bytes : variants) {
        const std::string path = writeTemp(bytes);
        std::string error;
        EXPECT_FALSE(kxsms::readElfSectionLine(path, "KxVersion", error)) << bytes.size();
        EXPECT_FALSE(error.empty());
        unlink(path.c_str());
    }
}

} // namespace
