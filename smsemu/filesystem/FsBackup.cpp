#include "filesystem/FsBackup.h"

#include "filesystem/FsNames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <xxhash.h>

namespace smsemu {

CCODE FsBackupDataSet::open(const FsScan &at, UINT32 openMode, OwnerNames &owners, std::unique_ptr<DataSet> &dataSet)
{
    std::unique_ptr<FsBackupDataSet> opened(new FsBackupDataSet);
    const FsMeta &scanned = at.meta();
    opened->name_ = at.name();
    opened->archive_ = at.archive();
    if (scanned.isSymlink()) {
        char target[stream::kMaxTarget + 1];
        ssize_t length = readlinkat(at.parentDirectory(), at.leaf(), target, sizeof target);
        if (length < 0)
            return openErrorCode(errno);
        if (length == 0 || static_cast<std::size_t>(length) > stream::kMaxTarget)
            return NWSMTS_OPEN_ERROR;
        opened->target_.assign(target, static_cast<std::size_t>(length));
        if (int error = readMeta(at.parentDirectory(), at.leaf(), opened->meta_))
            return openErrorCode(error);
        if (!opened->meta_.isSymlink())
            return NWSMTS_OPEN_ERROR; // replaced since the scan described it
    } else if (scanned.isDirectory() || scanned.isRegular()) {
        bool keepAccessTime = (openMode & NWSM_OPEN_KEEP_ACCESS_TIME) != 0 && scanned.isRegular();
        int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (scanned.isDirectory() ? O_DIRECTORY : 0);
        int fd = -1;
        if (keepAccessTime)
            fd = openat(at.parentDirectory(), at.leaf(), flags | O_NOATIME);
        // O_NOATIME is for the file's owner (and root). Others read the file
        // as it is: putting the access time back would write to the file
        // and change its change time, and a backup never writes the source.
        if (fd < 0)
            fd = openat(at.parentDirectory(), at.leaf(), flags);
        if (fd < 0)
            return openErrorCode(errno);
        opened->fd_.reset(fd);
        if (int error = readMeta(fd, "", opened->meta_))
            return openErrorCode(error);
        if ((opened->meta_.mode & S_IFMT) != (scanned.mode & S_IFMT))
            return NWSMTS_OPEN_ERROR;
    } else {
        // Devices, pipes and sockets have no backup stream here.
        return NWSMTS_OPEN_ERROR;
    }

    const FsMeta &meta = opened->meta_;
    opened->user_ = owners.userName(meta.uid);
    opened->group_ = owners.groupName(meta.gid);
    if (opened->user_.size() > stream::kMaxOwnerName)
        opened->user_.clear();
    if (opened->group_.size() > stream::kMaxOwnerName)
        opened->group_.clear();
    stream::Header &header = opened->header_;
    header.kind = meta.isRegular() ? stream::Kind::File
                  : meta.isDirectory() ? stream::Kind::Directory
                                       : stream::Kind::Symlink;
    header.mode = meta.mode & 07777;
    header.uid = meta.uid;
    header.gid = meta.gid;
    header.atimeSeconds = meta.atime.tv_sec;
    header.atimeNanoseconds = static_cast<std::uint32_t>(meta.atime.tv_nsec);
    header.mtimeSeconds = meta.mtime.tv_sec;
    header.mtimeNanoseconds = static_cast<std::uint32_t>(meta.mtime.tv_nsec);
    header.size = meta.isRegular() ? meta.size : 0;
    header.name = opened->name_;
    header.target = opened->target_;
    header.user = opened->user_;
    header.group = opened->group_;

    opened->hash_ = XXH3_createState();
    if (opened->hash_ == nullptr || XXH3_64bits_reset(opened->hash_) != XXH_OK)
        return NWSMTS_OUT_OF_MEMORY;
    dataSet = std::move(opened);
    return 0;
}

FsBackupDataSet::~FsBackupDataSet() { XXH3_freeState(hash_); }

template <class Encode>
void FsBackupDataSet::emit(std::size_t length, UINT8 *buffer, UINT32 size, UINT32 &filled, Encode &&encode)
{
    if (size - filled >= length) {
        encode(buffer + filled);
        filled += static_cast<UINT32>(length);
        return;
    }
    encode(staging_);
    stagingLength_ = length;
    stagingSent_ = 0;
}

CCODE FsBackupDataSet::read(UINT8 *buffer, UINT32 size, UINT32 &bytesRead)
{
    bytesRead = 0;
    if (phase_ == Phase::Failed)
        return NWSMTS_READ_ERROR;
    UINT32 filled = 0;
    auto fail = [&](CCODE rc) {
        phase_ = Phase::Failed;
        return rc;
    };
    while (filled < size) {
        if (stagingSent_ < stagingLength_) {
            std::size_t n = std::min<std::size_t>(stagingLength_ - stagingSent_, size - filled);
            std::memcpy(buffer + filled, staging_ + stagingSent_, n);
            stagingSent_ += n;
            filled += static_cast<UINT32>(n);
            continue;
        }
        switch (phase_) {
        case Phase::Header:
            emit(stream::headerSize(header_), buffer, size, filled,
                 [&](std::uint8_t *out) { stream::encodeHeader(header_, out); });
            phase_ = header_.kind == stream::Kind::File ? Phase::NextExtent : Phase::Trailer;
            break;
        case Phase::NextExtent: {
            if (CCODE rc = findExtent())
                return fail(rc);
            if (extentLeft_ == 0) {
                if (CCODE rc = checkUnchanged())
                    return fail(rc);
                phase_ = Phase::Trailer;
                break;
            }
            std::uint8_t record[stream::kRecordSize];
            stream::encodeExtent(extentOffset_, extentLeft_, record);
            XXH3_64bits_update(hash_, record, sizeof record);
            emit(sizeof record, buffer, size, filled,
                 [&](std::uint8_t *out) { std::memcpy(out, record, sizeof record); });
            phase_ = Phase::ExtentData;
            break;
        }
        case Phase::ExtentData: {
            std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(extentLeft_, size - filled));
            ssize_t got = pread(fd_.get(), buffer + filled, want, static_cast<off_t>(extentOffset_));
            if (got < 0 && errno == EINTR)
                break;
            if (got <= 0)
                return fail(NWSMTS_READ_ERROR); // an error, or the file became shorter
            XXH3_64bits_update(hash_, buffer + filled, static_cast<std::size_t>(got));
            filled += static_cast<UINT32>(got);
            extentOffset_ += static_cast<std::uint64_t>(got);
            extentLeft_ -= static_cast<std::uint64_t>(got);
            dataBytes_ += static_cast<std::uint64_t>(got);
            if (extentLeft_ == 0) {
                position_ = extentOffset_;
                phase_ = Phase::NextExtent;
            }
            break;
        }
        case Phase::Trailer: {
            std::uint64_t hash = XXH3_64bits_digest(hash_);
            emit(stream::kRecordSize, buffer, size, filled,
                 [&](std::uint8_t *out) { stream::encodeTrailer(dataBytes_, hash, out); });
            phase_ = Phase::Done;
            break;
        }
        case Phase::Done:
        case Phase::Failed:
            bytesRead = filled;
            return 0;
        }
    }
    bytesRead = filled;
    return 0;
}

