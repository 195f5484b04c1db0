#include "filesystem/HardLinks.h"

#include <vector>

namespace smsemu {
namespace {

std::vector<std::string_view> components(std::string_view name)
{
    std::vector<std::string_view> parts;
    std::size_t at = 0;
    while (at < name.size()) {
        std::size_t end = name.find('/', at);
        if (end == std::string_view::npos)
            end = name.size();
        if (end > at)
            parts.push_back(name.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

} // namespace

std::optional<std::string> HardLinks::savedName(const InodeId &id) const
{
    std::lock_guard lock(mutex_);
    auto found = saved_.find(id);
    if (found == saved_.end())
        return std::nullopt;
    return found->second;
}

void HardLinks::saved(const InodeId &id, const std::string &name)
{
    std::lock_guard lock(mutex_);
    saved_.try_emplace(id, name);
}

std::optional<HardLinks::Restored> HardLinks::restored(const InodeId &id) const
{
    std::lock_guard lock(mutex_);
    auto found = restored_.find(id);
    if (found == restored_.end())
        return std::nullopt;
    return found->second;
}

void HardLinks::restoredAs(const InodeId &id, Restored where)
{
    std::lock_guard lock(mutex_);
    restored_[id] = std::move(where);
}

std::string relocatedLinkTarget(std::string_view oldName, std::string_view newName, std::string_view target)
{
    if (oldName == newName)
        return std::string(target);
    std::vector<std::string_view> from = components(oldName), to = components(newName), first = components(target);
    if (from.empty() || to.empty())
        return {};
    from.pop_back(); // the directories that hold the link
    to.pop_back();
    std::size_t common = 0;
    while (common < from.size() && common < first.size() && from[common] == first[common])
        ++common;
    std::size_t up = from.size() - common;
    if (up > to.size())
        return {};
    std::string result;
    for (std::size_t i = 0; i < to.size() - up; ++i)
        result.append("/").append(to[i]);
    for (std::size_t i = common; i < first.size(); ++i)
        result.append("/").append(first[i]);
    return result.empty() ? "/" : result;
}

} // namespace smsemu
