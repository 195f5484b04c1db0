// The file-system TSA's restore of well-formed streams of every kind, put
// together from the fuzzer's choices (StreamBuilder.h): attribute sections
// (extended attributes, ACLs, the TSA's own archive-flag attribute), hard
// links to names restored before in the same job, FIFOs and devices, files
// with holes and pads, under names inside and at the edges of the resource,
// with every combination of the restore options; now and then a stream is
// damaged. Nothing may crash, appear outside the resource, or leave a
// temporary file behind, and every data set is closed.
//
// Input: the open-mode choice, a block size, a byte whose top bit chooses
// streams as a backup made them (the rest of the input, one stream after
// another, their checksums made right again: real streams the fuzzer
// changes) or streams put together here, then the number of data sets and
// per data set its name and the stream's choices.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "StandInPlace.h"
#include "StreamBuilder.h"

namespace {

namespace fs = std::filesystem;
using fuzzplace::require;

struct Place {
    fs::path root = fuzzplace::makeScratch();
    fs::path resource = root / "resource";
    fs::path outside = root / "outside";
    UINT32 connection = 0xFFFFFFFF;

    Place()
    {
        fs::create_directories(resource);
        fs::create_directories(outside);
        fs::create_symlink(outside, resource / "link");
        connection = fuzzplace::connect(
            root,
            "[[tsa]]\ntype = \"Linux File System\"\narchive_state = \"" + (root / "state.sqlite").string() +
                "\"\n[[tsa.resource]]\nname = \"/\"\npath = \"" + resource.string() + "\"\n",
            "Linux File System", "fuzzhost");
    }
};

// Names inside the resource, the resource itself, names through the
// symbolic link, and names that try to leave.
const char *const c_Names[] = {"/a", "/b", "/d/a", "/d/e/f", "/d", "/", "/link/x", "/../x", "/d/../../x", "/a/b"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Place *place = new Place();
    FuzzInput input(data, size);
    const UINT8 options = input.byte();
    UINT32 mode = (options & 0x01 ? NWSM_OVERWRITE_DATA_SET : 0) | (options & 0x02 ? NWSM_KEEP_NEWER_DATA_SET : 0) |
                  (options & 0x04 ? NWSM_RESTORE_OWNER : 0) | (options & 0x08 ? NWSM_RESTORE_XATTRS : 0) |
                  (options & 0x10 ? NWSM_RESTORE_MODE : 0) | (options & 0x20 ? NWSM_RESTORE_TIMES : 0);
    const size_t block = 1 + input.byte() * 7;
    const uint8_t choice = input.byte();
    if ((choice & 0x80) != 0) {
        for (std::string &stream : fuzzstream::splitStreams(input.remaining())) {
            fuzzstream::repairStream(stream);
            fuzzplace::restoreStream(place->connection, mode, stream, block);
        }
    }
    const size_t count = 1 + choice % 4;
    std::vector<std::string> restored;
    for (size_t i = 0; i < count && !input.empty(); ++i) {
        const std::string name = input.byte() % 8 == 0 ? "/" + input.word(12) : input.pick(c_Names);
        const std::string stream = fuzzstream::buildStream(input, name, restored);
        if (fuzzplace::restoreStream(place->connection, mode, stream, block) == 0)
            restored.push_back(name);
    }
    require(smsemuOpenDataSets() == 0);
    require(fs::is_empty(place->outside));
    require(!fuzzplace::holdsTemporaries(place->resource));

    static unsigned runs = 0;
    if (++runs % 32 == 0)
        fuzzplace::emptyFolder(place->resource, "link");
    return 0;
}