CCODE FsBackupDataSet::findExtent()
{
    extentLeft_ = 0;
    const std::uint64_t size = meta_.size;
    if (position_ >= size)
        return 0;
    off_t data = static_cast<off_t>(position_);
    off_t hole = static_cast<off_t>(size);
    if (seekHoles_) {
        data = lseek(fd_.get(), static_cast<off_t>(position_), SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            return 0; // only a hole (or nothing) is left
        if (data < 0) {
            seekHoles_ = false; // no hole support: the rest is one extent
            data = static_cast<off_t>(position_);
        } else {
            hole = lseek(fd_.get(), data, SEEK_HOLE);
            if (hole < 0)
                hole = static_cast<off_t>(size);
        }
    }
    std::uint64_t begin = static_cast<std::uint64_t>(data);
    std::uint64_t end = std::min<std::uint64_t>(static_cast<std::uint64_t>(hole), size);
    if (begin >= end)
        return 0;
    extentOffset_ = begin;
    extentLeft_ = end - begin;
    return 0;
}

CCODE FsBackupDataSet::checkUnchanged()
{
    FsMeta now;
    if (readMeta(fd_.get(), "", now) != 0)
        return NWSMTS_READ_ERROR;
    if (now.size != meta_.size || !sameTime(now.mtime, meta_.mtime))
        return NWSMTS_READ_ERROR;
    return 0;
}

CCODE FsBackupDataSet::setArchiveStatus(UINT32 setFlag, UINT32)
{
    if (setFlag == 0)
        return archive_.flags->set(archive_.connection, archive_.resource, fd_.get(), meta_);
    // Only a data set read to its end is marked as saved: asked earlier, the
    // clear waits for the end (and is dropped if the end never comes).
    if (phase_ != Phase::Done || stagingSent_ < stagingLength_) {
        clearAtEnd_ = true;
        return 0;
    }
    return archive_.flags->clear(archive_.connection, archive_.resource, fd_.get(), meta_);
}

CCODE FsBackupDataSet::close()
{
    if (clearAtEnd_ && phase_ == Phase::Done && stagingSent_ == stagingLength_)
        archive_.flags->clear(archive_.connection, archive_.resource, fd_.get(), meta_);
    fd_.reset();
    return 0;
}

} // namespace smsemu
