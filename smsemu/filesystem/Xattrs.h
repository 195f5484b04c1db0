// Extended attributes of a data set in the stream's attribute section
// (StreamFormat.h): every attribute the process can read, POSIX ACLs among
// them (system.posix_acl_access, system.posix_acl_default), except the
// stand-in's own archive-flag attribute, which belongs to this machine's
// backup state and is never saved nor restored.
//
// An open descriptor is used where there is one (files, directories); other
// kinds (symbolic links, FIFOs, devices, which are never opened) are reached
// by path through /proc/self/fd/<directory>/<leaf> with the l* calls, which
// do not follow a final symbolic link.
#pragma once

#include "SMSAPI.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace smsemu {

// Where an attribute call goes: `fd` when it is >= 0, else `leaf` under
// `directory`.
struct AttributeTarget {
    int fd = -1;
    int directory = -1;
    const char *leaf = nullptr;
};

// Appends the entries of every readable attribute to `section` and counts
// them. A file system without attributes gives none. An attribute that
// vanishes while it is read is passed over. NWSMTS_READ_ERROR when the
// attributes cannot be listed or read for another reason, or exceed the
// section's bounds.
CCODE readAttributes(const AttributeTarget &target, std::string &section, std::uint64_t &count);

// What could not be applied: the names (", " between them) and the first
// errno met.
struct AttributeFailures {
    std::string names;
    int error = 0;
    bool any() const { return !names.empty(); }
};

// Applies every entry of a checked section (forEachAttribute) but the
// archive-flag attribute; the ones refused are collected in `failures`.
void applyAttributes(const AttributeTarget &target, std::string_view section, std::uint64_t count,
                     AttributeFailures &failures);

} // namespace smsemu
