#include "directory/DirectoryStream.h"

#include "core/StreamFormat.h"

#include <algorithm>
#include <new>

#include <nlohmann/json.hpp>
#include <xxhash.h>

namespace smsemu {
namespace {

std::string dataText(const DirectoryEntry &entry)
{
    nlohmann::json data;
    attributesToJson(entry.attributes, data["attributes"]);
    data["class"] = entry.objectClass;
    data["type"] = streamType(entry.kind);
    return data.dump();
}

stream::Header headerOf(std::string_view name, std::size_t dataSize)
{
    stream::Header header;
    header.kind = stream::Kind::File;
    header.size = dataSize;
    header.name = name;
    // Empty texts that point somewhere: the encoder copies each text.
    header.target = header.user = header.group = std::string_view("", 0);
    return header;
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

std::uint64_t framedStreamSize(std::string_view name, std::size_t dataSize)
{
    return stream::headerSize(headerOf(name, dataSize)) + stream::kRecordSize + dataSize + stream::kRecordSize;
}

void measureEntry(DirectoryEntry &entry)
{
    std::string data = dataText(entry);
    entry.dataSize = data.size();
    entry.streamSize = framedStreamSize(entry.name, data.size());
    entry.fingerprint = XXH3_64bits(data.data(), data.size());
}

std::string entryStream(const DirectoryEntry &entry)
{
    return framedStream(entry.name, dataText(entry));
}

std::string framedStream(std::string_view name, std::string_view data)
{
    stream::Header header = headerOf(name, data.size());
    std::size_t headerSize = stream::headerSize(header);
    std::string out;
    out.reserve(headerSize + stream::kRecordSize + data.size() + stream::kRecordSize);
    out.resize(headerSize + stream::kRecordSize);
    auto *bytes = reinterpret_cast<std::uint8_t *>(out.data());
    stream::encodeHeader(header, bytes);
    stream::encodeExtent(0, data.size(), bytes + headerSize);
    out += data;

    XXH3_state_t *hash = XXH3_createState();
    if (hash == nullptr)
        throw std::bad_alloc();
    XXH3_64bits_reset(hash);
    XXH3_64bits_update(hash, out.data() + headerSize, out.size() - headerSize);
    std::uint8_t tail[stream::kRecordSize];
    stream::encodeTrailer(data.size(), XXH3_64bits_digest(hash), tail);
    XXH3_freeState(hash);
    out.append(reinterpret_cast<const char *>(tail), sizeof tail);
    return out;
}

CCODE readStreamData(std::string_view text, StreamedEntry &out)
{
    nlohmann::json data = nlohmann::json::parse(text, nullptr, false);
    if (!data.is_object())
        return NWSMTS_INVALID_DATA_SET;
    auto type = data.find("type");
    auto objectClass = data.find("class");
    if (type == data.end() || !type->is_string() || objectClass == data.end() || !objectClass->is_string())
        return NWSMTS_INVALID_DATA_SET;
    const std::string &className = objectClass->get_ref<const std::string &>();
    if (className.empty() || className.size() > kMaxClassName)
        return NWSMTS_INVALID_DATA_SET;
    out.type = type->get<std::string>();
    out.objectClass = className;
    out.attributes.clear();
    std::string problem;
    if (auto attributes = data.find("attributes");
        attributes != data.end() && !attributesFromJson(*attributes, out.attributes, problem))
        return NWSMTS_INVALID_DATA_SET;
    return 0;
}

CCODE DirectoryStreamReader::headerComplete()
{
    const stream::Header &header = decoder_.header();
    if (header.kind != stream::Kind::File)
        return NWSMTS_EXPECTING_HEADER;
    if (header.size > kMaxEntryData)
        return NWSMTS_INVALID_DATA_SET;
    name_.assign(header.name);
    data_.reserve(static_cast<std::size_t>(header.size));
    return 0;
}

CCODE DirectoryStreamReader::write(std::span<const UINT8> bytes)
{
    using Event = stream::Decoder::Event;
    return decoder_.feed(bytes, [this](Event event) -> CCODE {
        switch (event) {
        case Event::Header:
            return headerComplete();
        case Event::Extent: // the data is one run from offset 0
            return decoder_.extentOffset() == data_.size() ? 0 : NWSMTS_EXPECTING_TRAILER;
        case Event::Data:
            data_.append(reinterpret_cast<const char *>(decoder_.data().data()), decoder_.data().size());
            return 0;
        case Event::Trailer: // all of it
            return data_.size() == decoder_.header().size ? 0 : NWSMTS_EXPECTING_TRAILER;
        default: // directory objects have no attribute section and no pads
            return NWSMTS_EXPECTING_TRAILER;
        }
    });
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
