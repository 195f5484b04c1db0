#include "filesystem/FsBackup.h"
#include "filesystem/OpenAt.h"

#include "filesystem/FsNames.h"
#include "filesystem/HostLog.h"
#include "filesystem/Xattrs.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <xxhash.h>

namespace smsemu {
namespace {

stream::Kind kindOf(const FsMeta &meta)
{
    switch (meta.mode & S_IFMT) {
    case S_IFREG:
        return stream::Kind::File;
    case S_IFDIR:
        return stream::Kind::Directory;
    case S_IFLNK:
        return stream::Kind::Symlink;
    case S_IFIFO:
        return stream::Kind::Fifo;
    case S_IFCHR:
        return stream::Kind::CharDevice;
    default:
        return stream::Kind::BlockDevice;
    }
}

} // namespace

CCODE FsBackupDataSet::open(const FsScan &at, UINT32 openMode, OwnerNames &owners, std::shared_ptr<HardLinks> links,
                            std::unique_ptr<DataSet> &dataSet)
{
    std::unique_ptr<FsBackupDataSet> opened(new FsBackupDataSet);
    const FsMeta &scanned = at.meta();
    opened->name_ = at.name();
    opened->links_ = std::move(links);
    // A directory opened as a path only: its attributes are read through
    // /proc, since the attribute calls refuse a path descriptor.
    bool pathOnly = false;
    opened->archive_ = at.archive();
    if (scanned.isSymlink()) {
        char target[stream::kMaxTarget + 1];
        ssize_t length = readlinkat(at.parentDirectory(), at.leaf(), target, sizeof target);
        if (length < 0)
            return toldErrnoCode(opened->name_, FsStep::Open, errno);
        if (length == 0 || static_cast<std::size_t>(length) > stream::kMaxTarget)
            return NWSMTS_OPEN_ERROR;
        opened->target_.assign(target, static_cast<std::size_t>(length));
        if (int error = readMeta(at.parentDirectory(), at.leaf(), opened->meta_))
            return toldErrnoCode(opened->name_, FsStep::Open, error);
        if (!opened->meta_.isSymlink())
            return NWSMTS_OPEN_ERROR; // replaced since the scan described it
    } else if (scanned.isDirectory() || scanned.isRegular()) {
        bool keepAccessTime = (openMode & NWSM_OPEN_KEEP_ACCESS_TIME) != 0 && scanned.isRegular();
        int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (scanned.isDirectory() ? O_DIRECTORY : 0);
        int fd = -1;
        if (keepAccessTime)
            fd = openAtRetrying(at.parentDirectory(), at.leaf(), flags | O_NOATIME);
        // O_NOATIME is for the file's owner (and root). Others read the file
        // as it is: putting the access time back would write to the file
        // and change its change time, and a backup never writes the source.
        if (fd < 0)
            fd = openAtRetrying(at.parentDirectory(), at.leaf(), flags);
        // A directory that may not be read is still saved: its metadata
        // comes through a path descriptor (its contents are the scan's).
        if (fd < 0 && errno == EACCES && scanned.isDirectory()) {
            fd = openAtRetrying(at.parentDirectory(), at.leaf(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            pathOnly = fd >= 0;
        }
        if (fd < 0)
            return toldErrnoCode(opened->name_, FsStep::Open, errno);
        opened->fd_.reset(fd);
        if (int error = readMeta(fd, "", opened->meta_))
            return toldErrnoCode(opened->name_, FsStep::Open, error);
        if ((opened->meta_.mode & S_IFMT) != (scanned.mode & S_IFMT))
            return NWSMTS_OPEN_ERROR;
    } else if (scanned.isSpecial()) {
        // Never opened: opening a FIFO waits for a writer, a device acts.
        if (int error = readMeta(at.parentDirectory(), at.leaf(), opened->meta_))
            return toldErrnoCode(opened->name_, FsStep::Open, error);
        if ((opened->meta_.mode & S_IFMT) != (scanned.mode & S_IFMT))
            return NWSMTS_OPEN_ERROR;
    } else {
        // Sockets are made by the programs that listen on them: there is
        // nothing to save, and the TSA leaves them out.
        return NWSMTS_DATA_SET_EXCLUDED;
    }

    const FsMeta &meta = opened->meta_;
    opened->user_ = owners.userName(meta.uid);
    opened->group_ = owners.groupName(meta.gid);
    if (opened->user_.size() > stream::kMaxOwnerName)
        opened->user_.clear();
    if (opened->group_.size() > stream::kMaxOwnerName)
        opened->group_.clear();
    stream::Header &header = opened->header_;
    header.kind = kindOf(meta);
    if (meta.isRegular() && meta.links > 1) {
        header.inodeDevice = meta.device;
        header.inode = meta.inode;
        const InodeId id{meta.device, meta.inode};
        std::optional<std::string> first = opened->links_ ? opened->links_->savedName(id) : std::nullopt;
        if (first && *first != opened->name_ && first->size() <= stream::kMaxName) {
            header.kind = stream::Kind::HardLink;
            opened->target_ = std::move(*first);
        } else {
            opened->firstOfInode_ = opened->links_ != nullptr;
        }
    }
    if (S_ISCHR(meta.mode) || S_ISBLK(meta.mode)) {
        header.deviceMajor = meta.rdevMajor;
        header.deviceMinor = meta.rdevMinor;
    }
    header.mode = meta.mode & 07777;
    header.uid = meta.uid;
    header.gid = meta.gid;
    header.atimeSeconds = meta.atime.tv_sec;
    header.atimeNanoseconds = static_cast<std::uint32_t>(meta.atime.tv_nsec);
    header.mtimeSeconds = meta.mtime.tv_sec;
    header.mtimeNanoseconds = static_cast<std::uint32_t>(meta.mtime.tv_nsec);
    header.hasChangeTime = true;
    header.ctimeSeconds = meta.ctime.tv_sec;
    header.ctimeNanoseconds = static_cast<std::uint32_t>(meta.ctime.tv_nsec);
    header.size = header.kind == stream::Kind::File ? meta.size : 0;
    header.name = opened->name_;
    header.target = opened->target_;
    header.user = opened->user_;
    header.group = opened->group_;

    // A hard link's attributes are its inode's: saved with the first name.
    if (header.kind != stream::Kind::HardLink) {
        AttributeTarget where = pathOnly ? AttributeTarget{-1, opened->fd_.get(), ""}
                                         : AttributeTarget{opened->fd_.get(), at.parentDirectory(), at.leaf()};
        if (CCODE rc = readAttributes(where, opened->attributes_, opened->attributeCount_))
            return rc;
    }

    opened->hash_ = XXH3_createState();
    if (opened->hash_ == nullptr || XXH3_64bits_reset(opened->hash_) != XXH_OK)
        return NWSMTS_OUT_OF_MEMORY;
    dataSet = std::move(opened);
    return 0;
}

FsBackupDataSet::~FsBackupDataSet()
{
    XXH3_freeState(hash_);
}

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
            phase_ = Phase::Attributes;
            break;
        case Phase::Attributes: {
            phase_ = header_.kind == stream::Kind::File ? Phase::NextExtent : Phase::Trailer;
            if (attributeCount_ == 0)
                break;
            std::uint8_t record[stream::kRecordSize];
            stream::encodeAttributes(attributeCount_, attributes_.size(), record);
            XXH3_64bits_update(hash_, record, sizeof record);
            emit(sizeof record, buffer, size, filled,
                 [&](std::uint8_t *out) { std::memcpy(out, record, sizeof record); });
            XXH3_64bits_update(hash_, attributes_.data(), attributes_.size());
            phase_ = Phase::AttributeData;
            break;
        }
        case Phase::AttributeData: {
            std::size_t n = std::min<std::size_t>(attributes_.size() - attributesSent_, size - filled);
            std::memcpy(buffer + filled, attributes_.data() + attributesSent_, n);
            attributesSent_ += n;
            filled += static_cast<UINT32>(n);
            if (attributesSent_ == attributes_.size())
                phase_ = header_.kind == stream::Kind::File ? Phase::NextExtent : Phase::Trailer;
            break;
        }
        case Phase::NextExtent: {
            if (CCODE rc = findExtent())
                return fail(rc);
            if (extentLeft_ == 0) {
                checkUnchanged();
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
            if (got < 0)
                return fail(NWSMTS_READ_ERROR);
            if (got == 0) {
                // The file became shorter: the header's size is kept and
                // what is gone reads as zeros (the rest is a hole).
                changed_ = true;
                std::memset(buffer + filled, 0, want);
                got = static_cast<ssize_t>(want);
            }
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
        case Phase::PadData: {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(padLeft_, size - filled));
            std::memset(buffer + filled, 0, n);
            XXH3_64bits_update(hash_, buffer + filled, n);
            filled += static_cast<UINT32>(n);
            padLeft_ -= n;
            if (padLeft_ == 0)
                phase_ = Phase::Trailer;
            break;
        }
        case Phase::Trailer: {
            if (changed_ && !padded_) {
                padBeforeTrailer(buffer, size, filled);
                phase_ = Phase::PadData;
                break;
            }
            std::uint64_t hash = XXH3_64bits_digest(hash_);
            emit(stream::kRecordSize, buffer, size, filled,
                 [&](std::uint8_t *out) { stream::encodeTrailer(dataBytes_, hash, out); });
            phase_ = changed_ ? Phase::Changed : Phase::Done;
            if (firstOfInode_)
                links_->saved(InodeId{header_.inodeDevice, header_.inode}, name_);
            break;
        }
        case Phase::Changed:
            if (filled == 0 && stagingSent_ == stagingLength_) {
                phase_ = Phase::Failed;
                // The file could not be looked at again: what it became is
                // unknown, and the cause is the system's.
                if (lookError_ != 0)
                    tellHost(name_, std::string("cannot look at it after reading it: ") + std::strerror(lookError_));
                return NWSMTS_DATA_SET_IN_USE;
            }
            bytesRead = filled;
            return 0;
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
    // Blocks that cover the whole size leave no room for a hole: the file
    // is one extent, and the two seeks per file are saved (most files; on
    // a tree of small files they were a tenth of all system calls).
    if (seekHoles_ && meta_.blocks >= (size + 511) / 512)
        seekHoles_ = false;
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

void FsBackupDataSet::checkUnchanged()
{
    FsMeta now;
    lookError_ = readMeta(fd_.get(), "", now);
    if (lookError_ != 0 || now.size != meta_.size || !sameTime(now.mtime, meta_.mtime))
        changed_ = true;
}

void FsBackupDataSet::padBeforeTrailer(UINT8 *buffer, UINT32 size, UINT32 &filled)
{
    // Pad record, zeros and trailer end a read together (reads of the same
    // size assumed), so that the host reads once more and meets
    // NWSMTS_DATA_SET_IN_USE.
    const std::uint64_t both = 2 * stream::kRecordSize;
    std::uint64_t reach = size - filled;
    if (reach < both)
        reach += (both - reach + size - 1) / size * size;
    std::uint8_t record[stream::kRecordSize];
    stream::encodePad(reach - both, record);
    XXH3_64bits_update(hash_, record, sizeof record);
    emit(sizeof record, buffer, size, filled, [&](std::uint8_t *out) { std::memcpy(out, record, sizeof record); });
    padLeft_ = reach - both;
    padded_ = true;
}

CCODE FsBackupDataSet::setArchiveStatus(UINT32 setFlag, UINT32)
{
    if (setFlag == 0)
        return archive_.flags->set(archive_.connection, archive_.resource, fd_.get(), meta_, name_);
    // Only a data set read to its end is marked as saved: asked earlier, the
    // clear waits for the end (and is dropped if the end never comes).
    if (phase_ != Phase::Done || stagingSent_ < stagingLength_) {
        clearAtEnd_ = true;
        return 0;
    }
    return archive_.flags->clear(archive_.connection, archive_.resource, fd_.get(), meta_, name_);
}

CCODE FsBackupDataSet::close()
{
    if (clearAtEnd_ && phase_ == Phase::Done && stagingSent_ == stagingLength_)
        archive_.flags->clear(archive_.connection, archive_.resource, fd_.get(), meta_, name_);
    fd_.reset();
    return 0;
}

} // namespace smsemu
