#include "requester/SelectionFilter.h"

#include "core/NameList.h"
#include "core/NameMatch.h"

namespace smsemu {
namespace {

std::string_view withoutTrailingSlash(std::string_view name)
{
    if (name.size() > 1 && name.back() == '/')
        name.remove_suffix(1);
    return name;
}

} // namespace

void SelectionFilter::load(const NWSM_SELECTION_LIST *list)
{
    names_.clear();
    resources_.clear();
    if (list == nullptr)
        return;
    NameEntries entries(list);
    while (const NWSM_NAME_ENTRY *entry = entries.next()) {
        std::string_view name = withoutTrailingSlash(std::string_view(entry->name, entry->nameLength));
        if ((entry->selectionType & NWSM_TSA_DEFINED_RESOURCE_EXC) != 0)
            resources_.emplace_back(name);
        if ((entry->selectionType & (NWSM_PARENT_TO_BE_EXCLUDED | NWSM_CHILD_TO_BE_EXCLUDED)) != 0)
            names_.emplace(name);
    }
}

bool SelectionFilter::excludesResource(std::string_view resourceName) const
{
    resourceName = withoutTrailingSlash(resourceName);
    for (const std::string &resource : resources_)
        if (equalsIgnoringCase(resource, resourceName))
            return true;
    return false;
}

bool SelectionFilter::excludesWithParents(std::string_view name) const
{
    if (names_.empty())
        return false;
    for (;;) {
        if (names_.count(std::string(name)) != 0)
            return true;
        std::size_t slash = name.rfind('/');
        if (slash == std::string_view::npos || name.size() <= 1)
            return false;
        name = slash == 0 ? std::string_view("/") : name.substr(0, slash);
    }
}

} // namespace smsemu
