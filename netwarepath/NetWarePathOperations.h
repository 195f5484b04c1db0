/*
 * NetWarePathOperations.h - the path-object operations exported under their
 * C++ names.
 *
 * The list primitives, parsers, builders and text helpers that NetWarePath.h
 * is built on. They are exported with C++ linkage, so that their symbols
 * carry their parameter types (for example
 * NetWarePathAddComponentToBottom(NETWARE_PATH_OBJECT*, char*)); they are not
 * part of the plain interface of NetWarePath.h. The helpers that are not
 * exported at all are in NetWarePathPrivate.h. Text parameters are char*
 * for that reason only: no function here writes to a text it only reads.
 */
#ifndef KXSMS_NETWAREPATH_NETWAREPATHOPERATIONS_H
#define KXSMS_NETWAREPATH_NETWAREPATHOPERATIONS_H

#include "NetWarePath.h"

/* ---- Component list ---- */

/*
 * A zero-filled component holding a copy of text; null for a null text, a
 * text of 1024 characters or more, or when malloc fails.
 */
NETWAREPATH_EXPORT NETWARE_PATH_COMPONENT *NetWarePathAllocateNetWareComponent(char *text);
/* Link a new component at the top / bottom; 1, or 0 with the list unchanged. */
NETWAREPATH_EXPORT int NetWarePathInsertComponentAtTop(NETWARE_PATH_OBJECT *object, char *text);
NETWAREPATH_EXPORT int NetWarePathAddComponentToBottom(NETWARE_PATH_OBJECT *object, char *text);
/*
 * Unlink the component and free it. Nothing happens for a null argument or a
 * component that is not in the object's list.
 */
NETWAREPATH_EXPORT void NetWarePathFreeNetWareComponent(NETWARE_PATH_OBJECT *object, NETWARE_PATH_COMPONENT *component);
/* Free every component; the text forms are left as they are. */
NETWAREPATH_EXPORT void NetWarePathRemoveAllComponents(NETWARE_PATH_OBJECT *object);

/* ---- Component encoding with the object's path type (0 for a null object) ---- */

NETWAREPATH_EXPORT char *NetWarePathEncodeComponent(NETWARE_PATH_OBJECT *object, char *source, char *destination,
                                                    int size);
NETWAREPATH_EXPORT char *NetWarePathDecodeComponent(NETWARE_PATH_OBJECT *object, char *source, char *destination,
                                                    int size);

/* ---- Text helpers ---- */

/*
 * The code formatted with "%x" (so -23 gives "ffffffe9") when the digits fit
 * in size bytes with their NUL; "" for a code of 0, a null destination or a
 * size of 0 or less.
 */
NETWAREPATH_EXPORT char *CharToHexString(int code, char *destination, int size);
/*
 * The hexadecimal number at the start of text, read as scanf's "%x" reads it
 * (leading white space, an optional sign and 0x prefix), as a 32-bit value; a
 * number too large for 64 bits reads as all ones. 0 when none can be read.
 */
NETWAREPATH_EXPORT int HexStringToChar(char *text);
/*
 * Index of the first occurrence of the character at or after start, or -1;
 * -1 also for a start that is negative or not inside the text, a null text,
 * and the character NUL.
 */
NETWAREPATH_EXPORT int FindChar(char *text, int character, int start);
/*
 * Writes length characters of text from start into the destination, as
 * strncpy does (padding with NULs past the end of the text), then a NUL at
 * index length; a length of 0 means the rest of the text. The destination
 * must hold length + 1 bytes. Returns the destination, or "" without
 * writing for a null argument, a start that is negative or not inside the
 * text, a negative length, or a length above 1023.
 */
NETWAREPATH_EXPORT char *MidString(char *text, int start, int length, char *destination);

/* ---- Parsing ---- */

/*
 * Parse into a cleared object; 1 or 0. The public setters clear first and
 * then call these.
 */
NETWAREPATH_EXPORT int NetWarePathSetFSPath(NETWARE_PATH_OBJECT *object, char *path);
NETWAREPATH_EXPORT int NetWarePathSetNDSPath(NETWARE_PATH_OBJECT *object, char *path, bool encoded);
/* Rebuild the native form from the list and set it again; 1 or 0. */
NETWAREPATH_EXPORT int NetWarePathSetNewPath(NETWARE_PATH_OBJECT *object);

/* ---- Building ---- */

/*
 * Build a text form into a buffer of 1024 bytes (NETWARE_PATH_BUFFER) and
 * return the buffer. Top-down lists the components from the top, bottom-up
 * from the bottom; with encoded set, the text starts with the separator and
 * each component is encoded. The native form is bottom-up for NDS and
 * top-down for the file system, without encoding; the encoded form is
 * top-down with encoding. When the text would not fit in 1023 characters
 * (or a component does not encode) the buffer is set to "" and the static ""
 * is returned instead of the buffer, so a caller tells a failure by the
 * result not being its buffer. A null object or buffer also gives "".
 */
NETWAREPATH_EXPORT char *NetWarePathBuildTopDownPath(NETWARE_PATH_OBJECT *object, char *buffer, bool encoded);
NETWAREPATH_EXPORT char *NetWarePathBuildBottomUpPath(NETWARE_PATH_OBJECT *object, char *buffer, bool encoded);
NETWAREPATH_EXPORT char *NetWarePathBuildNativePath(NETWARE_PATH_OBJECT *object, char *buffer);
NETWAREPATH_EXPORT char *NetWarePathBuildEncodedPath(NETWARE_PATH_OBJECT *object, char *buffer);

#endif /* KXSMS_NETWAREPATH_NETWAREPATHOPERATIONS_H */
