// Encoding and decoding of NDS components: a native escape, backslash + c,
// is written in encoded form as backslash, the code of c in hexadecimal,
// backslash ("CN=a\.b" <-> "CN=a\2e\b").
#include <cstring>

#include "NetWarePathPrivate.h"

namespace nwpath {

bool encodeNDS(const char *source, char (&work)[kBuffer])
{
    const size_t length = strnlen(source, kBuffer);
    if (length > kMaxText)
        return false;
    BoundedText out(work, kBuffer);
    for (size_t i = 0; i < length; ++i) {
        out.append(source[i]);
        // A backslash at the very end escapes nothing and stays as it is.
        if (source[i] != '\\' || i + 1 == length)
            continue;
        ++i;
        char digits[16];
        // The code of the escaped character as a signed char: 0xE9 gives
        // "ffffffe9", which decodes back to 0xE9 through its low 8 bits.
        CharToHexString(static_cast<signed char>(source[i]), digits, sizeof digits);
        out.append(digits);
        out.append('\\');
    }
    return !out.overflow();
}

bool decodeNDS(const char *source, char (&work)[kBuffer])
{
    const size_t length = strnlen(source, kBuffer);
    if (length > kMaxText)
        return false;
    BoundedText out(work, kBuffer);
    // An escape of value 0 (or without digits) ends the component; the rest
    // is still read, so that an unterminated escape after it fails.
    bool ended = false;
    size_t i = 0;
    while (i < length) {
        const char c = source[i];
        if (!ended)
            out.append(c);
        if (c != '\\') {
            ++i;
            continue;
        }
        const void *found = memchr(source + i + 1, '\\', length - i - 1);
        if (found == nullptr)
            return false;
        const size_t close = static_cast<size_t>(static_cast<const char *>(found) - source);
        if (close == i + 1) // adjacent backslashes end the component here
            return !out.overflow();

        char digits[kBuffer];
        const size_t count = close - i - 1;
        memcpy(digits, source + i + 1, count);
        digits[count] = '\0';
        const char decoded = static_cast<char>(HexStringToChar(digits) & 0xFF);
        if (decoded == '\0')
            ended = true;
        else if (!ended)
            out.append(decoded);
        i = close + 1;
    }
    return !out.overflow();
}

} // namespace nwpath

namespace {

enum class Direction { Encode, Decode };

char *convert(Direction direction, const char *source, int32_t pathType, char *destination, int32_t size)
{
    if (source == nullptr || destination == nullptr || size <= 0)
        return nwpath::emptyText();
    // The result is built in a work text first, so the destination is written
    // only when everything fits, and it may be the source itself.
    char work[nwpath::kBuffer];
    if (pathType != NETWARE_PATH_TYPE_NDS) {
        const size_t length = strnlen(source, nwpath::kBuffer);
        if (length > nwpath::kMaxText)
            return nwpath::emptyText();
        memcpy(work, source, length);
        work[length] = '\0';
    } else if (direction == Direction::Encode ? !nwpath::encodeNDS(source, work) : !nwpath::decodeNDS(source, work)) {
        return nwpath::emptyText();
    }
    const size_t length = strlen(work);
    if (length >= static_cast<size_t>(size))
        return nwpath::emptyText();
    memcpy(destination, work, length + 1);
    return destination;
}

} // namespace

extern "C" char *EncodeComponent(const char *source, int32_t pathType, char *destination, int32_t size)
{
    return convert(Direction::Encode, source, pathType, destination, size);
}

extern "C" char *DecodeComponent(const char *source, int32_t pathType, char *destination, int32_t size)
{
    return convert(Direction::Decode, source, pathType, destination, size);
}

char *NetWarePathEncodeComponent(NETWARE_PATH_OBJECT *object, char *source, char *destination, int size)
{
    return EncodeComponent(source, NetWarePathGetPathType(object), destination, size);
}

char *NetWarePathDecodeComponent(NETWARE_PATH_OBJECT *object, char *source, char *destination, int size)
{
    return DecodeComponent(source, NetWarePathGetPathType(object), destination, size);
}

extern "C" char *NetWarePathGetEncodedComponent(const NETWARE_PATH_OBJECT *object, int32_t index, char *buffer,
                                                uint32_t size)
{
    if (object == nullptr || buffer == nullptr || size == 0)
        return nwpath::emptyText();
    buffer[0] = '\0';
    const NETWARE_PATH_COMPONENT *component = nwpath::componentAt(object, index);
    if (component == nullptr)
        return nwpath::emptyText();
    // No component encodes to more than 1023 characters, so a larger buffer
    // gains nothing; the clamp keeps the size a positive signed value.
    const int32_t limit = size > nwpath::kBuffer ? static_cast<int32_t>(nwpath::kBuffer) : static_cast<int32_t>(size);
    if (EncodeComponent(component->name, object->pathType, buffer, limit) != buffer)
        return nwpath::emptyText();
    return buffer;
}
