/*
 * NetWarePathPrivate.h - helpers shared by the path-object sources; not exported.
 */
#ifndef KXSMS_NETWAREPATH_NETWAREPATHPRIVATE_H
#define KXSMS_NETWAREPATH_NETWAREPATHPRIVATE_H

#include <cstddef>
#include <cstring>

#include "NetWarePathOperations.h"

namespace nwpath {

constexpr size_t kBuffer = NETWARE_PATH_BUFFER;
constexpr size_t kMaxText = NETWARE_PATH_MAX_TEXT;

/*
 * The static "" that text functions return on failure. It is read-only: a
 * caller that writes through it faults instead of changing what later
 * failures return.
 */
inline char *emptyText()
{
    static const char empty[1] = {'\0'};
    return const_cast<char *>(empty);
}

/* Length of a text field of a record, bounded by the field's size. */
inline size_t fieldLength(const char (&field)[kBuffer])
{
    return strnlen(field, kBuffer);
}

/*
 * True when the text ends inside a native escape: read from the left, its
 * last backslash has no character after it to escape ("CN=x\", not "CN=x\\").
 */
inline bool endsInOpenEscape(const char *text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '\\') {
            if (i + 1 == length)
                return true;
            ++i;
        }
    }
    return false;
}

/* Appends to a fixed buffer; remembers when something did not fit. */
class BoundedText {
public:
    BoundedText(char *buffer, size_t size) : m_buffer(buffer), m_size(size)
    {
        if (m_size > 0)
            m_buffer[0] = '\0';
    }

    void append(const char *text, size_t length)
    {
        if (m_overflow || length >= m_size - m_length) {
            m_overflow = true;
            return;
        }
        memcpy(m_buffer + m_length, text, length);
        m_length += length;
        m_buffer[m_length] = '\0';
    }
    void append(char c) { append(&c, 1); }
    void append(const char *text) { append(text, strlen(text)); }

    bool overflow() const { return m_overflow; }
    size_t length() const { return m_length; }

private:
    char *m_buffer;
    size_t m_size;
    size_t m_length = 0;
    bool m_overflow = false;
};

/* Const-correct forms of the list primitives, for the module's own callers. */
NETWARE_PATH_COMPONENT *allocateComponent(const char *text);
int insertComponentAtTop(NETWARE_PATH_OBJECT *object, const char *text);
int addComponentToBottom(NETWARE_PATH_OBJECT *object, const char *text);

/* The component at index (0 = top), or null for an index outside the list. */
const NETWARE_PATH_COMPONENT *componentAt(const NETWARE_PATH_OBJECT *object, int32_t index);

/* The parsers behind NetWarePathSetFSPath and NetWarePathSetNDSPath. */
int parseFSPath(NETWARE_PATH_OBJECT *object, const char *path);
int parseNDSPath(NETWARE_PATH_OBJECT *object, const char *path, bool encoded);

/*
 * Builds a text form into buffer (size bytes); false, with the buffer "",
 * when it does not fit or a component does not encode.
 */
bool buildPath(const NETWARE_PATH_OBJECT *object, char *buffer, size_t size, bool topDown, bool encoded);
/* Builds the object's native form (bottom-up for NDS, top-down otherwise). */
bool buildNativePath(const NETWARE_PATH_OBJECT *object, char *buffer, size_t size);

/*
 * Encodes or decodes one NDS component into a work text of 1024 bytes; false
 * when the source is longer than 1023 characters, the result would be, or
 * (decoding) an escape is not closed.
 */
bool encodeNDS(const char *source, char (&work)[kBuffer]);
bool decodeNDS(const char *source, char (&work)[kBuffer]);

} // namespace nwpath

#endif /* KXSMS_NETWAREPATH_NETWAREPATHPRIVATE_H */
