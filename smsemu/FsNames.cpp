#include "FsNames.h"

#include "NameMatch.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

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
    int fd;
    do
        fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
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
        bool matches = base == "/" ||
                       (text.substr(0, base.size()) == base && (text.size() == base.size() || text[base.size()] == '/'));
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
    if (opened < 0)
        return errno == ENOENT ? NWSMTS_NO_DATA_SETS_FOUND : NWSMTS_OPEN_ERROR;
    fd.reset(opened);
    return 0;
}

CCODE openParentDirectory(int root, const FsName &name, bool create, UniqueFd &parent)
{
    UniqueFd current(fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (!current)
        return NWSMTS_OPEN_ERROR;
    std::size_t parents = name.components.empty() ? 0 : name.components.size() - 1;
    for (std::size_t i = 0; i < parents; ++i) {
        const char *component = name.components[i].c_str();
        int next = openDirectoryAt(current.get(), component);
        if (next < 0 && errno == ENOENT && create) {
            if (mkdirat(current.get(), component, 0755) != 0 && errno != EEXIST)
                return errno == ENOSPC ? NWSMTS_OUT_OF_DISK_SPACE : NWSMTS_CANT_CREATE_FILE;
            next = openDirectoryAt(current.get(), component);
        }
        if (next < 0)
            return openErrorCode(errno);
        current.reset(next);
    }
    parent = std::move(current);
    return 0;
}

CCODE openErrorCode(int error)
{
    switch (error) {
    case ENOENT:
        return NWSMTS_NO_DATA_SETS_FOUND;
    case ELOOP:
    case ENOTDIR:
        return NWSMTS_INVALID_PATH;
    case EBUSY:
    case ETXTBSY:
        return NWSMTS_DATA_SET_IN_USE;
    default:
        return NWSMTS_OPEN_ERROR;
    }
}

} // namespace smsemu
