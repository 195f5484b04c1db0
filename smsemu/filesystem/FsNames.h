// Names of the file-system TSA and their confinement. A data-set name is an
// absolute POSIX path whose start is the name of a resource: under resource
// "/" the name "/a/b" is <resource directory>/a/b, under resource "/srv" the
// name "/srv/a" is <its directory>/a; the resource's own directory is named
// by the resource name. Every name is checked as text first (no "." or ".."
// component, no empty component, no NUL) and then walked from the resource
// directory one component at a time without following symbolic links, so
// that no name reaches outside its resource.
#pragma once

#include "filesystem/ErrnoCodes.h"
#include "requester/Config.h"
#include "SMSAPI.h"
#include "core/UniqueFd.h"

#include <string>
#include <string_view>
#include <vector>

namespace smsemu {

// A checked data-set name.
struct FsName {
    std::size_t resource = 0;            // index of the resource in the TSA's configuration
    std::string name;                    // the full name, without a trailing '/' (except the root "/")
    std::vector<std::string> components; // below the resource directory; empty for the resource itself

    bool isResourceRoot() const { return components.empty(); }
    // The last component, or "." for the resource directory itself.
    const char *leaf() const { return components.empty() ? "." : components.back().c_str(); }
};

// The name of a resource without a trailing '/' (except "/").
std::string_view resourceBaseName(const ResourceConfig &resource);

// The name of a child of a data set: "/" + child under "/", else parent + "/" + child.
void appendChild(std::string &name, std::string_view child);

// Checks `text` and finds the resource it belongs to (the longest resource
// name that is a whole-component prefix). `resourceLevel`: the name is a
// resource name (type 0xFFFFFFFE), matched ignoring case, else it is read as a
// data-set name. NWSMTS_INVALID_DATA_SET_NAME for an empty name or one over
// 1023 characters; NWSMTS_INVALID_PATH for a name that is not absolute, has
// an empty, "." or ".." component or a NUL, or lies under no resource.
CCODE resolveFsName(const std::vector<ResourceConfig> &resources, std::string_view text, bool resourceLevel,
                    FsName &out);

// Opens a resource's directory.
CCODE openResourceDirectory(const ResourceConfig &resource, UniqueFd &fd);

// Opens the directory that holds `name` (for the resource itself: the
// resource directory), walking from `root` without following symbolic links.
// `create`: missing directories are made with mode 0755. A component that is
// a symbolic link or not a directory: NWSMTS_INVALID_PATH; a missing one:
// NWSMTS_NO_DATA_SETS_FOUND. `error`, when given, receives the system error
// behind a failure.
CCODE openParentDirectory(int root, const FsName &name, bool create, UniqueFd &parent, int *error = nullptr);

} // namespace smsemu
