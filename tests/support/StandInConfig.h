// Configurations of the SMS stand-in for tests: TOML text and the file that
// SMSEMU_CONFIG names.
#ifndef KXSMS_TESTS_SUPPORT_STANDINCONFIG_H
#define KXSMS_TESTS_SUPPORT_STANDINCONFIG_H

#include <filesystem>
#include <string>

namespace testsupport {

// The text as a TOML basic string: in double quotes, with backslashes,
// quotes and control characters escaped (a folder may be named anything).
std::string tomlString(const std::string &text);

// A [[tsa]] table of a file-system TSA whose one resource "/" is root: keys
// (further lines of the table, such as users = { ... }) and, unless
// archiveState is empty, the archive flags kept in that SQLite store of the
// test's own rather than the machine's.
std::string fileSystemTsaConfig(const std::filesystem::path &root, const std::filesystem::path &archiveState,
                                const std::string &keys = "");

// Writes the configuration to file (making its folder) and points
// SMSEMU_CONFIG at it. A stand-in in this process reads it at its next reset.
void useStandInConfig(const std::filesystem::path &file, const std::string &toml);

} // namespace testsupport

#endif
