// The kxsms archive reader on hostile input, plain or zstd-compressed, read
// in pieces of varying size: it must never crash, never take unbounded memory,
// and never hand out a block longer than a chunk.
#include <cstdlib>
#include <cstring>
#include <string>

#include "PieceInput.h"
#include "archive/ArchiveReader.h"
#include "io/Streams.h"

namespace {

void require(bool condition)
{
    if (!condition)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t step = 1 + (static_cast<size_t>(data[0]) * 97) % 70000;
    PieceInput raw(data + 1, size - 1, step);
    try {
        kxsms::ArchiveInput input(raw, [](const std::string &) {});
        kxsms::ArchiveReader reader(input, [](const kxsms::ArchiveReader::Problem &) {});
        if (!reader.open())
            return 0;
        kxsms::format::MemberDescriptor member;
        size_t members = 0;
        while (reader.nextMember(member) && members++ < 100000) {
            require(member.name.size() <= 1023);
            const unsigned char *block = nullptr;
            size_t blockSize = 0;
            while (reader.readBlock(block, blockSize))
                require(blockSize <= 65536 && (blockSize == 0 || block != nullptr));
        }
    } catch (const kxsms::IoError &) {
        // A read error of the input is reported as such; nothing to check.
    }
    return 0;
}
