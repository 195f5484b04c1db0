#include "filesystem/FsRestore.h"

#include "core/NameList.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <xxhash.h>

namespace smsemu {
namespace {

// The permission bits new files and directories get when the stream's are
// not applied: 0666 / 0777 less the process's umask, read once.
mode_t processUmask()
{
    static const mode_t mask = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("Umask:", 0) == 0)
                return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
        return static_cast<mode_t>(022);
    }();
    return mask;
}

CCODE writeErrorCode(int error) { return error == ENOSPC || error == EDQUOT ? NWSMTS_OUT_OF_DISK_SPACE : NWSMTS_WRITE_ERROR; }

std::string temporaryName()
{
    static std::atomic<unsigned long> counter{0};
    char name[64];
    std::snprintf(name, sizeof name, ".kxsms-restore-%ld-%lu.tmp", static_cast<long>(getpid()), ++counter);
    return name;
}

timespec timeOf(std::int64_t seconds, std::uint32_t nanoseconds)
{
    return timespec{static_cast<time_t>(seconds), static_cast<long>(nanoseconds)};
}

} // namespace

CCODE FsRestoreDataSet::open(const std::vector<ResourceConfig> &resources, OwnerNames &owners,
                             std::shared_ptr<DirectoryTimes> directoryTimes, const NWSM_DATA_SET_NAME_LIST *newName,
                             UINT32 openMode, std::unique_ptr<DataSet> &dataSet)
{
    std::unique_ptr<FsRestoreDataSet> opened(new FsRestoreDataSet(resources, owners));
    opened->directoryTimes_ = std::move(directoryTimes);
    opened->openMode_ = openMode;
    if (newName != nullptr) {
        const NWSM_NAME_ENTRY *entry = firstEntry(newName);
        if (entry == nullptr)
            return NWSMTS_INVALID_DATA_SET_NAME;
        opened->nameGiven_ = true;
        if (CCODE rc = opened->chooseTarget(std::string_view(entry->name, entry->nameLength)))
            return rc;
    }
    opened->hash_ = XXH3_createState();
    if (opened->hash_ == nullptr || XXH3_64bits_reset(opened->hash_) != XXH_OK)
        return NWSMTS_OUT_OF_MEMORY;
    dataSet = std::move(opened);
    return 0;
}

FsRestoreDataSet::~FsRestoreDataSet()
{
    discard();
    XXH3_freeState(hash_);
}

CCODE FsRestoreDataSet::chooseTarget(std::string_view name)
{
    if (CCODE rc = resolveFsName(resources_, name, false, target_))
        return rc;
    if (CCODE rc = openResourceDirectory(resources_[target_.resource], root_))
        return rc;
    // The directory found here is kept for the data; one that is missing is
    // made when the data comes.
    CCODE rc = openParentDirectory(root_.get(), target_, false, parent_);
    if (rc == NWSMTS_NO_DATA_SETS_FOUND)
        return 0;
    if (rc != 0)
        return rc;
    existed_ = readMeta(parent_.get(), target_.leaf(), existing_) == 0;
    if (existed_ && (openMode_ & (NWSM_OVERWRITE_DATA_SET | NWSM_KEEP_NEWER_DATA_SET)) == 0)
        return NWSMTS_DATA_SET_ALREADY_EXISTS;
    return 0;
}

CCODE FsRestoreDataSet::fail(CCODE rc)
{
    failure_ = rc;
    phase_ = Phase::Failed;
    discard();
    return rc;
}

void FsRestoreDataSet::discard()
{
    if (!temporaryName_.empty() && parent_)
        unlinkat(parent_.get(), temporaryName_.c_str(), 0);
    temporaryName_.clear();
    temporary_.reset();
}

