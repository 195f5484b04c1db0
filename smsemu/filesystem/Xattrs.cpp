#include "filesystem/Xattrs.h"

#include "filesystem/ArchiveFlag.h"
#include "core/StreamFormat.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sys/xattr.h>
#include <vector>

namespace smsemu {
namespace {

// The /proc path of a leaf under a directory descriptor.
struct ProcPath {
    explicit ProcPath(const AttributeTarget &target)
    {
        std::snprintf(text, sizeof text, "/proc/self/fd/%d/%s", target.directory, target.leaf);
    }
    char text[64 + 4096];
};

ssize_t listNames(const AttributeTarget &target, const ProcPath *path, char *buffer, std::size_t size)
{
    return target.fd >= 0 ? flistxattr(target.fd, buffer, size) : llistxattr(path->text, buffer, size);
}

ssize_t getValue(const AttributeTarget &target, const ProcPath *path, const char *name, void *value, std::size_t size)
{
    return target.fd >= 0 ? fgetxattr(target.fd, name, value, size) : lgetxattr(path->text, name, value, size);
}

int setValue(const AttributeTarget &target, const ProcPath *path, const std::string &name, std::string_view value)
{
    return target.fd >= 0 ? fsetxattr(target.fd, name.c_str(), value.data(), value.size(), 0)
                          : lsetxattr(path->text, name.c_str(), value.data(), value.size(), 0);
}

bool noAttributes(int error)
{
    return error == ENOTSUP || error == ENOSYS;
}

} // namespace

CCODE readAttributes(const AttributeTarget &target, std::string &section, std::uint64_t &count)
{
    std::optional<ProcPath> path;
    if (target.fd < 0)
        path.emplace(target);
    // Most data sets have no attributes at all, or a short list: one call
    // into a stack buffer answers them.
    char small[1024];
    std::vector<char> large;
    char *names = small;
    ssize_t length = listNames(target, path ? &*path : nullptr, small, sizeof small);
    while (length < 0 && errno == ERANGE) {
        ssize_t needed = listNames(target, path ? &*path : nullptr, nullptr, 0);
        if (needed < 0)
            break;
        large.resize(static_cast<std::size_t>(needed) + 256);
        names = large.data();
        length = listNames(target, path ? &*path : nullptr, names, large.size());
    }
    if (length < 0)
        return noAttributes(errno) ? 0 : NWSMTS_READ_ERROR;

    std::vector<char> value;
    for (const char *name = names; name < names + length; name += std::strlen(name) + 1) {
        std::size_t nameLength = std::strlen(name);
        if (nameLength == 0 || std::strcmp(name, kArchiveAttribute) == 0)
            continue;
        if (nameLength > stream::kMaxAttributeName)
            return NWSMTS_READ_ERROR;
        ssize_t got = getValue(target, path ? &*path : nullptr, name, nullptr, 0);
        for (int tries = 0; got >= 0 && tries < 8; ++tries) {
            value.resize(static_cast<std::size_t>(got) + 1);
            got = getValue(target, path ? &*path : nullptr, name, value.data(), value.size());
            if (got >= 0 || errno != ERANGE)
                break;
            got = getValue(target, path ? &*path : nullptr, name, nullptr, 0);
        }
        if (got < 0) {
            if (errno == ENODATA)
                continue; // removed since it was listed
            if (errno == EACCES)
                continue; // user attributes of a directory this process may not read: that directory is reported
            return NWSMTS_READ_ERROR;
        }
        if (static_cast<std::size_t>(got) > stream::kMaxAttributeValue)
            return NWSMTS_READ_ERROR;
        stream::Attribute attribute{std::string_view(name, nameLength),
                                    std::string_view(value.data(), static_cast<std::size_t>(got))};
        if (section.size() + stream::attributeEntrySize(attribute) > stream::kMaxAttributeBytes ||
            count == stream::kMaxAttributes)
            return NWSMTS_READ_ERROR;
        stream::appendAttribute(section, attribute);
        ++count;
    }
    return 0;
}

void applyAttributes(const AttributeTarget &target, std::string_view section, std::uint64_t count,
                     AttributeFailures &failures)
{
    std::optional<ProcPath> path;
    if (target.fd < 0)
        path.emplace(target);
    std::string name;
    stream::forEachAttribute(section, count, [&](const stream::Attribute &attribute) {
        if (attribute.name == kArchiveAttribute)
            return;
        name.assign(attribute.name);
        if (setValue(target, path ? &*path : nullptr, name, attribute.value) == 0)
            return;
        if (failures.error == 0)
            failures.error = errno;
        if (!failures.names.empty())
            failures.names += ", ";
        failures.names += name;
    });
}

} // namespace smsemu
