#include "groupwise/GroupWiseNames.h"

#include "core/NameMatch.h"

namespace smsemu {
namespace {

// "DOM1:" -> "DOM1"
std::string_view stem(const ResourceConfig &domain)
{
    return std::string_view(domain.name).substr(0, domain.name.size() - 1);
}

} // namespace

std::vector<ResourceConfig> domainResources(const std::vector<ResourceConfig> &domains)
{
    std::vector<ResourceConfig> resources;
    for (const ResourceConfig &domain : domains)
        resources.push_back({"/" + std::string(stem(domain)), domain.path, domain.nameSpaces});
    return resources;
}

bool toFileSystemName(const std::vector<ResourceConfig> &domains, std::string_view name, std::string &out)
{
    std::size_t colon = name.find(':');
    if (colon == std::string_view::npos)
        return false;
    for (const ResourceConfig &domain : domains) {
        if (!equalsIgnoringCase(name.substr(0, colon + 1), domain.name))
            continue;
        std::string_view rest = name.substr(colon + 1);
        if (!rest.empty() && rest.front() == '/')
            rest.remove_prefix(1);
        out = "/";
        out += stem(domain);
        if (!rest.empty()) {
            out += '/';
            out += rest;
        }
        return true;
    }
    return false;
}

bool toGroupWiseName(const std::vector<ResourceConfig> &domains, std::string_view name, std::string &out)
{
    for (const ResourceConfig &domain : domains) {
        std::string_view base = stem(domain);
        if (name.size() < base.size() + 1 || name[0] != '/' || name.substr(1, base.size()) != base)
            continue;
        std::string_view rest = name.substr(base.size() + 1);
        if (!rest.empty() && rest.front() != '/')
            continue; // "/DOM10" is not under "/DOM1"
        if (!rest.empty())
            rest.remove_prefix(1);
        out = domain.name;
        out += rest;
        return true;
    }
    return false;
}

} // namespace smsemu
