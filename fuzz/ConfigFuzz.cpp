// The stand-in's configuration file (SMSEMU_CONFIG), TOML that its user
// writes: whatever the text, reading it must not crash, every problem is
// named, and what it accepts holds together: each TSA listed has a type and
// a name and a target service, a file-system TSA at least one resource, and
// every resource a name and a folder.
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "requester/Config.h"
#include "requester/Tsa.h"

namespace smsemu {

// The directory stores a configuration names are read by their own target
// (directory_store_fuzz); here every store is taken as readable.
bool checkStoreOf(const TsaConfig &, std::string &)
{
    return true;
}

} // namespace smsemu

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const fuzzsupport::ScratchFolder folder;
    const std::filesystem::path file = folder.write("smsemu.toml", data, size);
    const smsemu::Config config = smsemu::readConfig(file.string());
    for (const std::string &problem : config.problems)
        fuzzsupport::require(!problem.empty());
    for (const smsemu::TsaConfig &tsa : config.tsas) {
        fuzzsupport::require(!tsa.name.empty() && !tsa.targetService.empty());
        if (tsa.kind == smsemu::TsaKind::FileSystem)
            fuzzsupport::require(!tsa.resources.empty());
        for (const smsemu::ResourceConfig &resource : tsa.resources)
            fuzzsupport::require(!resource.name.empty() && !resource.path.empty());
    }
    return 0;
}
