// A scratch folder for the fuzz targets that restore through the SMS calls:
// a stand-in configuration of the TSA under test, its folders, and a
// connection logged in to its target service. Made once per process; the
// folder goes when the process ends (the place itself stays: the stand-in
// holds its connection until then).
#ifndef KXSMS_FUZZ_STANDINPLACE_H
#define KXSMS_FUZZ_STANDINPLACE_H

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "FuzzSupport.h"
#include "SMSAPI.h"
#include "requester/SmsEmuTest.h"

namespace fuzzplace {

namespace fs = std::filesystem;

using fuzzsupport::require;

// The folder of this run below TMPDIR (the fuzz runs put it in memory).
inline fs::path makeScratch()
{
    static const fuzzsupport::ScratchFolder folder;
    return folder.path();
}

// Writes the configuration (host "fuzzhost" and the TSA tables given),
// resets the stand-in to it and logs in to the TSA of that name.
inline UINT32 connect(const fs::path &root, const std::string &tsaTables, const char *tsa, const char *service)
{
    std::ofstream(root / "smsemu.toml") << "[host]\nname = \"fuzzhost\"\n" << tsaTables;
    setenv("SMSEMU_CONFIG", (root / "smsemu.toml").c_str(), 1);
    unsetenv("SMSEMU_TRACE");
    unsetenv("SMSEMU_FAULTS");
    smsemuReset();
    UINT32 connection = 0xFFFFFFFF;
    std::string tsaName = std::string("fuzzhost.") + tsa;
    require(NWSMConnectToTSA(tsaName.data(), &connection) == 0);
    std::string serviceName = service;
    std::string user = getpwuid(geteuid())->pw_name;
    unsigned char auth[3] = {0, 0, 0};
    require(NWSMTSConnectToTargetService(&connection, serviceName.data(), user.data(), auth) == 0);
    return connection;
}

// Restores one stream without a name (the stream names its data set) in
// blocks of `block` bytes; the close's answer, or the open's.
inline CCODE restoreStream(UINT32 connection, UINT32 mode, const std::string &stream, size_t block)
{
    UINT32 handle = 0;
    if (CCODE rc = NWSMTSOpenDataSetForRestore(connection, 0, nullptr, mode, &handle))
        return rc;
    CCODE written = 0;
    for (size_t at = 0; at < stream.size() && written == 0; at += block) {
        const size_t n = stream.size() - at < block ? stream.size() - at : block;
        written = NWSMTSWriteDataSet(connection, handle, static_cast<UINT32>(n),
                                     reinterpret_cast<UINT8 *>(const_cast<char *>(stream.data() + at)));
    }
    const CCODE closed = NWSMTSCloseDataSet(connection, &handle);
    return written != 0 ? written : closed;
}

// Whether anything below root is a restore's temporary file, which must
// never outlive its data set.
inline bool holdsTemporaries(const fs::path &root)
{
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::end(it); it.increment(error))
        if (it->path().filename().string().rfind(".kxsms-restore-", 0) == 0)
            return true;
    return false;
}

// Empties a folder but for the names kept.
inline void emptyFolder(const fs::path &folder, const std::string &kept = "")
{
    std::error_code error;
    for (const auto &entry : fs::directory_iterator(folder, error))
        if (entry.path().filename() != kept)
            fs::remove_all(entry.path(), error);
}

} // namespace fuzzplace

#endif
