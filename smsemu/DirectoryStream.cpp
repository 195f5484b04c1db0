#include "DirectoryStream.h"

#include "StreamFormat.h"

#include <nlohmann/json.hpp>
#include <xxhash.h>

namespace smsemu {
namespace {

std::string headerPayload(const DirectoryEntry &entry)
{
    nlohmann::ordered_json header;
    header["name"] = entry.name;
    header["type"] = streamType(entry.kind);
    return header.dump();
}

std::string dataText(const DirectoryEntry &entry)
{
    nlohmann::json data;
    attributesToJson(entry.attributes, data["attributes"]);
    data["class"] = entry.objectClass;
    return data.dump();
}

} // namespace

const char *streamType(EntryKind kind)
{
    switch (kind) {
    case EntryKind::TreeResource:
    case EntryKind::Schema:
        return "resource";
    case EntryKind::ClassDefinition:
        return "class definition";
    case EntryKind::Top:
    case EntryKind::Object:
        return "object";
    }
    return "";
}

void measureEntry(DirectoryEntry &entry)
{
    std::string payload = headerPayload(entry);
    std::string data = dataText(entry);
    entry.streamSize = streamSize(payload.size(), data.size());
    entry.dataSize = data.size();
    entry.fingerprint = XXH64(data.data(), data.size(), 0);
}

std::string entryStream(const DirectoryEntry &entry) { return encodeStream(headerPayload(entry), dataText(entry)); }

CCODE readStreamHeader(std::string_view payload, StreamedEntry &out)
{
    nlohmann::json header = nlohmann::json::parse(payload, nullptr, false);
    if (!header.is_object())
        return NWSMTS_EXPECTING_HEADER;
    auto name = header.find("name");
    auto type = header.find("type");
    if (name == header.end() || !name->is_string() || type == header.end() || !type->is_string())
        return NWSMTS_EXPECTING_HEADER;
    out.name = name->get<std::string>();
    out.type = type->get<std::string>();
    return 0;
}

CCODE readStreamData(std::string_view text, StreamedEntry &out)
{
    nlohmann::json data = nlohmann::json::parse(text, nullptr, false);
    if (!data.is_object())
        return NWSMTS_INVALID_DATA_SET;
    auto objectClass = data.find("class");
    if (objectClass == data.end() || !objectClass->is_string() || objectClass->get_ref<const std::string &>().empty() ||
        objectClass->get_ref<const std::string &>().size() > kMaxClassName)
        return NWSMTS_INVALID_DATA_SET;
    out.objectClass = objectClass->get<std::string>();
    out.attributes.clear();
    std::string problem;
    if (auto attributes = data.find("attributes");
        attributes != data.end() && !attributesFromJson(*attributes, out.attributes, problem))
        return NWSMTS_INVALID_DATA_SET;
    return 0;
}

bool isUtf8(std::string_view text)
{
    try {
        (void)nlohmann::json(std::string(text)).dump();
        return true;
    } catch (const nlohmann::json::type_error &) {
        return false;
    }
}

} // namespace smsemu
