/*
 * Internal.h - declarations shared by the module's source files only.
 */
#ifndef KXSMS_AGENT_INTERNAL_H
#define KXSMS_AGENT_INTERNAL_H

#include <cstddef>
#include <cstring>

#include "SMSAPI.h"

namespace kxsms {

/* The scan control every new object starts with. */
extern const NWSM_SCAN_CONTROL defaultScanControl;

/* Length of text, reading at most limit bytes (limit when no terminator is met). */
inline size_t boundedLength(const char *text, size_t limit)
{
    return strnlen(text, limit);
}

/*
 * Copies text into a buffer of size bytes, cutting it to size - 1 characters;
 * the buffer is always terminated. Returns the buffer.
 */
inline char *copyTruncated(char *buffer, size_t size, const char *text)
{
    if (size == 0)
        return buffer;
    const size_t length = strnlen(text, size - 1);
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    return buffer;
}

/*
 * Copies text into a buffer of size bytes only when it fits with its
 * terminator; returns false and leaves the buffer untouched otherwise.
 */
inline bool copyIfFits(char *buffer, size_t size, const char *text)
{
    if (size == 0)
        return false;
    const size_t length = strnlen(text, size);
    if (length >= size)
        return false;
    memcpy(buffer, text, length + 1);
    return true;
}

/*
 * Removes a trailing separator of name in the given name space. The platform
 * call is given somewhere to report where it cut: nothing promises that it
 * accepts a null pointer there.
 */
inline void stripEndSeparator(UINT32 nameSpaceType, char *name)
{
    char *removedAt = nullptr;
    NWSMStripEndSeparator(nameSpaceType, name, &removedAt);
}

} // namespace kxsms

#endif /* KXSMS_AGENT_INTERNAL_H */
