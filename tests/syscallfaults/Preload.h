// Running a program with the fault seam in front of it, for tests: the
// environment it needs besides the SYSFAULTS settings.
#ifndef KXSMS_TESTS_SYSCALLFAULTS_PRELOAD_H
#define KXSMS_TESTS_SYSCALLFAULTS_PRELOAD_H

#include <string>

namespace sysfaults {

// "LD_PRELOAD=<library> ..." for a shell command line. In a sanitizer build
// the sanitizer's runtime would refuse to start behind a library loaded
// before it; the seam calls through it, so its order check is turned off.
inline std::string preloadAssignments(const std::string &library)
{
    std::string line = "LD_PRELOAD='" + library + "'";
#if defined(__SANITIZE_ADDRESS__)
    line += " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\"";
#endif
    return line;
}

} // namespace sysfaults

#endif
