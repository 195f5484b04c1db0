// The file-system TSA's restore of an untrusted stream, through the SMS calls
// a host makes: open for restore without a name (the stream names the data
// set), write the bytes in blocks of varying size, close. Whatever the bytes,
// nothing may crash and nothing may appear outside the resource's directory.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "FuzzInput.h"
#include "StandInPlace.h"

namespace {

namespace fs = std::filesystem;
using fuzzplace::require;

struct Place {
    fs::path root = fuzzplace::makeScratch();
    fs::path resource = root / "resource"; // the resource's directory
    fs::path outside = root / "outside";   // a sibling that must stay empty
    UINT32 connection = 0xFFFFFFFF;

    Place()
    {
        fs::create_directories(resource);
        fs::create_directories(outside);
        fs::create_symlink(outside, resource / "link"); // a symlinked parent to be refused
        connection = fuzzplace::connect(root,
                                        "[[tsa]]\ntype = \"Linux File System\"\n[[tsa.resource]]\nname = \"/\"\n"
                                        "path = \"" +
                                            resource.string() + "\"\n",
                                        "Linux File System", "fuzzhost");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Place *place = new Place();
    FuzzInput input(data, size);
    const UINT8 options = input.byte();
    const UINT32 mode = 0x3001 | ((options & 1) ? 0x0100 : 0) | ((options & 4) ? 0x0800 : 0);
    const size_t block = 1 + input.byte() * 13;
    const std::string stream(reinterpret_cast<const char *>(data) + (size < 2 ? size : 2), size < 2 ? 0 : size - 2);
    fuzzplace::restoreStream(place->connection, mode, stream, block);
    require(smsemuOpenDataSets() == 0);
    require(fs::is_empty(place->outside));

    // Keep the resource small: empty it now and then.
    static unsigned runs = 0;
    if (++runs % 64 == 0)
        fuzzplace::emptyFolder(place->resource, "link");
    return 0;
}
