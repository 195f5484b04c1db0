#include "filesystem/FsNames.h"
#include "filesystem/HostLog.h"
#include "filesystem/OpenAt.h"

#include "core/NameMatch.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace smsemu {
namespace {

// Splits a checked absolute path ("/a/b") into its components.
CCODE splitComponents(std::string_view path, std::vector<std::string> &components)
{
    components.clear();
    if (path.empty())
        return 0;
    if (path[0] != '/')
        return NWSMTS_INVALID_PATH;
    std::size_t at = 1;
    while (at <= path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string_view::npos)
            end = path.size();
        std::string_view component = path.substr(at, end - at);
        if (component.empty() || component == "." || component == "..")
            return NWSMTS_INVALID_PATH;
        components.emplace_back(component);
        at = end + 1;
    }
    return 0;
}

int openDirectoryAt(int at, const char *name)
{
    return openAtRetrying(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace

std::string_view resourceBaseName(const ResourceConfig &resource)
{
    std::string_view name(resource.name);
    if (name.size() > 1 && name.back() == '/')
        name.remove_suffix(1);
    return name;
}

void appendChild(std::string &name, std::string_view child)
{
    if (name != "/")
        name += '/';
    name += child;
}

CCODE resolveFsName(const std::vector<ResourceConfig> &resources, std::string_view text, bool resourceLevel,
                    FsName &out)
{
    if (text.empty() || text.size() > NWSM_MAX_NAME)
        return NWSMTS_INVALID_DATA_SET_NAME;
    if (text.find('\0') != std::string_view::npos)
        return NWSMTS_INVALID_PATH;
    if (text.size() > 1 && text.back() == '/')
        text.remove_suffix(1);

    if (resourceLevel) {
        for (std::size_t i = 0; i < resources.size(); ++i)
            if (equalsIgnoringCase(resourceBaseName(resources[i]), text)) {
                out.resource = i;
                out.name = resourceBaseName(resources[i]);
                out.components.clear();
                return 0;
            }
        // Not a resource name: read it as a data-set name.
    }

    if (text[0] != '/')
        return NWSMTS_INVALID_PATH;
    std::vector<std::string> all;
    if (CCODE rc = splitComponents(text == "/" ? std::string_view() : text, all))
        return rc;

    // The longest resource name that is a whole-component prefix.
    std::size_t best = resources.size();
    std::size_t bestLength = 0;
    for (std::size_t i = 0; i < resources.size(); ++i) {
        std::string_view base = resourceBaseName(resources[i]);
        bool matches = base == "/" || (text.substr(0, base.size()) == base &&
                                       (text.size() == base.size() || text[base.size()] == '/'));
        if (matches && (best == resources.size() || base.size() > bestLength)) {
            best = i;
            bestLength = base == "/" ? 0 : base.size();
        }
    }
    if (best == resources.size())
        return NWSMTS_INVALID_PATH;
    std::vector<std::string> below;
    std::string_view rest = text.substr(bestLength);
    if (rest != "/")
        if (CCODE rc = splitComponents(rest, below))
            return rc;
    out.resource = best;
    out.name = text;
    out.components = std::move(below);
    return 0;
}

CCODE openResourceDirectory(const ResourceConfig &resource, UniqueFd &fd)
{
    int opened;
    do
        opened = open(resource.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (opened < 0 && errno == EINTR);
    if (opened < 0) {
        // The resource's own directory: the host knows it by the resource's name.
        return toldErrnoCode(resource.name, FsStep::Open, errno);
    }
    fd.reset(opened);
    return 0;
}

namespace {

// openat2(2) (Linux 5.6) resolves a whole relative path in one call while
// refusing every symbolic link and anything that would leave the starting
// directory. Where the kernel lacks it (ENOSYS, or EPERM under some seccomp
// filters), the walk below does the same one component at a time.
#ifndef SYS_openat2
#define SYS_openat2 437
#endif
struct OpenHow {
    std::uint64_t flags;
    std::uint64_t mode;
    std::uint64_t resolve;
};
constexpr std::uint64_t kResolveNoMagicLinks = 0x02;
constexpr std::uint64_t kResolveNoSymlinks = 0x04;
constexpr std::uint64_t kResolveBeneath = 0x08;
// SMSEMU_PORTABLE=1 takes the walk from the start (tests of it run so).
std::atomic<bool> g_noOpenat2{std::getenv("SMSEMU_PORTABLE") != nullptr};

// The parent directory in one call: >= 0 a descriptor; -1 with errno set.
// errno ENOSYS means "walk instead".
int openParentAt2(int root, const FsName &name, std::size_t parents)
{
    if (g_noOpenat2.load(std::memory_order_relaxed)) {
        errno = ENOSYS;
        return -1;
    }
    std::string path;
    for (std::size_t i = 0; i < parents; ++i) {
        if (i > 0)
            path += '/';
        path += name.components[i];
    }
    OpenHow how{O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0, kResolveBeneath | kResolveNoSymlinks | kResolveNoMagicLinks};
    long fd;
    do
        fd = syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
    while (fd < 0 && errno == EINTR);
    if (fd < 0 && (errno == ENOSYS || errno == EPERM || errno == E2BIG)) {
        g_noOpenat2.store(true, std::memory_order_relaxed);
        errno = ENOSYS;
    }
    return static_cast<int>(fd);
}

} // namespace

CCODE openParentDirectory(int root, const FsName &name, bool create, UniqueFd &parent, int *error)
{
    auto failed = [error](CCODE code) {
        if (error != nullptr)
            *error = errno;
        return code;
    };
    std::size_t parents = name.components.empty() ? 0 : name.components.size() - 1;
    if (parents > 1) {
        const int fd = openParentAt2(root, name, parents);
        if (fd >= 0) {
            parent.reset(fd);
            return 0;
        }
        // A symbolic link on the way (ELOOP), a component that is no
        // directory, or an escape (EXDEV) is refused; a missing directory is
        // made (or reported) by the walk.
        if (errno == ELOOP || errno == EXDEV || errno == ENOTDIR)
            return failed(NWSMTS_INVALID_PATH);
        if (errno != ENOENT && errno != ENOSYS)
            return failed(openErrorCode(errno));
    }

    UniqueFd current(fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (!current)
        return failed(NWSMTS_OPEN_ERROR);
    for (std::size_t i = 0; i < parents; ++i) {
        const char *component = name.components[i].c_str();
        int next = openDirectoryAt(current.get(), component);
        if (next < 0 && errno == ENOENT && create) {
            if (mkdirat(current.get(), component, 0755) != 0 && errno != EEXIST)
                return failed(createErrorCode(errno));
            next = openDirectoryAt(current.get(), component);
        }
        if (next < 0)
            return failed(openErrorCode(errno));
        current.reset(next);
    }
    parent = std::move(current);
    return 0;
}

} // namespace smsemu
