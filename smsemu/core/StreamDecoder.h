// Takes a restore stream (StreamFormat.h) apart as it comes, in blocks of any
// size and split anywhere: the header, the attribute section, pads, extents
// with their data, and the trailer. The three TSAs restore through it; each
// acts on what it reports and adds the rules of its own kind of data set.
//
// The stream is untrusted: every length is bounded before it is used, and
// the rules every stream keeps are checked here:
// - a header that is not one (magic, version, lengths, checksum, kind) is
//   NWSMTS_EXPECTING_HEADER;
// - an unknown record, an extent outside a file's size, before the end of
//   the one before it, or of a data set that is not a file, an attribute
//   section that is not the first record or is malformed, an attribute
//   section or pad in a version 1 stream, a trailer whose count or checksum
//   does not match, and bytes after the trailer are NWSMTS_EXPECTING_TRAILER.
// A tag that cannot start a record fails as soon as its four bytes are in.
//
// Use: hand each block to feed() (or to next() until it answers NeedBytes),
// acting on the events it reports. File data is handed over as a span of the
// caller's own block (never copied); the attribute section, which is small
// and needed at the commit, is kept. The first failure sticks: next() answers
// Failed from then on, and a TSA's own refusal is recorded with fail().
#pragma once

#include "SMSAPI.h"
#include "core/StreamFormat.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct XXH3_state_s;

namespace smsemu::stream {

class Decoder {
public:
    enum class Event {
        NeedBytes,  // the block is used up
        Header,     // header() is complete and checked
        Attributes, // an attribute record; its section follows (attributes())
        Pad,        // a pad record; its zero bytes follow
        Extent,     // an extent record (extentOffset(), extentLength()); its data follows
        Data,       // a piece of an extent's data: data(), at dataOffset() in the file
        Trailer,    // the trailer matched: the stream is complete
        Failed,     // failure() says why
    };

    Decoder();
    ~Decoder();
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    // Takes bytes from the front of `bytes` up to the next event.
    Event next(std::span<const std::uint8_t> &bytes);

    // Decodes a block: hands each event to `on`, which answers 0 or a code
    // that fails the stream, until the block is used up or `stop()` holds
    // (what is left stays in `bytes`). Answers the failure that sticks, or 0.
    template <class On, class Stop>
    CCODE feed(std::span<const std::uint8_t> &bytes, On &&on, Stop &&stop);
    template <class On>
    CCODE feed(std::span<const std::uint8_t> bytes, On &&on)
    {
        return feed(bytes, on, [] { return false; });
    }

    // Records a failure, unless there is one already; answers the one that
    // sticks.
    CCODE fail(CCODE code);
    CCODE failure() const { return failure_; }
    // After the last block: 0 once the trailer has been checked, else the
    // failure, or the header or trailer code of the part the stream stopped in.
    CCODE finish() const;

    // After Header: the header; its texts point into the decoder.
    const Header &header() const { return header_; }
    // The header's bytes as they came.
    std::span<const std::uint8_t> headerBytes() const { return {headerBytes_, headerHave_}; }
    // After Extent.
    std::uint64_t extentOffset() const { return extentOffset_; }
    std::uint64_t extentLength() const { return extentLength_; }
    // After Data.
    std::span<const std::uint8_t> data() const { return data_; }
    std::uint64_t dataOffset() const { return dataOffset_; }
    // The attribute section and its number of entries, checked entry by
    // entry once the stream has gone past it; empty and 0 when there is none.
    std::string_view attributes() const { return attributes_; }
    std::uint64_t attributeCount() const { return attributeCount_; }

private:
    enum class Phase { Header, Record, ExtentData, AttributeData, PadData, Done, Failed };

    Event failWith(CCODE code)
    {
        fail(code);
        return Event::Failed;
    }
    Event takeHeader(std::span<const std::uint8_t> &bytes);
    Event takeRecord(std::span<const std::uint8_t> &bytes);
    Event recordComplete();
    Event takeExtentData(std::span<const std::uint8_t> &bytes);
    void takeAttributeData(std::span<const std::uint8_t> &bytes);
    void takePad(std::span<const std::uint8_t> &bytes);
    // Whether a record with these four bytes may come here.
    bool tagAllowed() const;

    Phase phase_ = Phase::Header;
    CCODE failure_ = 0;
    std::uint8_t headerBytes_[kMaxHeader];
    std::size_t headerHave_ = 0;
    Header header_;
    std::uint8_t record_[kRecordSize];
    std::size_t recordHave_ = 0;
    bool sawRecord_ = false;       // a record followed the header (attributes come first or not at all)
    std::uint64_t nextOffset_ = 0; // extents may not start before it
    std::uint64_t extentOffset_ = 0;
    std::uint64_t extentLength_ = 0;
    std::uint64_t extentLeft_ = 0;
    std::span<const std::uint8_t> data_;
    std::uint64_t dataOffset_ = 0;
    std::uint64_t dataBytes_ = 0; // the sum of the extents' lengths so far
    std::string attributes_;
    std::uint64_t attributeCount_ = 0;
    std::uint64_t attributesLeft_ = 0;
    std::uint64_t padLeft_ = 0;
    XXH3_state_s *hash_; // of everything between the header and the trailer
};

template <class On, class Stop>
CCODE Decoder::feed(std::span<const std::uint8_t> &bytes, On &&on, Stop &&stop)
{
    while (!stop()) {
        const Event event = next(bytes);
        if (event == Event::NeedBytes || event == Event::Failed)
            break;
        if (CCODE rc = on(event))
            return fail(rc);
    }
    return failure_;
}

} // namespace smsemu::stream
