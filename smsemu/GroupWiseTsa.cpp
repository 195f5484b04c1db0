#include "GroupWiseTsa.h"

#include "NameMatch.h"
#include "NameRules.h"

namespace smsemu {

std::vector<std::string> GroupWiseTsa::resourceNames() const
{
    std::vector<std::string> names{kGroupWiseMailServer};
    for (const ResourceConfig &resource : config().resources)
        names.push_back(resource.name);
    return names;
}

CCODE GroupWiseTsa::nameSpaces(std::string_view resource, std::span<const UINT32> &types) const
{
    if (equalsIgnoringCase(resource, kGroupWiseMailServer)) {
        types = {};
        return 0;
    }
    for (const ResourceConfig &configured : config().resources)
        if (equalsIgnoringCase(configured.name, resource)) {
            types = configured.nameSpaces;
            return 0;
        }
    return NWSMTS_RESOURCE_NAME_NOT_FOUND;
}

CCODE GroupWiseTsa::separateName(std::string_view name, std::string &parent, std::string &child) const
{
    return separateGroupWiseName(name, parent, child);
}

CCODE GroupWiseTsa::joinName(std::string_view parent, std::string_view child, std::string &joined) const
{
    return joinGroupWiseName(parent, child, joined);
}

} // namespace smsemu