CCODE FsRestoreDataSet::write(const UINT8 *buffer, UINT32 size)
{
    if (phase_ == Phase::Failed)
        return failure_;
    std::size_t at = 0;
    while (at < size) {
        std::size_t left = size - at;
        switch (phase_) {
        case Phase::Header: {
            std::size_t want = headerHave_ < stream::kHeaderPrefix ? stream::kHeaderPrefix
                                                                   : stream::declaredHeaderSize(header_);
            std::size_t n = std::min(want - headerHave_, left);
            std::memcpy(header_ + headerHave_, buffer + at, n);
            headerHave_ += n;
            at += n;
            if (!stream::plausibleHeaderPrefix(header_, std::min(headerHave_, stream::kHeaderPrefix)))
                return fail(NWSMTS_EXPECTING_HEADER);
            if (headerHave_ < stream::kHeaderPrefix || headerHave_ < stream::declaredHeaderSize(header_))
                break;
            if (!stream::decodeHeader(header_, headerHave_, parsed_))
                return fail(NWSMTS_EXPECTING_HEADER);
            if (CCODE rc = prepare())
                return fail(rc);
            phase_ = Phase::Record;
            break;
        }
        case Phase::Record: {
            std::size_t want = recordHave_ < stream::kTagSize ? stream::kTagSize : stream::kRecordSize;
            std::size_t n = std::min(want - recordHave_, left);
            std::memcpy(record_ + recordHave_, buffer + at, n);
            recordHave_ += n;
            at += n;
            if (recordHave_ == stream::kTagSize) {
                stream::Tag tag = stream::tagOf(record_);
                if (tag == stream::Tag::Other || (tag == stream::Tag::Extent && parsed_.kind != stream::Kind::File))
                    return fail(NWSMTS_EXPECTING_TRAILER);
            }
            if (recordHave_ == stream::kRecordSize) {
                recordHave_ = 0;
                if (CCODE rc = takeRecord())
                    return fail(rc);
            }
            break;
        }
        case Phase::ExtentData: {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(extentLeft_, left));
            std::size_t written = 0;
            while (written < n) {
                ssize_t put = pwrite(temporary_.get(), buffer + at + written, n - written,
                                     static_cast<off_t>(extentOffset_ + written));
                if (put < 0 && errno == EINTR)
                    continue;
                if (put <= 0)
                    return fail(writeErrorCode(put < 0 ? errno : ENOSPC));
                written += static_cast<std::size_t>(put);
            }
            XXH3_64bits_update(hash_, buffer + at, n);
            at += n;
            extentOffset_ += n;
            extentLeft_ -= n;
            dataBytes_ += n;
            if (extentLeft_ == 0) {
                nextOffset_ = extentOffset_;
                phase_ = Phase::Record;
            }
            break;
        }
        case Phase::Done:
            return fail(NWSMTS_EXPECTING_TRAILER); // bytes after the trailer
        case Phase::Failed:
            return failure_;
        }
    }
    return 0;
}

CCODE FsRestoreDataSet::takeRecord()
{
    if (stream::tagOf(record_) == stream::Tag::Extent) {
        std::uint64_t offset = 0, length = 0;
        stream::decodeExtent(record_, offset, length);
        if (length == 0 || offset < nextOffset_ || length > parsed_.size || offset > parsed_.size - length)
            return NWSMTS_EXPECTING_TRAILER;
        XXH3_64bits_update(hash_, record_, stream::kRecordSize);
        extentOffset_ = offset;
        extentLeft_ = length;
        phase_ = Phase::ExtentData;
        return 0;
    }
    std::uint64_t dataBytes = 0, hash = 0;
    stream::decodeTrailer(record_, dataBytes, hash);
    if (dataBytes != dataBytes_ || hash != XXH3_64bits_digest(hash_))
        return NWSMTS_EXPECTING_TRAILER;
    phase_ = Phase::Done;
    return 0;
}

CCODE FsRestoreDataSet::prepare()
{
    if (!nameGiven_)
        if (CCODE rc = chooseTarget(parsed_.name))
            return rc;
    if (parsed_.target.find('\0') != std::string_view::npos)
        return NWSMTS_INVALID_PATH;
    if (target_.isResourceRoot() && parsed_.kind != stream::Kind::Directory)
        return NWSMTS_INVALID_PATH;
    if (!parent_) {
        if (CCODE rc = openParentDirectory(root_.get(), target_, true, parent_))
            return rc;
        existed_ = readMeta(parent_.get(), target_.leaf(), existing_) == 0;
    }
    if (existed_) {
        if (openMode_ & NWSM_KEEP_NEWER_DATA_SET) {
            if (!earlierTime(existing_.mtime, timeOf(parsed_.mtimeSeconds, parsed_.mtimeNanoseconds)))
                return NWSMTS_DATA_SET_IS_OLDER;
        } else if ((openMode_ & NWSM_OVERWRITE_DATA_SET) == 0) {
            return NWSMTS_DATA_SET_ALREADY_EXISTS;
        }
        // A directory is not replaced by anything else.
        if (existing_.isDirectory() && parsed_.kind != stream::Kind::Directory)
            return NWSMTS_DATA_SET_ALREADY_EXISTS;
    }
    if (parsed_.kind != stream::Kind::File)
        return 0;

    for (int attempt = 0; attempt < 100 && !temporary_; ++attempt) {
        std::string name = temporaryName();
        int fd = openat(parent_.get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            temporary_.reset(fd);
            temporaryName_ = std::move(name);
        } else if (errno != EEXIST) {
            return errno == ENOSPC || errno == EDQUOT ? NWSMTS_OUT_OF_DISK_SPACE : NWSMTS_CANT_CREATE_FILE;
        }
    }
    if (!temporary_)
        return NWSMTS_CANT_CREATE_FILE;
    // The size first: whatever no extent covers stays a hole.
    if (ftruncate(temporary_.get(), static_cast<off_t>(parsed_.size)) != 0)
        return writeErrorCode(errno);
    return 0;
}

CCODE FsRestoreDataSet::close()
{
    switch (phase_) {
    case Phase::Failed:
        return failure_;
    case Phase::Header:
        return fail(NWSMTS_EXPECTING_HEADER);
    case Phase::Record:
    case Phase::ExtentData:
        return fail(NWSMTS_EXPECTING_TRAILER);
    case Phase::Done:
        break;
    }
    CCODE rc = commit();
    if (rc != 0)
        return fail(rc);
    return 0;
}

