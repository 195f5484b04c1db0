// The file-system TSA's restore of an untrusted stream, through the SMS calls
// a host makes: open for restore without a name (the stream names the data
// set), write the bytes in blocks of varying size, close. Whatever the bytes,
// nothing may crash and nothing may appear outside the resource's directory.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "FuzzInput.h"
#include "SMSAPI.h"
#include "requester/SmsEmuTest.h"

namespace {

namespace fs = std::filesystem;

void require(bool condition)
{
    if (!condition)
        abort();
}

// The folder of this run, removed when the process ends (the place itself is
// never destroyed: the stand-in holds its connection to the last input).
fs::path g_root;

void removeRoot()
{
    std::error_code ignored;
    fs::remove_all(g_root, ignored);
}

struct Place {
    fs::path root;     // the folder of this run
    fs::path resource; // the resource's directory
    fs::path outside;  // a sibling that must stay empty
    UINT32 connection = 0xFFFFFFFF;

    Place()
    {
        std::string pattern = (fs::temp_directory_path() / "kxsms-fuzz-XXXXXX").string();
        require(mkdtemp(pattern.data()) != nullptr);
        root = pattern;
        g_root = root;
        std::atexit(removeRoot);
        resource = root / "resource";
        outside = root / "outside";
        fs::create_directories(resource);
        fs::create_directories(outside);
        fs::create_symlink(outside, resource / "link"); // a symlinked parent to be refused
        std::ofstream(root / "smsemu.toml") << "[host]\nname = \"fuzzhost\"\n[[tsa]]\ntype = \"Linux File System\"\n"
                                               "[[tsa.resource]]\nname = \"/\"\npath = \""
                                            << resource.string() << "\"\n";
        setenv("SMSEMU_CONFIG", (root / "smsemu.toml").c_str(), 1);
        unsetenv("SMSEMU_TRACE");
        unsetenv("SMSEMU_FAULTS");
        smsemuReset();
        char tsa[] = "fuzzhost.Linux File System";
        require(NWSMConnectToTSA(tsa, &connection) == 0);
        char service[] = "fuzzhost";
        std::string user = getpwuid(geteuid())->pw_name;
        unsigned char auth[3] = {0, 0, 0};
        require(NWSMTSConnectToTargetService(&connection, service, user.data(), auth) == 0);
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

    UINT32 handle = 0;
    if (NWSMTSOpenDataSetForRestore(place->connection, 0, nullptr, mode, &handle) == 0) {
        size_t at = 2 < size ? 2 : size;
        while (at < size) {
            const size_t n = size - at < block ? size - at : block;
            if (NWSMTSWriteDataSet(place->connection, handle, static_cast<UINT32>(n), const_cast<UINT8 *>(data + at)) !=
                0)
                break;
            at += n;
        }
        NWSMTSCloseDataSet(place->connection, &handle);
    }
    require(smsemuOpenDataSets() == 0);
    require(fs::is_empty(place->outside));

    // Keep the resource small: empty it now and then.
    static unsigned runs = 0;
    if (++runs % 64 == 0) {
        for (const auto &entry : fs::directory_iterator(place->resource))
            if (entry.path().filename() != "link")
                fs::remove_all(entry.path());
    }
    return 0;
}
