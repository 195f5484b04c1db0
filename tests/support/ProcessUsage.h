// What the test's own process holds, for soaks that must stay flat.
#ifndef KXSMS_TESTS_SUPPORT_PROCESSUSAGE_H
#define KXSMS_TESTS_SUPPORT_PROCESSUSAGE_H

#include <cstddef>

namespace testsupport {

// The descriptors open in this process (/proc/self/fd).
size_t openDescriptors();
// Its resident memory in KiB (VmRSS of /proc/self/status); 0 when unknown.
size_t residentKiB();

} // namespace testsupport

#endif
