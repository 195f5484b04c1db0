// Escape-aware searches for '.' and '=' in NDS names ("CN=a\.b" holds one name).
#include <cstring>

#include "NetWarePath.h"

namespace {

bool honoursEscapes(int character, bool ignoreEscapes)
{
    return !ignoreEscapes && (character == '.' || character == '=');
}

} // namespace

extern "C" int NDSstrchr(const char *text, int character, int start, bool ignoreEscapes)
{
    if (text == nullptr || text[0] == '\0')
        return -1;
    const int length = static_cast<int>(strnlen(text, 0x7FFFFFFF));
    if (start < 0)
        start = 0;
    if (start >= length)
        start = length - 1;

    const char wanted = static_cast<char>(character);
    const bool escapes = honoursEscapes(character, ignoreEscapes);
    for (int i = start; i < length; ++i) {
        if (escapes && text[i] == '\\') {
            ++i; // the escaped character is part of the name
            continue;
        }
        if (text[i] == wanted)
            return i;
    }
    return -1;
}

extern "C" int NDSstrrchr(const char *text, int character, int end, bool ignoreEscapes)
{
    if (text == nullptr || text[0] == '\0')
        return -1;
    const int length = static_cast<int>(strnlen(text, 0x7FFFFFFF));
    if (end < 0)
        end = 0;
    if (end >= length)
        end = length - 1;

    const char wanted = static_cast<char>(character);
    if (!honoursEscapes(character, ignoreEscapes)) {
        // Plain mode reports the last occurrence in the whole text, and only
        // when it lies at or before the end index.
        const char *last = (wanted == '\0') ? nullptr : strrchr(text, wanted);
        if (last == nullptr)
            return -1;
        const int index = static_cast<int>(last - text);
        return index > end ? -1 : index;
    }

    int found = -1;
    for (int i = 0; i <= end; ++i) {
        if (text[i] == '\\') {
            ++i;
            continue;
        }
        if (text[i] == wanted)
            found = i;
    }
    return found;
}
