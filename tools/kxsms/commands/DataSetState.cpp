#include "commands/DataSetState.h"

#include <xxhash.h>

namespace kxsms {

DataSetState DataSetState::listed(const format::MemberDescriptor &member)
{
    DataSetState state;
    state.parent = member.parent;
    state.kind = member.parent ? 'd' : '-';
    state.size = member.parent ? 0 : member.size;
    state.modifiedSeconds = member.modified;
    return state;
}

std::vector<const char *> differences(const DataSetState &archived, const DataSetState &live)
{
    std::vector<const char *> fields;
    const bool both = archived.fromStream && live.fromStream;
    // A file's further name is a hard link where its first name came before
    // it in the same job, else the file: which one depends on what was read.
    const bool linkOrFile = both && archived.kind != live.kind && (archived.kind == 'h' || live.kind == 'h') &&
                            (archived.kind == '-' || live.kind == '-');
    if (archived.parent != live.parent || (both && archived.kind != live.kind && !linkOrFile)) {
        fields.push_back("kind");
        return fields; // the rest of two kinds does not compare
    }
    if (both && !linkOrFile && archived.content != live.content)
        fields.push_back("content");
    if (both && archived.mode != live.mode)
        fields.push_back("mode");
    if (both && (archived.uid != live.uid || archived.gid != live.gid))
        fields.push_back("owner");
    if (!linkOrFile && archived.size != live.size)
        fields.push_back("size");
    // A listed member knows whole seconds (two-second steps where they come packed).
    if (both ? archived.modifiedSeconds != live.modifiedSeconds ||
                   archived.modifiedNanoseconds != live.modifiedNanoseconds
             : archived.modifiedSeconds / 2 != live.modifiedSeconds / 2)
        fields.push_back("modification time");
    if (both && !linkOrFile && archived.target != live.target)
        fields.push_back("link target");
    return fields;
}

StreamDigest::StreamDigest() : hash_(XXH3_createState()) {}

StreamDigest::~StreamDigest()
{
    XXH3_freeState(hash_);
}

void StreamDigest::begin(uint16_t tsaType, bool parent)
{
    fileSystem_ = tsaType == format::c_TsaFileSystem;
    stream_.reset();
    XXH3_64bits_reset(hash_);
    state_ = DataSetState{};
    state_.parent = parent;
    state_.kind = parent ? 'd' : '-';
}

void StreamDigest::add(const unsigned char *data, size_t size)
{
    if (fileSystem_) {
        stream_.feed(data, size);
        return;
    }
    XXH3_64bits_update(hash_, data, size);
    state_.size += size;
}

bool StreamDigest::finish(DataSetState &state)
{
    if (!fileSystem_) {
        state_.content = XXH3_64bits_digest(hash_);
        state_.size = state_.parent ? 0 : state_.size;
        state_.fromStream = true;
        state = state_;
        return true;
    }
    if (!stream_.headerKnown() || !stream_.complete())
        return false;
    const DataSetHeader &h = stream_.header();
    state_.fromStream = true;
    state_.kind = kindLetter(h.kind);
    state_.parent = h.kind == DataSetKind::Directory;
    state_.mode = h.mode;
    state_.uid = h.uid;
    state_.gid = h.gid;
    state_.modifiedSeconds = h.mtimeSeconds;
    state_.modifiedNanoseconds = h.mtimeNanoseconds;
    state_.size = h.size;
    state_.target = h.target;
    state_.content = stream_.contentDigest();
    state = state_;
    return true;
}

} // namespace kxsms
