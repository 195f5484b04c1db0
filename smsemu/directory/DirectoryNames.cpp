#include "directory/DirectoryNames.h"

#include "core/NameMatch.h"

namespace smsemu {
namespace {

constexpr std::string_view kRootComponent = "[Root]";

bool endsWithUnescapedDot(std::string_view s)
{
    if (s.empty() || s.back() != '.')
        return false;
    std::size_t slashes = 0;
    for (std::size_t i = s.size() - 1; i > 0 && s[i - 1] == '\\'; --i)
        ++slashes;
    return slashes % 2 == 0;
}

// Splits at unescaped '.'; a trailing backslash escapes nothing.
std::vector<std::string_view> splitComponents(std::string_view s)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\') {
            ++i;
            continue;
        }
        if (s[i] == '.') {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(s.substr(start));
    return parts;
}

// The component with its escapes resolved, lower-cased, appended to `out`.
void appendKeyOf(std::string_view component, std::string &out)
{
    for (std::size_t i = 0; i < component.size(); ++i) {
        char c = component[i];
        if (c == '\\' && i + 1 < component.size())
            c = component[++i];
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
}

std::string keyOf(std::string_view component)
{
    std::string key;
    appendKeyOf(component, key);
    return key;
}

std::string unescaped(std::string_view component)
{
    std::string out;
    for (std::size_t i = 0; i < component.size(); ++i) {
        char c = component[i];
        if (c == '\\' && i + 1 < component.size())
            c = component[++i];
        out += c;
    }
    return out;
}

bool isTop(std::string_view component, std::string_view tree)
{
    std::string key = keyOf(component);
    if (key == "[root]")
        return true;
    return key.size() == tree.size() + 2 && key.compare(0, 2, "t=") == 0 &&
           equalsIgnoringCase(std::string_view(key).substr(2), tree);
}

} // namespace

std::string lowerAscii(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool parseDirectoryName(std::string_view name, std::string_view tree, DirectoryName &out)
{
    out = DirectoryName{};
    if (equalsIgnoringCase(name, tree)) {
        out.kind = EntryKind::TreeResource;
        out.key = kTreeResourceKey;
        return true;
    }
    if (!name.empty() && name.front() == '.')
        name.remove_prefix(1);
    if (name.size() > 1 && endsWithUnescapedDot(name))
        name.remove_suffix(1);
    if (name.empty())
        return false;
    if (equalsIgnoringCase(name, kSchemaName)) {
        out.kind = EntryKind::Schema;
        out.key = kSchemaKey;
        return true;
    }
    std::vector<std::string_view> parts = splitComponents(name);
    for (std::string_view part : parts)
        if (part.empty())
            return false;
    if (isTop(parts.back(), tree)) {
        parts.pop_back();
        // The module hands back the tree resource and class definitions in its
        // agent form, with the top of the tree added: ".ACME_TREE.[Root]",
        // ".CN=User.Schema.[Root]". They name the same data sets.
        if (parts.size() == 1 && equalsIgnoringCase(parts.front(), tree)) {
            out.kind = EntryKind::TreeResource;
            out.key = kTreeResourceKey;
            return true;
        }
        if (parts.size() == 2 && keyOf(parts.back()) == "schema")
            return parseDirectoryName(std::string(".") + std::string(parts.front()) + ".Schema", tree, out);
        out.kind = parts.empty() ? EntryKind::Top : EntryKind::Object;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (i != 0)
                out.key += '\0';
            appendKeyOf(parts[i], out.key);
        }
        out.components = std::move(parts);
        return true;
    }
    if (parts.size() == 2 && keyOf(parts.back()) == "schema") {
        std::string className = unescaped(parts.front());
        if (className.size() > 3 && equalsIgnoringCase(std::string_view(className).substr(0, 3), "cn="))
            className.erase(0, 3);
        if (className.empty())
            return false;
        out.kind = EntryKind::ClassDefinition;
        out.key = classDefinitionKey(className);
        out.className = std::move(className);
        return true;
    }
    return false;
}

std::string parentKey(std::string_view objectKey)
{
    std::size_t nul = objectKey.find('\0');
    return nul == std::string_view::npos ? std::string() : std::string(objectKey.substr(nul + 1));
}

std::vector<std::string_view> ancestorKeys(std::string_view objectKey)
{
    std::vector<std::string_view> keys;
    if (objectKey.empty())
        return keys;
    for (std::size_t at = objectKey.find('\0'); at != std::string_view::npos; at = objectKey.find('\0', at + 1))
        keys.push_back(objectKey.substr(at + 1));
    keys.push_back(std::string_view());
    return keys;
}

std::string rootFormName(const std::vector<std::string_view> &components)
{
    std::string name;
    for (std::string_view component : components) {
        name += '.';
        name += component;
    }
    name += '.';
    name += kRootComponent;
    return name;
}

std::string shownName(const std::string &rootForm, const DirectoryNaming &naming)
{
    if (!naming.treeForm || rootForm.size() < kRootComponent.size())
        return rootForm;
    return rootForm.substr(0, rootForm.size() - kRootComponent.size()) + "T=" + naming.tree;
}

std::string classDefinitionName(std::string_view className)
{
    std::string name = ".CN=";
    for (char c : className) {
        if (c == '.' || c == '\\')
            name += '\\';
        name += c;
    }
    return name + "." + kSchemaName;
}

std::string classDefinitionKey(std::string_view className)
{
    // A NUL first, like the resources' keys: never the key of an object.
    return std::string("\0class:", 7) + lowerAscii(className);
}

} // namespace smsemu
