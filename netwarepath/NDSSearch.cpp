// Escape-aware searches for '.' and '=' in NDS names ("CN=a\.b" holds one name).
#include <climits>
#include <cstring>

#include "NetWarePath.h"

namespace {

// Escapes matter only for the two characters that structure a name. The
// character is taken as the int it is: '.' + 256 is not '.'.
bool honoursEscapes(int wanted, bool ignoreEscapes)
{
    return !ignoreEscapes && (wanted == '.' || wanted == '=');
}

// A text character matches the wanted value given as a char or as an
// unsigned char (-23 and 233 both find the byte 0xE9); a value outside
// those ranges matches nothing.
bool matches(char c, int wanted)
{
    return c == wanted || static_cast<unsigned char>(c) == wanted;
}

// Texts are read up to INT_MAX - 1 characters, so that stepping over an
// escape at the last index still gives an index that an int holds.
int textLength(const char *text)
{
    return static_cast<int>(strnlen(text, INT_MAX - 1));
}

// Clamps an index into [0, length - 1].
int clampIndex(int index, int length)
{
    if (index < 0)
        return 0;
    return index >= length ? length - 1 : index;
}

} // namespace

extern "C" int NDSstrchr(const char *text, int character, int start, bool ignoreEscapes)
{
    if (text == nullptr || text[0] == '\0')
        return -1;
    const int length = textLength(text);
    start = clampIndex(start, length);

    const bool escapes = honoursEscapes(character, ignoreEscapes);
    for (int i = start; i < length; ++i) {
        if (escapes && text[i] == '\\') {
            ++i; // the escaped character is part of the name
            continue;
        }
        if (matches(text[i], character))
            return i;
    }
    return -1;
}

extern "C" int NDSstrrchr(const char *text, int character, int end, bool ignoreEscapes)
{
    if (text == nullptr || text[0] == '\0')
        return -1;
    const int length = textLength(text);
    end = clampIndex(end, length);

    if (!honoursEscapes(character, ignoreEscapes)) {
        // Plain mode reports the last occurrence in the whole text, and only
        // when it lies at or before the end index.
        int last = length - 1;
        while (last >= 0 && !matches(text[last], character))
            --last;
        return last > end ? -1 : last;
    }

    int found = -1;
    for (int i = 0; i <= end; ++i) {
        if (text[i] == '\\') {
            ++i;
            continue;
        }
        if (matches(text[i], character))
            found = i;
    }
    return found;
}
