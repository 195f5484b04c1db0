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

stream::Header headerOf(const DirectoryEntry &entry, std::size_t dataSize)
{
    stream::Header header;
    header.kind = stream::Kind::File;
    header.size = dataSize;
    header.name = entry.name;
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

void measureEntry(DirectoryEntry &entry)
{
    std::string data = dataText(entry);
    entry.dataSize = data.size();
    entry.streamSize = stream::headerSize(headerOf(entry, data.size())) + stream::kRecordSize + data.size() +
                       stream::kRecordSize;
    entry.fingerprint = XXH3_64bits(data.data(), data.size());
}

std::string entryStream(const DirectoryEntry &entry)
{
    std::string data = dataText(entry);
    stream::Header header = headerOf(entry, data.size());
    std::size_t headerSize = stream::headerSize(header);
    std::string out(headerSize + stream::kRecordSize, '\0');
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

DirectoryStreamReader::DirectoryStreamReader() : want_(stream::kHeaderPrefix), hash_(XXH3_createState())
{
    if (hash_ == nullptr)
        throw std::bad_alloc();
    XXH3_64bits_reset(hash_);
}

DirectoryStreamReader::~DirectoryStreamReader() { XXH3_freeState(hash_); }

CCODE DirectoryStreamReader::headerComplete()
{
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(pending_.data());
    if (pending_.size() == stream::kHeaderPrefix) {
        // The prefix tells the header's length.
        if (!stream::plausibleHeaderPrefix(bytes, stream::kHeaderPrefix))
            return fail(NWSMTS_EXPECTING_HEADER);
        want_ = stream::declaredHeaderSize(bytes);
        return 0;
    }
    stream::Header header;
    if (!stream::decodeHeader(bytes, pending_.size(), header) || header.kind != stream::Kind::File)
        return fail(NWSMTS_EXPECTING_HEADER);
    if (header.size > kMaxEntryData)
        return fail(NWSMTS_INVALID_DATA_SET);
    name_.assign(header.name);
    size_ = header.size;
    data_.reserve(static_cast<std::size_t>(size_));
    pending_.clear();
    want_ = stream::kRecordSize;
    state_ = State::Record;
    return 0;
}

CCODE DirectoryStreamReader::recordComplete()
{
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(pending_.data());
    switch (stream::tagOf(bytes)) {
    case stream::Tag::Extent: {
        std::uint64_t offset = 0, length = 0;
        stream::decodeExtent(bytes, offset, length);
        if (offset != data_.size() || length == 0 || length > size_ - data_.size())
            return fail(NWSMTS_EXPECTING_TRAILER);
        XXH3_64bits_update(hash_, bytes, stream::kRecordSize);
        extentLeft_ = length;
        state_ = State::Data;
        break;
    }
    case stream::Tag::Trailer: {
        std::uint64_t dataBytes = 0, hash = 0;
        stream::decodeTrailer(bytes, dataBytes, hash);
        if (dataBytes != data_.size() || dataBytes != size_ || hash != XXH3_64bits_digest(hash_))
            return fail(NWSMTS_EXPECTING_TRAILER);
        state_ = State::Done;
        break;
    }
    case stream::Tag::Attributes: // directory objects have neither
    case stream::Tag::Pad:
    case stream::Tag::Other:
        return fail(NWSMTS_EXPECTING_TRAILER);
    }
    pending_.clear();
    return 0;
}

CCODE DirectoryStreamReader::write(std::span<const UINT8> bytes)
{
    while (failure_ == 0 && !bytes.empty()) {
        switch (state_) {
        case State::Header:
        case State::Record: {
            std::size_t take = std::min(want_ - pending_.size(), bytes.size());
            pending_.append(reinterpret_cast<const char *>(bytes.data()), take);
            bytes = bytes.subspan(take);
            if (state_ == State::Header &&
                !stream::plausibleHeaderPrefix(reinterpret_cast<const std::uint8_t *>(pending_.data()),
                                               std::min(pending_.size(), stream::kHeaderPrefix)))
                return fail(NWSMTS_EXPECTING_HEADER);
            if (pending_.size() == want_) {
                if (state_ == State::Header)
                    headerComplete();
                else
                    recordComplete();
            }
            break;
        }
        case State::Data: {
            std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(extentLeft_, bytes.size()));
            data_.append(reinterpret_cast<const char *>(bytes.data()), take);
            XXH3_64bits_update(hash_, bytes.data(), take);
            extentLeft_ -= take;
            bytes = bytes.subspan(take);
            if (extentLeft_ == 0)
                state_ = State::Record;
            break;
        }
        case State::Done:
            return fail(NWSMTS_EXPECTING_TRAILER); // bytes after the trailer
        }
    }
    return failure_;
}

CCODE DirectoryStreamReader::finish() const
{
    if (failure_ != 0)
        return failure_;
    switch (state_) {
    case State::Done:
        return 0;
    case State::Header:
        return NWSMTS_EXPECTING_HEADER;
    default:
        return NWSMTS_EXPECTING_TRAILER;
    }
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