CCODE FsRestoreDataSet::commit()
{
    switch (parsed_.kind) {
    case stream::Kind::File:
        return commitFile();
    case stream::Kind::Symlink:
        return commitSymlink();
    case stream::Kind::Directory:
        return commitDirectory();
    }
    return NWSMTS_INTERNAL_ERROR;
}

CCODE FsRestoreDataSet::applyOwner(int fd, const char *name, int flags)
{
    if ((openMode_ & (NWSM_RESTORE_OWNER | NWSM_RESTORE_OWNER_ALT)) == 0)
        return 0;
    uid_t uid = owners_.userId(parsed_.user).value_or(parsed_.uid);
    gid_t gid = owners_.groupId(parsed_.group).value_or(parsed_.gid);
    if (fchownat(fd, name, uid, gid, flags) == 0) {
        ownerRestored_ = true;
        return 0;
    }
    if (errno == EPERM)
        return 0;
    return NWSMTS_SET_FILE_INFO_ERR;
}

mode_t FsRestoreDataSet::safeMode(mode_t mode) const
{
    return ownerRestored_ ? mode : mode & ~static_cast<mode_t>(S_ISUID | S_ISGID);
}

CCODE FsRestoreDataSet::commitFile()
{
    int fd = temporary_.get();
    if (CCODE rc = applyOwner(fd, "", AT_EMPTY_PATH))
        return rc;
    mode_t mode = 0666 & ~processUmask();
    if (openMode_ & NWSM_RESTORE_MODE)
        mode = parsed_.mode;
    else if (existed_ && existing_.isRegular())
        mode = existing_.mode & 07777;
    if (fchmod(fd, safeMode(mode)) != 0)
        return NWSMTS_SET_FILE_INFO_ERR;
    if (openMode_ & NWSM_RESTORE_TIMES) {
        timespec times[2] = {timeOf(parsed_.atimeSeconds, parsed_.atimeNanoseconds),
                             timeOf(parsed_.mtimeSeconds, parsed_.mtimeNanoseconds)};
        if (futimens(fd, times) != 0)
            return NWSMTS_SET_FILE_INFO_ERR;
    }
    if (renameat(parent_.get(), temporaryName_.c_str(), parent_.get(), target_.leaf()) != 0)
        return writeErrorCode(errno);
    temporaryName_.clear();
    temporary_.reset();
    return 0;
}

CCODE FsRestoreDataSet::commitSymlink()
{
    std::string link(parsed_.target);
    std::string name = temporaryName();
    if (symlinkat(link.c_str(), parent_.get(), name.c_str()) != 0)
        return errno == ENOSPC || errno == EDQUOT ? NWSMTS_OUT_OF_DISK_SPACE : NWSMTS_CANT_CREATE_FILE;
    temporaryName_ = name; // removed by discard() if anything below fails
    if (CCODE rc = applyOwner(parent_.get(), name.c_str(), AT_SYMLINK_NOFOLLOW))
        return rc;
    if (openMode_ & NWSM_RESTORE_TIMES) {
        timespec times[2] = {timeOf(parsed_.atimeSeconds, parsed_.atimeNanoseconds),
                             timeOf(parsed_.mtimeSeconds, parsed_.mtimeNanoseconds)};
        if (utimensat(parent_.get(), name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
            return NWSMTS_SET_FILE_INFO_ERR;
    }
    if (renameat(parent_.get(), name.c_str(), parent_.get(), target_.leaf()) != 0)
        return writeErrorCode(errno);
    temporaryName_.clear();
    return 0;
}

CCODE FsRestoreDataSet::commitDirectory()
{
    const char *leaf = target_.leaf();
    bool created = false;
    if (!existed_ || !existing_.isDirectory()) {
        if (existed_ && unlinkat(parent_.get(), leaf, 0) != 0)
            return NWSMTS_CANT_CREATE_FILE;
        if (mkdirat(parent_.get(), leaf, 0700) != 0) {
            if (errno != EEXIST)
                return errno == ENOSPC || errno == EDQUOT ? NWSMTS_OUT_OF_DISK_SPACE : NWSMTS_CANT_CREATE_FILE;
        } else {
            created = true;
        }
    }
    UniqueFd directory(openat(parent_.get(), leaf, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory)
        return openErrorCode(errno);
    if (CCODE rc = applyOwner(directory.get(), "", AT_EMPTY_PATH))
        return rc;
    mode_t mode = 0;
    bool setMode = true;
    if (openMode_ & NWSM_RESTORE_MODE)
        mode = parsed_.mode;
    else if (created)
        mode = 0777 & ~processUmask();
    else
        setMode = false;
    if (setMode && fchmod(directory.get(), mode) != 0)
        return NWSMTS_SET_FILE_INFO_ERR;
    if ((openMode_ & NWSM_RESTORE_TIMES) && directoryTimes_)
        directoryTimes_->record(target_.name, timeOf(parsed_.atimeSeconds, parsed_.atimeNanoseconds),
                                timeOf(parsed_.mtimeSeconds, parsed_.mtimeNanoseconds));
    return 0;
}

} // namespace smsemu
