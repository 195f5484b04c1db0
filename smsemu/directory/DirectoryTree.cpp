#include "directory/DirectoryTree.h"

#include "directory/DirectoryStream.h"

#include <algorithm>

namespace smsemu {

DirectoryTree::DirectoryTree(DirectoryNaming naming)
    : naming_(std::move(naming)), top_(std::make_shared<DirectoryEntry>())
{
    top_->kind = EntryKind::Top;
    top_->dn = rootFormName({});
    top_->name = shownName(top_->dn, naming_);
    top_->objectClass = kTopClass;
    measureEntry(*top_);
    entries_.emplace(std::string(), top_);
}

EntryPtr DirectoryTree::find(const std::string &key) const
{
    auto found = entries_.find(key);
    return found != entries_.end() ? found->second : nullptr;
}

EntryPtr DirectoryTree::add(const std::string &key, const std::vector<std::string_view> &components,
                            std::string objectClass, Attributes attributes)
{
    EntryPtr container = find(parentKey(key));
    auto entry = std::make_shared<DirectoryEntry>();
    entry->kind = EntryKind::Object;
    entry->key = key;
    entry->dn = rootFormName(components);
    entry->name = shownName(entry->dn, naming_);
    entry->objectClass = std::move(objectClass);
    entry->attributes = std::move(attributes);
    measureEntry(*entry);
    entries_.emplace(key, entry);
    container->children.push_back(entry);
    return entry;
}

void DirectoryTree::setContent(DirectoryEntry &entry, std::string objectClass, Attributes attributes)
{
    entry.objectClass = std::move(objectClass);
    entry.attributes = std::move(attributes);
    measureEntry(entry);
}

void DirectoryTree::remove(const EntryPtr &entry)
{
    if (EntryPtr container = find(parentKey(entry->key))) {
        auto &siblings = container->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), entry), siblings.end());
    }
    entries_.erase(entry->key);
}

} // namespace smsemu
