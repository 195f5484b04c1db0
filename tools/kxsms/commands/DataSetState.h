// What a data set is, as `diff` compares it: its kind, mode, owner, size,
// modification time, link target and a digest of its data, read from the
// SMS data stream its TSA gives for backup (from an archive's member, or
// from the live data set) or, for a member listed without data, from what
// the scan reported of it. The file-system TSA's stream is decoded (its
// header, then attribute, pad and extent records and the trailer); the
// streams of other TSAs are compared as a whole.
#ifndef KXSMS_TOOLS_DATASETSTATE_H
#define KXSMS_TOOLS_DATASETSTATE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/DataSetStream.h"
#include "archive/Format.h"

struct XXH3_state_s;

namespace kxsms {

struct DataSetState {
    bool fromStream = false; // false: only what the scan reported (parent, size, whole seconds)
    bool parent = false;
    char kind = '-'; // '-' file, 'd', 'l' symbolic link, 'h' hard link, 'p', 'c', 'b'
    uint32_t mode = 0, uid = 0, gid = 0;
    uint64_t size = 0;
    int64_t modifiedSeconds = 0;
    uint32_t modifiedNanoseconds = 0;
    std::string target; // a symbolic link's target, a hard link's first name
    uint64_t content = 0;

    // What a member listed without data says (the scan's figures).
    static DataSetState listed(const format::MemberDescriptor &member);
};

// The fields in which two states of one data set differ, in the words diff
// shows ("content", "kind", "mode", "owner", "size", "modification time",
// "link target"); empty when they agree. Fields only one side knows are
// not compared.
std::vector<const char *> differences(const DataSetState &archived, const DataSetState &live);

// Reads one data stream block by block into a DataSetState.
class StreamDigest {
public:
    StreamDigest();
    ~StreamDigest();
    StreamDigest(const StreamDigest &) = delete;
    StreamDigest &operator=(const StreamDigest &) = delete;

    // Starts on a new stream of a data set of that TSA type.
    void begin(uint16_t tsaType, bool parent);
    void add(const unsigned char *data, size_t size);
    // The state; false when the stream is not one the TSA writes.
    bool finish(DataSetState &state);

private:
    DataSetStream stream_{true}; // the file-system TSA's stream, its content digested
    XXH3_state_s *hash_;         // the other TSAs' streams, digested whole
    bool fileSystem_ = false;
    DataSetState state_;
};

} // namespace kxsms

#endif
