#include "core/NameSpaces.h"

#include <array>
#include <strings.h>

namespace smsemu {
namespace {

constexpr std::array<const char *, 5> kNames{"DOS", "MAC", "NFS", "FTAM", "OS2/LONG"};

} // namespace

std::optional<UINT32> nameSpaceType(std::string_view name)
{
    for (UINT32 type = 0; type < kNames.size(); ++type) {
        std::string_view known(kNames[type]);
        if (name.size() == known.size() && strncasecmp(name.data(), known.data(), known.size()) == 0)
            return type;
    }
    return std::nullopt;
}

bool isKnownNameSpace(UINT32 type)
{
    return type <= NWSM_NAME_SPACE_OS2 ||
           (type >= NWSM_NAME_SPACE_UTF8_BASE && type <= NWSM_NAME_SPACE_UTF8_BASE + NWSM_NAME_SPACE_OS2);
}

const char *nameSpaceName(UINT32 type)
{
    if (!isKnownNameSpace(type))
        return nullptr;
    return kNames[type % NWSM_NAME_SPACE_UTF8_BASE];
}

bool isMacNameSpace(UINT32 type)
{
    return type == NWSM_NAME_SPACE_MAC || type == NWSM_NAME_SPACE_UTF8_BASE + NWSM_NAME_SPACE_MAC;
}

} // namespace smsemu
