#include "FileSystemTsa.h"

#include "NameMatch.h"
#include "NameRules.h"

namespace smsemu {

std::vector<std::string> FileSystemTsa::resourceNames() const
{
    std::vector<std::string> names;
    for (const ResourceConfig &resource : config().resources)
        names.push_back(resource.name);
    return names;
}

CCODE FileSystemTsa::nameSpaces(std::string_view resource, std::span<const UINT32> &types) const
{
    for (const ResourceConfig &configured : config().resources)
        if (equalsIgnoringCase(configured.name, resource)) {
            types = configured.nameSpaces;
            return 0;
        }
    return NWSMTS_RESOURCE_NAME_NOT_FOUND;
}

CCODE FileSystemTsa::separateName(std::string_view name, std::string &parent, std::string &child) const
{
    return separatePosixName(name, parent, child);
}

CCODE FileSystemTsa::joinName(std::string_view parent, std::string_view child, std::string &joined) const
{
    return joinPosixName(parent, child, joined);
}

} // namespace smsemu
