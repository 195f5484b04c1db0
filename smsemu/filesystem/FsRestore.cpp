#include "filesystem/FsRestore.h"
#include "filesystem/OpenAt.h"

#include "filesystem/HostLog.h"

#include "core/NameList.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/capability.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

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

// The process id in temporary names, asked once (and again in a child
// after fork, whose names must not be its parent's).
std::atomic<pid_t> g_processId{0};

pid_t processId()
{
    pid_t pid = g_processId.load(std::memory_order_relaxed);
    if (pid == 0) {
        static const bool watched = [] {
            return pthread_atfork(nullptr, nullptr, [] { g_processId.store(0, std::memory_order_relaxed); }) == 0;
        }();
        pid = getpid();
        if (watched)
            g_processId.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

// Counts forks, as seen by the child: what a folder's first file showed was
// true for the process that made it, and a child may run as another user.
std::atomic<unsigned> g_forks{0};

unsigned forkGeneration()
{
    static const bool watched = [] {
        return pthread_atfork(nullptr, nullptr, [] { g_forks.fetch_add(1, std::memory_order_relaxed); }) == 0;
    }();
    return watched ? g_forks.load(std::memory_order_relaxed) : ~0u;
}

// Whether this process may give an unnamed file (O_TMPFILE) a name by its
// descriptor (linkat with AT_EMPTY_PATH), which takes CAP_DAC_READ_SEARCH.
bool mayLinkByDescriptor()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    return (data[CAP_TO_INDEX(CAP_DAC_READ_SEARCH)].effective & CAP_TO_MASK(CAP_DAC_READ_SEARCH)) != 0;
}

// Whether an open with O_TMPFILE failed because the file system (or the
// kernel) has no unnamed files.
bool noUnnamedFiles(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

std::string temporaryName()
{
    static std::atomic<unsigned long> counter{0};
    char name[64];
    std::snprintf(name, sizeof name, ".kxsms-restore-%ld-%lu.tmp", static_cast<long>(processId()), ++counter);
    return name;
}

timespec timeOf(std::int64_t seconds, std::uint32_t nanoseconds)
{
    return timespec{static_cast<time_t>(seconds), static_cast<long>(nanoseconds)};
}

} // namespace

CCODE FsRestoreDataSet::open(const std::vector<ResourceConfig> &resources, OwnerNames &owners,
                             std::shared_ptr<DirectoryTimes> directoryTimes, std::shared_ptr<HardLinks> links,
                             std::shared_ptr<RestoreFolders> folders, const NWSM_DATA_SET_NAME_LIST *newName, UINT32 openMode, std::unique_ptr<DataSet> &dataSet)
{
    std::unique_ptr<FsRestoreDataSet> opened(new FsRestoreDataSet(resources, owners));
    opened->directoryTimes_ = std::move(directoryTimes);
    opened->links_ = std::move(links);
    opened->folders_ = std::move(folders);
    opened->openMode_ = openMode;
    if (newName != nullptr) {
        const NWSM_NAME_ENTRY *entry = firstEntry(newName);
        if (entry == nullptr)
            return NWSMTS_INVALID_DATA_SET_NAME;
        opened->nameGiven_ = true;
        if (CCODE rc = opened->chooseTarget(std::string_view(entry->name, entry->nameLength)))
            return rc;
    }
    dataSet = std::move(opened);
    return 0;
}

FsRestoreDataSet::~FsRestoreDataSet()
{
    discard();
}

CCODE FsRestoreDataSet::chooseTarget(std::string_view name)
{
    if (CCODE rc = resolveFsName(resources_, name, false, target_))
        return rc;
    // The directory found here is kept for the data; one that is missing is
    // made when the data comes.
    CCODE rc = settleParent(false);
    if (rc == NWSMTS_NO_DATA_SETS_FOUND)
        return 0;
    if (rc != 0)
        return rc;
    if (existed_ && (openMode_ & (NWSM_OVERWRITE_DATA_SET | NWSM_KEEP_NEWER_DATA_SET)) == 0)
        return NWSMTS_DATA_SET_ALREADY_EXISTS;
    return 0;
}

CCODE FsRestoreDataSet::settleParent(bool create)
{
    int root = -1;
    if (CCODE rc = folders_->rootOf(resources_, target_.resource, root))
        return rc;
    int error = 0;
    CCODE rc = folders_->parentOf(root, target_, create, parent_, &error);
    if (rc == NWSMTS_NO_DATA_SETS_FOUND && !create)
        return rc;
    if (rc != 0)
        return error != 0 && !codeSaysIt(error) ? failedWith(create ? FsStep::Create : FsStep::Open, error) : rc;
    existed_ = readMeta(folder(), target_.leaf(), existing_) == 0;
    return 0;
}

CCODE FsRestoreDataSet::fail(CCODE rc)
{
    rc = decoder_.fail(rc);
    discard();
    return rc;
}

void FsRestoreDataSet::discard()
{
    if (!temporaryName_.empty() && parent_)
        unlinkat(folder(), temporaryName_.c_str(), 0);
    temporaryName_.clear();
    temporary_.reset();
}

CCODE FsRestoreDataSet::write(const UINT8 *buffer, UINT32 size)
{
    using Event = stream::Decoder::Event;
    // The other records are the decoder's; the attributes are applied at the commit.
    CCODE rc = decoder_.feed(std::span<const std::uint8_t>(buffer, size), [this](Event event) -> CCODE {
        if (event == Event::Header)
            return prepare();
        if (event == Event::Data)
            return writeData(decoder_.dataOffset(), decoder_.data());
        return 0;
    });
    if (rc != 0)
        discard();
    return rc;
}

CCODE FsRestoreDataSet::writeData(std::uint64_t offset, std::span<const std::uint8_t> data)
{
    std::size_t written = 0;
    while (written < data.size()) {
        ssize_t put = pwrite(temporary_.get(), data.data() + written, data.size() - written,
                             static_cast<off_t>(offset + written));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return failedWith(FsStep::Write, put < 0 ? errno : ENOSPC);
        written += static_cast<std::size_t>(put);
    }
    dataEnd_ = offset + data.size();
    return 0;
}

CCODE FsRestoreDataSet::prepare()
{
    if (!nameGiven_)
        if (CCODE rc = chooseTarget(header().name))
            return rc;
    if (header().target.find('\0') != std::string_view::npos)
        return NWSMTS_INVALID_PATH;
    if (target_.isResourceRoot() && header().kind != stream::Kind::Directory)
        return NWSMTS_INVALID_PATH;
    if (!parent_)
        if (CCODE rc = settleParent(true))
            return rc;
    if (CCODE rc = checkExisting())
        return rc;
    if (header().kind != stream::Kind::File)
        return 0;

    bool askedAgain = false, named = false;
    for (int attempt = 0; attempt < 100 && !temporary_; ++attempt) {
        // Where the folder's earlier files showed that a new file gets the
        // owner asked for and exactly the create mode less the umask, the
        // file is made with its final mode and needs neither chown nor
        // chmod; else it is made private (0600) and given both at the commit.
        RestoreFolders::Creates &creates = parent_->creates;
        const mode_t mode = fileMode();
        const bool known = creates.known && creates.generation == forkGeneration() && creates.generation != ~0u;
        ownerAsMade_ = known && ownerAsMade(creates);
        madeWithMode_ = ownerAsMade_ && creates.modeExact && (mode & 07000) == 0 && (mode & processUmask()) == 0;
        // A new name is made as an unnamed file, given its name only when
        // complete: one directory entry made, none renamed, and nothing to
        // remove if the job stops. A name that is there is replaced by a
        // rename from a temporary name, so that it never goes missing.
        const bool unnamed = known && creates.unnamed && !existed_ && !named;
        std::string name = unnamed ? std::string() : temporaryName();
        const int flags = unnamed ? O_TMPFILE | O_RDWR | O_CLOEXEC : O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
        int fd = openAtRetrying(folder(), unnamed ? "." : name.c_str(), flags, madeWithMode_ ? mode : 0600);
        if (fd >= 0) {
            temporary_.reset(fd);
            temporaryName_ = std::move(name); // removed by discard() if anything below fails
            if (!known)
                if (int error = learnCreates(fd))
                    return failedWith(FsStep::Open, error);
        } else if (unnamed) {
            // Without unnamed files here, or for any other cause (a folder
            // removed meanwhile answers EPERM): a named file, whose open
            // says what is wrong in the usual terms.
            if (noUnnamedFiles(errno))
                creates.unnamed = false;
            named = true;
        } else if (errno == ENOENT && !askedAgain) {
            // The folder held open was removed since it was found: find
            // the one now at its name (made again if missing), once.
            askedAgain = true;
            if (CCODE rc = settleAgain())
                return rc;
        } else if (errno != EEXIST) {
            return failedWith(FsStep::Create, errno);
        }
    }
    if (!temporary_)
        return NWSMTS_WRITE_ERROR; // no free temporary name
    dataEnd_ = 0;
    return 0;
}

CCODE FsRestoreDataSet::settleAgain()
{
    folders_->forgetFolder();
    parent_.reset();
    if (CCODE rc = settleParent(true))
        return rc;
    return checkExisting();
}

CCODE FsRestoreDataSet::checkExisting() const
{
    if (existed_) {
        if (openMode_ & NWSM_KEEP_NEWER_DATA_SET) {
            if (!earlierTime(existing_.mtime, timeOf(header().mtimeSeconds, header().mtimeNanoseconds)))
                return NWSMTS_DATA_SET_IS_OLDER;
        } else if ((openMode_ & NWSM_OVERWRITE_DATA_SET) == 0) {
            return NWSMTS_DATA_SET_ALREADY_EXISTS;
        }
        // A directory is not replaced by anything else.
        if (existing_.isDirectory() && header().kind != stream::Kind::Directory)
            return NWSMTS_DATA_SET_ALREADY_EXISTS;
    }
    return 0;
}

CCODE FsRestoreDataSet::close()
{
    if (CCODE rc = decoder_.finish())
        return fail(rc);
    if (CCODE rc = commit())
        return fail(rc);
    if (!attributeFailures_.empty()) {
        // The data is in place; what it lacks is said, and the data set fails.
        const bool several = attributeFailures_.find(", ") != std::string::npos;
        tell(std::string(several ? "cannot set attributes " : "cannot set attribute ") + attributeFailures_ + ": " +
             std::strerror(attributeError_) + " (the data is in place)");
        return decoder_.fail(NWSMTS_WRITE_ERROR);
    }
    return 0;
}

CCODE FsRestoreDataSet::commit()
{
    switch (header().kind) {
    case stream::Kind::File:
        return commitFile();
    case stream::Kind::Symlink:
        return commitSymlink();
    case stream::Kind::Directory:
        return commitDirectory();
    case stream::Kind::HardLink:
        return commitHardLink();
    case stream::Kind::Fifo:
    case stream::Kind::CharDevice:
    case stream::Kind::BlockDevice:
        return commitSpecial();
    }
    return NWSMTS_INTERNAL_ERROR;
}

void FsRestoreDataSet::tell(const std::string &what) const
{
    tellHost(target_.name, what);
}

CCODE FsRestoreDataSet::failedWith(FsStep step, int error) const
{
    if (!codeSaysIt(error))
        tell(std::strerror(error));
    return errnoCode(step, error);
}

void FsRestoreDataSet::applyAttributesTo(const AttributeTarget &target)
{
    if ((openMode_ & NWSM_RESTORE_XATTRS) == 0 || decoder_.attributeCount() == 0)
        return;
    AttributeFailures failures;
    applyAttributes(target, decoder_.attributes(), decoder_.attributeCount(), failures);
    if (failures.any()) {
        attributeFailures_ = std::move(failures.names);
        attributeError_ = failures.error;
    }
}

CCODE FsRestoreDataSet::applyToNode(const char *name)
{
    if (CCODE rc = applyOwner(folder(), name, AT_SYMLINK_NOFOLLOW))
        return rc;
    applyAttributesTo(AttributeTarget{-1, folder(), name});
    mode_t mode = (openMode_ & NWSM_RESTORE_MODE) ? header().mode : (0666 & ~processUmask());
    if (fchmodat(folder(), name, safeMode(mode), 0) != 0)
        return failedWith(FsStep::SetInfo, errno);
    if (openMode_ & NWSM_RESTORE_TIMES) {
        timespec times[2] = {timeOf(header().atimeSeconds, header().atimeNanoseconds),
                             timeOf(header().mtimeSeconds, header().mtimeNanoseconds)};
        if (utimensat(folder(), name, times, AT_SYMLINK_NOFOLLOW) != 0)
            return failedWith(FsStep::SetInfo, errno);
    }
    return 0;
}

CCODE FsRestoreDataSet::commitSpecial()
{
    std::string name = temporaryName();
    int made = 0;
    const char *what = "FIFO";
    if (header().kind == stream::Kind::Fifo) {
        made = mkfifoat(folder(), name.c_str(), 0600);
    } else {
        const bool character = header().kind == stream::Kind::CharDevice;
        what = character ? "character device" : "block device";
        made = mknodat(folder(), name.c_str(), (character ? S_IFCHR : S_IFBLK) | 0600,
                       makedev(header().deviceMajor, header().deviceMinor));
    }
    if (made != 0) {
        int error = errno;
        if (error == ENOSPC || error == EDQUOT)
            return NWSMTS_OUT_OF_DISK_SPACE;
        tell(std::string("cannot make the ") + what + ": " + std::strerror(error));
        return NWSMTS_CANT_CREATE_DIR_ENTRY;
    }
    temporaryName_ = name; // removed by discard() if anything below fails
    if (CCODE rc = applyToNode(name.c_str()))
        return rc;
    if (renameat(folder(), name.c_str(), folder(), target_.leaf()) != 0)
        return failedWith(FsStep::Write, errno);
    temporaryName_.clear();
    return 0;
}

CCODE FsRestoreDataSet::commitHardLink()
{
    // The first name as this connection restored it; else the first name
    // re-rooted like this link's own name, which must hold the very inode
    // the stream names (a restore in place, the first name kept).
    const InodeId original{header().inodeDevice, header().inode};
    std::string firstName;
    InodeId wanted = original;
    if (std::optional<HardLinks::Restored> restored = links_ ? links_->restored(original) : std::nullopt) {
        firstName = std::move(restored->name);
        wanted = restored->as;
    } else {
        firstName = relocatedLinkTarget(header().name, target_.name, header().target);
    }
    auto missing = [&](const std::string &why) {
        tell("not linked to " + (firstName.empty() ? std::string(header().target) : firstName) + ": " + why);
        return NWSMTS_NO_DATA_SETS_FOUND;
    };
    FsName first;
    UniqueFd firstRoot, firstParent;
    if (firstName.empty() || resolveFsName(resources_, firstName, false, first) != 0 || first.isResourceRoot())
        return missing("the name cannot be used here");
    // A first name that cannot be looked up for another reason than its
    // absence says the system's reason.
    auto unreachable = [&](int error) {
        if (error == 0 || error == ENOENT || error == ENOTDIR)
            return missing("it does not exist");
        tell("not linked to " + firstName + ": " + std::strerror(error));
        return errnoCode(FsStep::Open, error);
    };
    if (CCODE rc = openResourceDirectory(resources_[first.resource], firstRoot))
        return rc == NWSMTS_NO_DATA_SETS_FOUND ? missing("it does not exist") : rc;
    int walkError = 0;
    if (openParentDirectory(firstRoot.get(), first, false, firstParent, &walkError) != 0)
        return unreachable(walkError);
    FsMeta there;
    if (int looked = readMeta(firstParent.get(), first.leaf(), there))
        return unreachable(looked);
    if (!there.isRegular() || there.device != wanted.device || there.inode != wanted.inode)
        return missing("it is not the file this name was linked to");
    // Already one of the inode's names: nothing to do (rename would keep
    // the temporary name too).
    if (existed_ && existing_.device == there.device && existing_.inode == there.inode)
        return 0;

    std::string name = temporaryName();
    if (linkat(firstParent.get(), first.leaf(), folder(), name.c_str(), 0) != 0) {
        int error = errno;
        if (error == ENOSPC || error == EDQUOT)
            return NWSMTS_OUT_OF_DISK_SPACE;
        tell("cannot link to " + firstName + ": " + std::strerror(error));
        return NWSMTS_CANT_CREATE_DIR_ENTRY;
    }
    temporaryName_ = name;
    if (renameat(folder(), name.c_str(), folder(), target_.leaf()) != 0)
        return failedWith(FsStep::Write, errno);
    temporaryName_.clear();
    return 0;
}

CCODE FsRestoreDataSet::applyOwner(int fd, const char *name, int flags)
{
    if ((openMode_ & (NWSM_RESTORE_OWNER | NWSM_RESTORE_OWNER_ALT)) == 0)
        return 0;
    uid_t uid = 0;
    gid_t gid = 0;
    wantedOwner(uid, gid);
    if (fchownat(fd, name, uid, gid, flags) == 0) {
        ownerRestored_ = true;
        return 0;
    }
    if (errno == EPERM) {
        // Only root gives files away: the data set is restored as the
        // user's own, as an archiver run by a user does, and the user hears
        // of it on stderr, since the data set itself succeeds.
        std::fprintf(stderr, "%s\n",
                     hostLine(target_.name, "warning: owner " + std::to_string(uid) + ":" + std::to_string(gid) +
                                                " not restored: " + std::strerror(EPERM) +
                                                " (kept as the restoring user's, without setuid and setgid bits)")
                         .c_str());
        return 0;
    }
    return failedWith(FsStep::SetInfo, errno);
}

void FsRestoreDataSet::wantedOwner(uid_t &uid, gid_t &gid) const
{
    uid = owners_.userId(header().user).value_or(header().uid);
    gid = owners_.groupId(header().group).value_or(header().gid);
}

bool FsRestoreDataSet::ownerAsMade(const RestoreFolders::Creates &creates) const
{
    if ((openMode_ & (NWSM_RESTORE_OWNER | NWSM_RESTORE_OWNER_ALT)) == 0)
        return true;
    uid_t uid = 0;
    gid_t gid = 0;
    wantedOwner(uid, gid);
    return uid == creates.uid && gid == creates.gid;
}

int FsRestoreDataSet::learnCreates(int fd)
{
    // The owner: the file system user and group, or the folder's group
    // (set-group-ID folder, a grpid mount), or what a network file system
    // maps them to. The mode: 0600 less the umask unless a default ACL (or
    // a file system that keeps its own modes) decides it.
    // A failure to look is the data set's failure, with its cause.
    struct stat made;
    if (fstat(fd, &made) != 0)
        return errno;
    bool defaultAcl = true;
    if (fgetxattr(folder(), "system.posix_acl_default", nullptr, 0) < 0) {
        if (errno != ENODATA && errno != ENOTSUP)
            return errno;
        defaultAcl = false;
    }
    RestoreFolders::Creates &creates = parent_->creates;
    creates.uid = made.st_uid;
    creates.gid = made.st_gid;
    creates.modeExact = !defaultAcl && (made.st_mode & 07777) == (0600 & ~processUmask());
    creates.unnamed = mayLinkByDescriptor();
    creates.generation = forkGeneration();
    creates.known = true;
    ownerAsMade_ = ownerAsMade(creates);
    return 0;
}

mode_t FsRestoreDataSet::fileMode() const
{
    if (openMode_ & NWSM_RESTORE_MODE)
        return header().mode & 07777;
    if (existed_ && existing_.isRegular())
        return existing_.mode & 07777;
    return 0666 & ~processUmask();
}

mode_t FsRestoreDataSet::safeMode(mode_t mode) const
{
    return ownerRestored_ ? mode : mode & ~static_cast<mode_t>(S_ISUID | S_ISGID);
}

CCODE FsRestoreDataSet::commitFile()
{
    int fd = temporary_.get();
    // The size last, and only past the data: whatever no extent covers
    // stays a hole (a file written to its end needs no call).
    if (dataEnd_ < header().size && ftruncate(fd, static_cast<off_t>(header().size)) != 0)
        return failedWith(FsStep::Write, errno);
    // chown before chmod: chown clears the set-ID bits.
    if (!ownerAsMade_) {
        if (CCODE rc = applyOwner(fd, "", AT_EMPTY_PATH))
            return rc;
    } else if (openMode_ & (NWSM_RESTORE_OWNER | NWSM_RESTORE_OWNER_ALT)) {
        ownerRestored_ = true;
    }
    const bool attributes = (openMode_ & NWSM_RESTORE_XATTRS) != 0 && decoder_.attributeCount() != 0;
    applyAttributesTo(AttributeTarget{fd, -1, nullptr});
    // An ACL among the attributes sets mode bits of its own: the mode is given after it.
    if ((!madeWithMode_ || attributes) && fchmod(fd, safeMode(fileMode())) != 0)
        return failedWith(FsStep::SetInfo, errno);
    if (openMode_ & NWSM_RESTORE_TIMES) {
        timespec times[2] = {timeOf(header().atimeSeconds, header().atimeNanoseconds),
                             timeOf(header().mtimeSeconds, header().mtimeNanoseconds)};
        if (futimens(fd, times) != 0)
            return failedWith(FsStep::SetInfo, errno);
    }
    if (temporaryName_.empty())
        if (CCODE rc = nameUnnamed(fd))
            return rc;
    if (!temporaryName_.empty()) {
        if (renameat(folder(), temporaryName_.c_str(), folder(), target_.leaf()) != 0)
            return failedWith(FsStep::Write, errno);
        temporaryName_.clear();
    }
    // An inode with several names: its later names link to this one.
    FsMeta restored;
    if (header().inode != 0 && links_ && readMeta(fd, "", restored) == 0)
        links_->restoredAs(InodeId{header().inodeDevice, header().inode},
                           HardLinks::Restored{target_.name, InodeId{restored.device, restored.inode}});
    temporary_.reset();
    return 0;
}

CCODE FsRestoreDataSet::nameUnnamed(int fd)
{
    // 0, or the errno of a link of the file under `name` in the folder.
    auto linkAs = [&](const char *name) {
        if (linkat(fd, "", folder(), name, AT_EMPTY_PATH) == 0)
            return 0;
        if (errno != ENOENT)
            return errno;
        // The right to link by descriptor is gone (or is not the kernel's
        // to give here, in a user namespace), or the folder is: the same
        // through /proc tells which.
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
        return linkat(AT_FDCWD, path, folder(), name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
    };
    int error = linkAs(target_.leaf());
    if (error == ENOENT) {
        // The folder held open was removed while the data came: the file
        // goes to the folder now at its name (made again if missing), under
        // the same rules as at the start.
        if (CCODE rc = settleAgain())
            return rc;
        error = existed_ ? EEXIST : linkAs(target_.leaf());
    }
    if (error == 0)
        return 0;
    if (error != EEXIST)
        return failedWith(FsStep::Write, error);
    // The name is taken (since it was looked at, or as the rules allow): it
    // is replaced, as by a rename, from a temporary name.
    std::string name = temporaryName();
    if (int failed = linkAs(name.c_str()))
        return failedWith(FsStep::Write, failed);
    temporaryName_ = std::move(name);
    return 0;
}

CCODE FsRestoreDataSet::commitSymlink()
{
    std::string link(header().target);
    std::string name = temporaryName();
    if (symlinkat(link.c_str(), folder(), name.c_str()) != 0)
        return failedWith(FsStep::Create, errno);
    temporaryName_ = name; // removed by discard() if anything below fails
    if (CCODE rc = applyOwner(folder(), name.c_str(), AT_SYMLINK_NOFOLLOW))
        return rc;
    applyAttributesTo(AttributeTarget{-1, folder(), name.c_str()});
    if (openMode_ & NWSM_RESTORE_TIMES) {
        timespec times[2] = {timeOf(header().atimeSeconds, header().atimeNanoseconds),
                             timeOf(header().mtimeSeconds, header().mtimeNanoseconds)};
        if (utimensat(folder(), name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
            return failedWith(FsStep::SetInfo, errno);
    }
    if (renameat(folder(), name.c_str(), folder(), target_.leaf()) != 0)
        return failedWith(FsStep::Write, errno);
    temporaryName_.clear();
    return 0;
}

CCODE FsRestoreDataSet::commitDirectory()
{
    const char *leaf = target_.leaf();
    bool created = false;
    if (!existed_ || !existing_.isDirectory()) {
        if (existed_ && unlinkat(folder(), leaf, 0) != 0)
            return failedWith(FsStep::Create, errno);
        if (mkdirat(folder(), leaf, 0700) != 0) {
            if (errno != EEXIST)
                return failedWith(FsStep::Create, errno);
        } else {
            created = true;
        }
    }
    UniqueFd directory(openAtRetrying(folder(), leaf, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory)
        return failedWith(FsStep::Open, errno);
    if (CCODE rc = applyOwner(directory.get(), "", AT_EMPTY_PATH))
        return rc;
    applyAttributesTo(AttributeTarget{directory.get(), -1, nullptr});
    mode_t mode = 0;
    bool setMode = true;
    if (openMode_ & NWSM_RESTORE_MODE)
        mode = header().mode;
    else if (created)
        mode = 0777 & ~processUmask();
    else
        setMode = false;
    // A user who cannot pass over the owner's permissions could write no
    // child into a directory without owner write and search permission:
    // such a mode is applied at the end, with the times.
    constexpr mode_t ownerWrites = S_IWUSR | S_IXUSR;
    if (setMode && directoryTimes_ && geteuid() != 0 && (mode & ownerWrites) != ownerWrites) {
        directoryTimes_->recordMode(target_.name, mode);
        mode |= S_IRWXU;
    }
    if (setMode && fchmod(directory.get(), mode) != 0)
        return failedWith(FsStep::SetInfo, errno);
    // What new files in a directory that was there get may have changed
    // (group, set-group-ID bit, default ACL): every connection learns anew.
    if (!created)
        folders_->folderChanged();
    if ((openMode_ & NWSM_RESTORE_TIMES) && directoryTimes_)
        directoryTimes_->record(target_.name, timeOf(header().atimeSeconds, header().atimeNanoseconds),
                                timeOf(header().mtimeSeconds, header().mtimeNanoseconds));
    return 0;
}

} // namespace smsemu
