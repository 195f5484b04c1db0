// The module's build stamp: the one line of its non-loaded ELF section
// "KxVersion", read from the file itself (the section is not in memory).
#ifndef KXSMS_TOOLS_BUILDSTAMP_H
#define KXSMS_TOOLS_BUILDSTAMP_H

#include <optional>
#include <string>

namespace kxsms {

// The first line of the section of that name in a 64-bit little-endian ELF
// file, without its newline. Nothing (and the reason in error) when the file
// cannot be read, is no such ELF file, has no such section, or the section is
// larger than maxSize. Every offset and size in the file is checked against
// the file's size before it is used.
std::optional<std::string> readElfSectionLine(const std::string &file, const std::string &section, std::string &error,
                                              size_t maxSize = 4096);

} // namespace kxsms

#endif
