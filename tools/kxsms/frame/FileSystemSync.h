// Making what a restore wrote durable: one syncfs of each file system it
// wrote to, at the end, rather than an fsync of every file on the way.
#ifndef KXSMS_TOOLS_FILESYSTEMSYNC_H
#define KXSMS_TOOLS_FILESYSTEMSYNC_H

#include <string>
#include <vector>

namespace kxsms {

// Syncs the file system of each target once. A target that does not exist
// (yet) is taken by its nearest existing parent folder. False with the
// reason when a sync fails.
bool syncFileSystems(const std::vector<std::string> &targets, std::string &error);

} // namespace kxsms

#endif
