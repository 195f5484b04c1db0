// The objects of a directory tree in memory: the top of the tree and the
// objects below it, found by key (DirectoryNames.h), each container holding
// its children in store order.
#pragma once

#include "directory/DirectoryEntry.h"

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace smsemu {

class DirectoryTree {
public:
    explicit DirectoryTree(DirectoryNaming naming);

    const DirectoryNaming &naming() const { return naming_; }
    const EntryPtr &top() const { return top_; }
    // The object (or the top, key "") of a key; null when there is none.
    EntryPtr find(const std::string &key) const;
    // Objects, the top not counted.
    std::size_t objectCount() const { return entries_.size() - 1; }

    // Adds an object as the last child of its container, which must be in
    // the tree; `components` as parsed from its name (leaf first).
    EntryPtr add(const std::string &key, const std::vector<std::string_view> &components, std::string objectClass,
                 Attributes attributes);
    // Replaces the class and attributes of the top or an object.
    void setContent(DirectoryEntry &entry, std::string objectClass, Attributes attributes);
    // Removes an object that has no children.
    void remove(const EntryPtr &entry);

    // Visits `from` and what is below it, each container before its
    // children; `visit` returns false to pass over the subtree of what it got.
    template <class Visit>
    void preorder(const EntryPtr &from, Visit &&visit) const
    {
        if (!visit(from))
            return;
        std::vector<std::pair<const DirectoryEntry *, std::size_t>> stack{{from.get(), 0}};
        while (!stack.empty()) {
            const DirectoryEntry *entry = stack.back().first;
            std::size_t next = stack.back().second++;
            if (next == entry->children.size()) {
                stack.pop_back();
                continue;
            }
            const EntryPtr &child = entry->children[next];
            if (visit(child) && !child->children.empty())
                stack.emplace_back(child.get(), 0);
        }
    }

private:
    DirectoryNaming naming_;
    EntryPtr top_;
    std::unordered_map<std::string, EntryPtr> entries_;
};

} // namespace smsemu
