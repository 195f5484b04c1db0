// Small text helpers of the path parsers and the component encoding.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "NetWarePathPrivate.h"

char *CharToHexString(int code, char *destination, int size)
{
    if (code == 0 || destination == nullptr || size <= 0)
        return nwpath::emptyText();
    char digits[16];
    // "%x" of the code's 32-bit pattern: -23 (a signed 0xE9) gives "ffffffe9".
    const int count = snprintf(digits, sizeof digits, "%x", static_cast<unsigned int>(code));
    if (count < 0 || count >= size)
        return nwpath::emptyText();
    memcpy(destination, digits, static_cast<size_t>(count) + 1);
    return destination;
}

int HexStringToChar(char *text)
{
    if (text == nullptr)
        return 0;
    // strtoul reads what scanf's "%x" reads (white space, sign, 0x prefix,
    // digits) and, unlike scanf, is defined for numbers that do not fit: it
    // gives all ones, of which the low 32 bits are kept as "%x" keeps them.
    char *end = nullptr;
    const unsigned long value = strtoul(text, &end, 16);
    if (end == text)
        return 0;
    return static_cast<int>(static_cast<uint32_t>(value));
}

int FindChar(char *text, int character, int start)
{
    if (text == nullptr || start < 0 || static_cast<char>(character) == '\0')
        return -1;
    // The start lies inside the text when the text has more than start characters.
    const size_t from = static_cast<size_t>(start);
    if (strnlen(text, from + 1) <= from)
        return -1;
    const char *found = strchr(text + from, static_cast<char>(character));
    if (found == nullptr || found - text > INT_MAX)
        return -1;
    return static_cast<int>(found - text);
}

char *MidString(char *text, int start, int length, char *destination)
{
    if (text == nullptr || destination == nullptr || start < 0 || length < 0)
        return nwpath::emptyText();
    const size_t from = static_cast<size_t>(start);
    if (strnlen(text, from + 1) <= from)
        return nwpath::emptyText();
    size_t count = static_cast<size_t>(length);
    if (count == 0)
        count = strnlen(text + from, nwpath::kBuffer);
    // Every destination of the subsystem is a 1024-byte work text.
    if (count > nwpath::kMaxText)
        return nwpath::emptyText();
    const size_t available = strnlen(text + from, count);
    memcpy(destination, text + from, available);
    memset(destination + available, 0, count - available + 1);
    return destination;
}
