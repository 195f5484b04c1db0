#include "directory/DirectorySchema.h"

#include "directory/DirectoryStream.h"
#include "directory/DirectoryTree.h"
#include "core/NameMatch.h"

#include <array>
#include <map>

namespace smsemu {
namespace {

struct BuiltIn {
    const char *name;
    bool container;
};

constexpr std::array<BuiltIn, 8> kBuiltIns{{{"Top", true},
                                            {"Country", true},
                                            {"Locality", true},
                                            {"Organization", true},
                                            {"OrganizationalUnit", true},
                                            {"domain", true},
                                            {"User", false},
                                            {"Group", false}}};

const BuiltIn *builtIn(std::string_view objectClass)
{
    for (const BuiltIn &b : kBuiltIns)
        if (equalsIgnoringCase(b.name, objectClass))
            return &b;
    return nullptr;
}

} // namespace

bool isContainerClass(std::string_view objectClass)
{
    const BuiltIn *b = builtIn(objectClass);
    return b != nullptr && b->container;
}

EntryPtr makeDefinition(std::string_view objectClass, std::string_view definition)
{
    auto entry = std::make_shared<DirectoryEntry>();
    entry->kind = EntryKind::ClassDefinition;
    entry->key = classDefinitionKey(objectClass);
    entry->dn = entry->name = classDefinitionName(objectClass);
    entry->objectClass = "Class Definition";
    entry->attributes["container"] = {isContainerClass(objectClass) ? "TRUE" : "FALSE"};
    if (!definition.empty())
        entry->attributes["definition"] = {std::string(definition)};
    entry->attributes["name"] = {std::string(objectClass)};
    measureEntry(*entry);
    return entry;
}

std::vector<EntryPtr> classDefinitions(const DirectoryTree &tree)
{
    // Each other class once, under the spelling it first has, in name order.
    std::map<std::string, std::string> others;
    tree.preorder(tree.top(), [&](const EntryPtr &entry) {
        if (builtIn(entry->objectClass) == nullptr)
            others.emplace(lowerAscii(entry->objectClass), entry->objectClass);
        return true;
    });

    std::vector<EntryPtr> definitions;
    for (const BuiltIn &b : kBuiltIns)
        definitions.push_back(makeDefinition(b.name));
    for (const auto &[key, name] : others)
        definitions.push_back(makeDefinition(name));
    return definitions;
}

EntryPtr classDefinition(const DirectoryTree &tree, std::string_view objectClass)
{
    if (const BuiltIn *b = builtIn(objectClass))
        return makeDefinition(b->name);
    EntryPtr found;
    tree.preorder(tree.top(), [&](const EntryPtr &entry) {
        if (found == nullptr && equalsIgnoringCase(entry->objectClass, objectClass))
            found = makeDefinition(entry->objectClass);
        return found == nullptr;
    });
    return found;
}

} // namespace smsemu
