// Writes the SMS streams a kxsms archive holds to files, for the seed
// corpora of the stream fuzz targets (make-seeds): each saved member's
// stream to FOLDER/NAME-<n>, and all of them, one after another in the
// archive's order, to FOLDER/NAME-all.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "archive/ArchiveReader.h"
#include "io/Streams.h"

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: archive_streams ARCHIVE FOLDER NAME\n");
        return 2;
    }
    const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    const std::string prefix = std::string(argv[2]) + "/" + argv[3];
    kxsms::FdInput raw(fd);
    kxsms::ArchiveInput input(raw, [](const std::string &) {});
    kxsms::ArchiveReader reader(input, [](const kxsms::ArchiveReader::Problem &problem) {
        std::fprintf(stderr, "%s\n", problem.what.c_str());
    });
    if (!reader.open())
        return 1;
    std::ofstream all(prefix + "-all", std::ios::binary);
    kxsms::format::MemberDescriptor member;
    for (unsigned n = 0; reader.nextMember(member);) {
        if (member.listing != kxsms::format::Listing::Saved)
            continue;
        std::ofstream one(prefix + "-" + std::to_string(n++), std::ios::binary);
        const unsigned char *block = nullptr;
        size_t size = 0;
        while (reader.readBlock(block, size)) {
            one.write(reinterpret_cast<const char *>(block), static_cast<std::streamsize>(size));
            all.write(reinterpret_cast<const char *>(block), static_cast<std::streamsize>(size));
        }
    }
    close(fd);
    return 0;
}
