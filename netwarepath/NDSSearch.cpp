// Escape-aware searches for '.' and '=' in NDS names ("CN=a\.b" holds one name).
#include <climits>
#include <cstring>

#include "NetWarePath.h"

namespace {

// Escapes matter only for the two characters that structure a name; the
// character is compared as a char, as strchr compares it.
bool honoursEscapes(char wanted, bool ignoreEscapes)
{
    return !ignoreEscapes && (wanted == '.' || wanted == '=');
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

    const char wanted = static_cast<char>(character);
    const bool escapes = honoursEscapes(wanted, ignoreEscapes);
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
    const int length = textLength(text);
    end = clampIndex(end, length);

    const char wanted = static_cast<char>(character);
    if (!honoursEscapes(wanted, ignoreEscapes)) {
        // Plain mode reports the last occurrence in the whole text, and only
        // when it lies at or before the end index.
        int last = length - 1;
        while (last >= 0 && text[last] != wanted)
            --last;
        return last > end ? -1 : last;
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
