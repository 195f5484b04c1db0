// The encrypted container's reader on hostile input: the clear header and
// its wrapped keys, then the chunk stream under the archive reader, read in
// pieces of varying size. It must never crash nor hand out a byte that did
// not authenticate. The seeds are archives written to the recipient whose
// secret key is secretKey(), so that mutations reach the chunks.
#include <cstdlib>
#include <cstring>
#include <string>

#include "ArchiveBuilder.h"
#include "archive/ArchiveReader.h"
#include "io/Sealed.h"
#include "io/Streams.h"

namespace {

// The seeds' recipient: bytes 1 to 32.
kxsms::sealed::LockedBytes secretKey()
{
    kxsms::sealed::LockedBytes key(kxsms::sealed::c_SecretKeySize);
    for (size_t i = 0; i < key.size(); ++i)
        key.data()[i] = static_cast<unsigned char>(i + 1);
    return key;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 + sizeof kxsms::sealed::c_Magic)
        return 0;
    static const kxsms::sealed::LockedBytes key = secretKey();
    const size_t step = 1 + (static_cast<size_t>(data[0]) * 131) % 140000;
    fuzzarchive::PieceInput raw(data + 1, size - 1, step);
    unsigned char magic[sizeof kxsms::sealed::c_Magic];
    size_t got = 0;
    while (got < sizeof magic) {
        const size_t n = raw.read(magic + got, sizeof magic - got);
        if (n == 0)
            return 0;
        got += n;
    }
    if (memcmp(magic, kxsms::sealed::c_Magic, sizeof magic) != 0)
        return 0;
    try {
        kxsms::sealed::Header header;
        std::string error;
        if (!kxsms::sealed::readHeader(raw, header, error))
            return 0;
        bool damaged = false;
        kxsms::sealed::LockedBytes archiveKey = kxsms::sealed::openHeader(header, nullptr, &key, damaged);
        if (archiveKey.empty())
            return 0;
        kxsms::sealed::SealedInput sealed(raw, header, std::move(archiveKey), [](const std::string &) {});
        kxsms::ArchiveInput input(sealed, [](const std::string &) {});
        kxsms::ArchiveReader reader(input, [](const kxsms::ArchiveReader::Problem &) {});
        if (!reader.open())
            return 0;
        kxsms::format::MemberDescriptor member;
        size_t members = 0;
        while (reader.nextMember(member) && members++ < 100000) {
            const unsigned char *block = nullptr;
            size_t blockSize = 0;
            while (reader.readBlock(block, blockSize))
                if (blockSize > 65536 || (blockSize > 0 && block == nullptr))
                    abort();
        }
    } catch (const kxsms::IoError &) {
        // A read error of the input is reported as such; nothing to check.
    }
    return 0;
}
