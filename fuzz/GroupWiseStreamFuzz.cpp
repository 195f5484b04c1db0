// The GroupWise TSA's restore of streams whose headers name data sets in
// GroupWise form ("DOM1:dir/f"), put together from the fuzzer's choices
// (StreamBuilder.h) or taken as they come: the TSA turns each name (and a
// hard link's first name) back into the file system's form and hands the
// stream on. Names of other domains, of "GroupWise Mail Server", with ".."
// or through a symbolic link must be refused; nothing may crash, appear
// outside the domains' folders or leave a temporary file behind.
//
// Input: a byte choosing streams as a backup made them (top bit: the rest of
// the input, one stream after another, their checksums made right again),
// raw (bit 0) or put together here, a block size, the number of data sets,
// then per data set its name and the stream.
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
    fs::path domains = root / "domains";
    fs::path outside = root / "outside";
    UINT32 connection = 0xFFFFFFFF;

    Place()
    {
        fs::create_directories(domains / "dom1");
        fs::create_directories(domains / "dom2");
        fs::create_directories(outside);
        fs::create_symlink(outside, domains / "dom1" / "link");
        std::string tables =
            "[[tsa]]\ntype = \"GroupWise System\"\narchive_state = \"" + (root / "state.sqlite").string() + "\"\n";
        for (const char *domain : {"dom1", "dom2"})
            tables += "[[tsa.resource]]\nname = \"" + fs::path(domain).string() + ":\"\npath = \"" +
                      (domains / domain).string() + "\"\n";
        connection = fuzzplace::connect(root, tables, "GroupWise System", "fuzzhost");
    }
};

const char *const c_Names[] = {"dom1:a",         "DOM1:d/e", "dom2:f",
                               "dom1:",          "DOM1:/x",  "dom1:link/x",
                               "dom1:../x",      "dom3:a",   "GroupWise Mail Server",
                               "dom1:d/../../x", "dom2:d/e", "dom1:a/b",
                               "/dom1/a"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Place *place = new Place();
    FuzzInput input(data, size);
    const uint8_t choice = input.byte();
    const bool raw = (choice & 1) != 0;
    const size_t block = 1 + input.byte() * 7;
    const UINT32 mode = NWSM_OVERWRITE_DATA_SET | NWSM_RESTORE_MODE | NWSM_RESTORE_TIMES | NWSM_RESTORE_XATTRS;
    if ((choice & 0x80) != 0) {
        for (std::string &stream : fuzzstream::splitStreams(input.remaining())) {
            fuzzstream::repairStream(stream);
            fuzzplace::restoreStream(place->connection, mode, stream, block);
        }
    }
    const size_t count = 1 + input.byte() % 3;
    std::vector<std::string> restored;
    for (size_t i = 0; i < count && !input.empty(); ++i) {
        const std::string name = input.byte() % 8 == 0 ? input.word(12) : input.pick(c_Names);
        const std::string stream = raw ? input.word() : fuzzstream::buildStream(input, name, restored);
        if (fuzzplace::restoreStream(place->connection, mode, stream, block) == 0)
            restored.push_back(name);
    }
    require(smsemuOpenDataSets() == 0);
    require(fs::is_empty(place->outside));
    require(!fuzzplace::holdsTemporaries(place->domains));

    static unsigned runs = 0;
    if (++runs % 32 == 0) {
        fuzzplace::emptyFolder(place->domains / "dom1", "link");
        fuzzplace::emptyFolder(place->domains / "dom2");
    }
    return 0;
}
