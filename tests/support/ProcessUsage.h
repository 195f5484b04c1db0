// What the test's own process holds, for soaks that must stay flat.
#ifndef KXSMS_TESTS_SUPPORT_PROCESSUSAGE_H
#define KXSMS_TESTS_SUPPORT_PROCESSUSAGE_H

#include <cstddef>

namespace testsupport {

// The descriptors open in this process (/proc/self/fd).
size_t openDescriptors();
// Its resident memory in KiB (VmRSS of /proc/self/status); 0 when unknown.
size_t residentKiB();
// The bytes malloc has handed out and not had back, over all its arenas: what
// a leak grows, without the free pages an arena keeps that resident memory
// also counts.
size_t heapInUse();

// Whether this is an AddressSanitizer build, whose allocator's quarantine
// grows resident memory on purpose (a soak then leaves memory unchecked).
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool c_Sanitized = true;
#else
inline constexpr bool c_Sanitized = false;
#endif

} // namespace testsupport

#endif
