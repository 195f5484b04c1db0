#include "directory/DirectoryEntry.h"

#include "directory/DirectorySchema.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace smsemu {

bool isParent(const DirectoryEntry &entry)
{
    switch (entry.kind) {
    case EntryKind::TreeResource:
    case EntryKind::Schema:
    case EntryKind::Top:
        return true;
    case EntryKind::ClassDefinition:
        return false;
    case EntryKind::Object:
        return !entry.children.empty() || isContainerClass(entry.objectClass);
    }
    return false;
}

bool attributesFromJson(const nlohmann::json &json, Attributes &out, std::string &problem)
{
    out.clear();
    if (!json.is_object()) {
        problem = "\"attributes\" must be an object of name: [values]";
        return false;
    }
    for (const auto &[name, value] : json.items()) {
        bool strings = value.is_string() || value.is_array();
        if (value.is_array())
            for (const nlohmann::json &item : value)
                strings = strings && item.is_string();
        if (!strings) {
            problem = fmt::format("attribute \"{}\" must be a string or an array of strings", name);
            return false;
        }
        std::vector<std::string> &values = out[name];
        if (value.is_string())
            values.push_back(value.get<std::string>());
        else
            for (const nlohmann::json &item : value)
                values.push_back(item.get<std::string>());
    }
    return true;
}

void attributesToJson(const Attributes &attributes, nlohmann::json &out)
{
    out = nlohmann::json::object();
    for (const auto &[name, values] : attributes)
        out[name] = values;
}

} // namespace smsemu
