// Reading and writing whole files and setting their times, for tests.
#ifndef KXSMS_TESTS_SUPPORT_FILES_H
#define KXSMS_TESTS_SUPPORT_FILES_H

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// The whole content, byte for byte; "" for a file that cannot be read.
std::string readFile(const std::filesystem::path &path);
// The lines, without their newlines; none for a file that cannot be read.
std::vector<std::string> readLines(const std::filesystem::path &path);
// Replaces the content, making the parent folders first; throws
// std::runtime_error when the file cannot be written.
void writeFile(const std::filesystem::path &path, const std::string &content);
// Sets the access and modification times of path itself (not of a link's
// target); throws std::runtime_error when they cannot be set.
void setFileTimes(const std::filesystem::path &path, time_t seconds, long nanoseconds = 0);

// A POSIX ACL as the kernel keeps it in system.posix_acl_access (and
// _default): owner rw, one named user with userPerms, owning group r,
// mask, others r.
std::string posixAclBlob(unsigned userId, unsigned userPerms);

} // namespace testsupport

#endif
