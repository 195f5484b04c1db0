// Names of the directory TSA's data sets and the keys they are compared by.
//
//   the tree resource   its target service ("ACME_TREE")
//   the top of the tree ".[Root]", or ".T=ACME_TREE" in the tree-name form
//   an object           ".CN=Admin.O=Acme.[Root]" (leaf first, '.'-separated)
//   the schema          "Schema"
//   a class definition  ".CN=User.Schema"
//
// A backslash escapes the next character, so "CN=a\.b" is one component.
// Names are compared ignoring case (ASCII) with escapes resolved: the key of
// a name is its unescaped, lower-cased components joined by NUL characters,
// leaf first; the top of the tree has the empty key.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace smsemu {

enum class EntryKind { TreeResource, Schema, ClassDefinition, Top, Object };

// How the TSA writes the top of the tree.
struct DirectoryNaming {
    std::string tree; // the tree name (the target service)
    bool treeForm = false;
};

// Keys of the two resources (no object key begins with a NUL).
inline const std::string kTreeResourceKey{"\0tree", 5};
inline const std::string kSchemaKey{"\0schema", 7};
inline constexpr const char *kSchemaName = "Schema";

struct DirectoryName {
    EntryKind kind = EntryKind::Object;
    // Objects: their components as written, leaf first, the top left out.
    // Class definitions: the class name (unescaped, without "CN=").
    std::vector<std::string_view> components;
    std::string className;
    std::string key;
};

// Takes a name apart; false when it names nothing this TSA can hold (an empty
// component, a top that is not this tree's, ...). Accepted besides the forms
// above: no leading '.', one trailing unescaped '.', both top-of-tree forms
// whatever the configured one, ".Schema", and the forms the module gives its
// host for the tree resource and class definitions (".ACME_TREE.[Root]",
// ".CN=User.Schema.[Root]").
bool parseDirectoryName(std::string_view name, std::string_view tree, DirectoryName &out);

// The key of the container of an object key ("" for objects under the top).
std::string parentKey(std::string_view objectKey);
// The keys of the containers of an object, nearest first, the top ("") last.
std::vector<std::string_view> ancestorKeys(std::string_view objectKey);

// The root form of an object's name: ".<components>.[Root]"; ".[Root]" for none.
std::string rootFormName(const std::vector<std::string_view> &components);
// A root-form name as the TSA writes it (".T=<tree>" at the end in the tree-name form).
std::string shownName(const std::string &rootForm, const DirectoryNaming &naming);
// The name and key of a class definition.
std::string classDefinitionName(std::string_view className);
std::string classDefinitionKey(std::string_view className);

std::string lowerAscii(std::string_view text);

} // namespace smsemu
