// The schema the directory TSA shows under its resource "Schema": a class
// definition for each built-in class and for every other class an object of
// the tree has. It is made from the tree each time it is asked for, so it
// cannot be changed by itself: a restore of a class definition the schema
// already has changes nothing, of any other one is refused.
#pragma once

#include "directory/DirectoryEntry.h"

#include <string_view>
#include <vector>

namespace smsemu {

class DirectoryTree;

// Top, Country, Locality, Organization, OrganizationalUnit and domain
// (ignoring case): their objects are containers even without children.
bool isContainerClass(std::string_view objectClass);

// The class definition of a class: its name, whether its objects are
// containers, and the server's text of it when there is one.
EntryPtr makeDefinition(std::string_view objectClass, std::string_view definition = {});

// The class definitions: the built-in classes in a fixed order, then the
// tree's other classes in name order (ignoring case).
std::vector<EntryPtr> classDefinitions(const DirectoryTree &tree);

// The class definition of one class, or null when the schema has none.
EntryPtr classDefinition(const DirectoryTree &tree, std::string_view objectClass);

} // namespace smsemu
