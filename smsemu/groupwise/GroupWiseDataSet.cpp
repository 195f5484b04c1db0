#include "groupwise/GroupWiseDataSet.h"

#include "requester/Tsa.h"
#include "groupwise/GroupWiseNames.h"
#include "core/NameMatch.h"
#include "core/StreamFormat.h"

#include <algorithm>
#include <cstring>

#include <xxhash.h>

namespace smsemu {
namespace {

const std::uint8_t *bytesOf(const std::string &s)
{
    return reinterpret_cast<const std::uint8_t *>(s.data());
}

// A header like `header` with another name (and, for a hard link, another
// first name), encoded.
std::string renamed(const stream::Header &header, std::string_view name, std::string_view target = {})
{
    stream::Header copy = header;
    copy.name = name;
    if (header.kind == stream::Kind::HardLink)
        copy.target = target;
    std::string out(stream::headerSize(copy), '\0');
    stream::encodeHeader(copy, reinterpret_cast<std::uint8_t *>(out.data()));
    return out;
}

} // namespace

// ---- Backup ---------------------------------------------------------------------

CCODE GroupWiseBackup::readHeader()
{
    std::string raw(stream::kHeaderPrefix, '\0');
    UINT32 got = 0;
    auto pull = [&](std::size_t from) -> CCODE {
        UINT32 want = static_cast<UINT32>(raw.size() - from);
        if (CCODE rc = inner_->read(reinterpret_cast<UINT8 *>(raw.data() + from), want, got))
            return rc;
        return got == want ? 0 : NWSMTS_READ_ERROR;
    };
    if (CCODE rc = pull(0))
        return rc;
    if (!stream::plausibleHeaderPrefix(bytesOf(raw), raw.size()))
        return NWSMTS_READ_ERROR;
    raw.resize(stream::declaredHeaderSize(bytesOf(raw)));
    if (CCODE rc = pull(stream::kHeaderPrefix))
        return rc;
    stream::Header header;
    std::string name;
    std::string target;
    if (!stream::decodeHeader(bytesOf(raw), raw.size(), header) || !toGroupWiseName(domains_, header.name, name) ||
        name.size() > stream::kMaxName)
        return NWSMTS_READ_ERROR;
    // A hard link names its first name in GroupWise form too.
    if (header.kind == stream::Kind::HardLink &&
        (!toGroupWiseName(domains_, header.target, target) || target.size() > stream::kMaxName))
        return NWSMTS_READ_ERROR;
    header_ = HeldStream(renamed(header, name, target));
    headerRead_ = true;
    return 0;
}

CCODE GroupWiseBackup::read(UINT8 *buffer, UINT32 size, UINT32 &bytesRead)
{
    if (failure_ == 0 && !headerRead_)
        failure_ = readHeader();
    if (failure_ != 0)
        return failure_;
    std::size_t filled = header_.read(buffer, size);
    if (filled < size) {
        UINT32 got = 0;
        if (CCODE rc = inner_->read(buffer + filled, static_cast<UINT32>(size - filled), got))
            return failure_ = rc;
        filled += got;
    }
    bytesRead = static_cast<UINT32>(filled);
    return 0;
}

CCODE GroupWiseBackup::setArchiveStatus(UINT32 setFlag, UINT32 archivedDateAndTime)
{
    return inner_->setArchiveStatus(setFlag, archivedDateAndTime);
}

CCODE GroupWiseBackup::close()
{
    return inner_->close();
}

GroupWiseServerBackup::GroupWiseServerBackup()
{
    stream::Header header;
    header.kind = stream::Kind::Directory;
    header.name = kGroupWiseMailServer;
    // Empty texts that point somewhere: the encoder copies each text.
    header.target = header.user = header.group = std::string_view("", 0);
    std::string bytes(stream::headerSize(header) + stream::kRecordSize, '\0');
    auto *out = reinterpret_cast<std::uint8_t *>(bytes.data());
    stream::encodeHeader(header, out);
    stream::encodeTrailer(0, XXH3_64bits(nullptr, 0), out + stream::headerSize(header));
    stream_ = HeldStream(std::move(bytes));
}

CCODE GroupWiseServerBackup::read(UINT8 *buffer, UINT32 size, UINT32 &bytesRead)
{
    bytesRead = stream_.read(buffer, size);
    return 0;
}

// ---- Restore --------------------------------------------------------------------

CCODE GroupWiseRestore::headerComplete()
{
    const stream::Header &header = decoder_.header();
    if (inner_ == nullptr && !server_ && equalsIgnoringCase(header.name, kGroupWiseMailServer))
        server_ = true;
    if (server_) // its stream is decoded to the end here
        return header.kind == stream::Kind::Directory ? 0 : NWSMTS_INVALID_DATA_SET;
    // The file system reads the header in its own form: its name (and a hard
    // link's first name).
    std::string name, target;
    const bool converted = toFileSystemName(domains_, header.name, name) && name.size() <= stream::kMaxName &&
                           (header.kind != stream::Kind::HardLink ||
                            (toFileSystemName(domains_, header.target, target) && target.size() <= stream::kMaxName));
    std::string forwarded;
    if (inner_ == nullptr) {
        // The stream names the data set: open it on the file system under
        // the header's name in file-system form.
        if (!converted)
            return NWSMTS_INVALID_PATH;
        if (CCODE rc = fileSystem_.openForRestore(connection_, nullptr, nullptr, openMode_, inner_))
            return rc;
        forwarded = renamed(header, name, target);
    } else if (converted) {
        forwarded = renamed(header, name, target); // the open named the target
    } else {
        // The open named the target: the header's name is not used.
        const std::span<const std::uint8_t> raw = decoder_.headerBytes();
        forwarded.assign(reinterpret_cast<const char *>(raw.data()), raw.size());
    }
    forwarding_ = true;
    return inner_->write(bytesOf(forwarded), static_cast<UINT32>(forwarded.size()));
}

CCODE GroupWiseRestore::write(const UINT8 *buffer, UINT32 size)
{
    using Event = stream::Decoder::Event;
    std::span<const std::uint8_t> bytes(buffer, size);
    const auto decoded = [this](Event event) -> CCODE {
        if (event == Event::Header)
            return headerComplete();
        // The server's stream is its header and the trailer.
        return event == Event::Trailer ? 0 : NWSMTS_EXPECTING_TRAILER;
    };
    if (CCODE rc = decoder_.feed(bytes, decoded, [this] { return forwarding_; }))
        return rc;
    if (!forwarding_ || bytes.empty())
        return 0;
    if (CCODE rc = inner_->write(bytes.data(), static_cast<UINT32>(bytes.size())))
        return decoder_.fail(rc);
    return 0;
}

CCODE GroupWiseRestore::close()
{
    CCODE rc = inner_ != nullptr ? inner_->close() : 0;
    if (!forwarding_ || decoder_.failure() != 0)
        return decoder_.finish();
    return rc;
}

} // namespace smsemu
