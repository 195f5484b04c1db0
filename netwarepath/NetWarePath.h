/*
 * NetWarePath.h - NetWare path objects and the escape-aware NDS searches.
 *
 * A path object holds one NetWare path: a file-system path (server, volume,
 * directories, file) or an NDS distinguished name. It keeps the path as a
 * doubly linked list of components from the top (root end) to the bottom
 * (leaf end), together with two ready-built text forms:
 *
 *                 file system (type 0, '\')     NDS (type 1, '.')
 *   native        SRV1\SYS:\PUBLIC              CN=Admin.O=Org.[Root]
 *   encoded       \SRV1\SYS:\PUBLIC             .[Root].O=Org.CN=Admin
 *
 * The encoded (also called top-down) form starts with the separator and lists
 * the components from the top down; an NDS component in it has each native
 * escape (backslash + character c) written as backslash, the code of c in
 * lower-case hexadecimal ("%x" of c as a signed char), backslash:
 * "CN=a\.b" <-> "CN=a\2e\b", "CN=\<0xE9>" <-> "CN=\ffffffe9\".
 *
 * This header is self-contained and may be included from C or C++. The
 * functions declared here are exported with C linkage under their plain
 * names. The internal operations (list primitives, parsers, builders and text
 * helpers) are exported with C++ linkage and declared in NetWarePathOperations.h.
 *
 * Conventions
 * - Functions that report success return 1, failure 0. Functions that return
 *   text return the caller's buffer on success and a pointer to a static,
 *   read-only empty string "" on failure: never write through a result that
 *   is not your own buffer.
 * - Buffer sizes count bytes including the terminating NUL. A size of 0 makes
 *   a getter write nothing at all, not even a terminator.
 * - A null object gives the neutral result named for each function and
 *   changes nothing; a null text is an invalid text.
 * - Texts hold at most 1023 characters (NETWARE_PATH_MAX_TEXT): a path, a
 *   component, and each built text form. Longer inputs are refused, as is a
 *   path whose native or encoded form would not fit in 1023 characters (an
 *   NDS escape grows from two characters to as many as ten when encoded).
 *   A refused or invalid path leaves the object empty.
 * - Nothing is logged, nothing is locked; calls on one object must be
 *   serialised by the caller.
 *
 * Accepted paths
 * - File system (native and encoded alike): more than 2 characters; '/'
 *   counts as '\'; one trailing and then one leading separator are ignored.
 *   The rest is either "Bindery" or "Server Specific Info" (any case; stored
 *   as written here, as a resource object) or non-empty elements separated
 *   by '\' whose first ':' stands at index 2 or later and is followed by '\'
 *   or the end ("SY:" is valid, "S:\X" and "SYS:DIR" are not).
 *   A path that still ends in a separator after the one trailing separator is
 *   dropped ("SYS:\DIR\\") has an empty last element and is invalid.
 * - NDS native form (leaf first): more than 2 characters; one leading '.' is
 *   ignored; a text then equal to "Schema" (any case) is the schema resource;
 *   one trailing unescaped '.' is ignored; the text is "[Root]" alone or
 *   names separated by unescaped '.', optionally ending in ".[Root]". Every
 *   name is non-empty and holds an unescaped '='. A backslash escapes the
 *   character after it; a name that ends in a lone backslash (an escape
 *   with nothing to escape) is invalid, since it would swallow the separator
 *   that follows it in the rebuilt form.
 * - NDS encoded form (root first): as the native form, but the optional
 *   "[Root]" stands at the start: its six characters and the one after them
 *   (taken as the separator, whatever it is) are removed. Separators are
 *   found by a plain search (an encoded escape holds only hexadecimal
 *   digits, never a '.'). Each name as written must hold an '=' (and, once
 *   decoded, an unescaped '=', so that its native form parses too).
 *   A name that does not decode becomes an empty component; a name whose
 *   decoding stops early at an escape of value 0 or without digits ends in a
 *   lone backslash and is invalid (see above).
 * - Failures leave the object empty. Its type afterwards: the type being
 *   parsed for a path that is too short or too long (or whose built forms
 *   would be too long) and for an NDS native path ending in two separators;
 *   file system (0) for every other invalid path, since clearing resets it.
 *
 * Editing: an append or removal changes the list, rebuilds the native form
 * and parses it again from scratch, so every edit re-validates the path and
 * a failed edit leaves the object empty (the type as the re-parse leaves it).
 * An edit is refused before the re-parse, with 0 and the object left empty
 * but of its type, when the rebuilt path would be longer than 1023
 * characters or the appended text is 1024 characters or longer, or, for
 * an NDS object, ends in a lone backslash. An encoded text that does not
 * decode is appended as "", which the re-parse drops. A null text, like a null or empty object, gives 0 and changes
 * nothing.
 *
 * Choices made where earlier behaviour gave no safe answer, in one place:
 * - Texts and built forms over 1023 characters are refused, never cut.
 * - A file-system path that ends in two or more separators is invalid.
 * - Encoded NDS names are split at every '.' (plain search).
 * - An NDS name ending in a lone backslash (native, or decoded cut short)
 *   makes the path invalid: its native form would name another path.
 * - An append that cannot be carried out (text too long, ending in a lone
 *   NDS escape, no memory) returns 0 rather than the result of re-parsing
 *   the unchanged path.
 * - EncodeComponent and DecodeComponent refuse results over 1023 characters
 *   even for a larger destination, and sizes of 0 or less.
 * - Getters given a size of 0 write nothing; the encoded-path getters need
 *   room for the terminator like every other getter.
 * - The internal builders write into 1024-byte buffers and report a form
 *   that does not fit (NetWarePathOperations.h); their callers then fail.
 */
#ifndef KXSMS_NETWAREPATH_NETWAREPATH_H
#define KXSMS_NETWAREPATH_NETWAREPATH_H

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#define NETWAREPATH_EXPORT __attribute__((visibility("default")))

#define NETWARE_PATH_TYPE_FS  0 /* file-system path, separator '\' */
#define NETWARE_PATH_TYPE_NDS 1 /* NDS distinguished name, separator '.' */

#define NETWARE_PATH_BUFFER   1024 /* size of every text field and work text */
#define NETWARE_PATH_MAX_TEXT 1023 /* longest text that a field holds */

/* One component of a path, in native form. */
typedef struct NETWARE_PATH_COMPONENT {
    char name[NETWARE_PATH_BUFFER];      /* terminated, at most 1023 characters */
    struct NETWARE_PATH_COMPONENT *next; /* toward the bottom; null for the bottom */
    struct NETWARE_PATH_COMPONENT *prev; /* toward the top; null for the top */
} NETWARE_PATH_COMPONENT;

/*
 * A path object. A host may place one in storage of its own (then call
 * NetWarePathConstruct before use and NetWarePathDestruct after) or get one
 * from NetWarePathNew and release it with NetWarePathDelete. Every component
 * is a malloc block owned by the object.
 */
typedef struct NETWARE_PATH_OBJECT {
    char nativePath[NETWARE_PATH_BUFFER];  /* "" when empty */
    char encodedPath[NETWARE_PATH_BUFFER]; /* "" when empty */
    int32_t pathType;                      /* NETWARE_PATH_TYPE_FS or _NDS */
    NETWARE_PATH_COMPONENT *top;           /* root end; null when empty */
    NETWARE_PATH_COMPONENT *bottom;        /* leaf end; null when empty */
    bool resourceObject;                   /* "Bindery", "Server Specific Info" or "Schema" */
} NETWARE_PATH_OBJECT;

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Lifecycle ---- */

/* A new, empty object from malloc, or null. */
NETWAREPATH_EXPORT NETWARE_PATH_OBJECT *NetWarePathNew(void);
/* Destructs the object and frees it. */
NETWAREPATH_EXPORT void NetWarePathDelete(NETWARE_PATH_OBJECT *object);
/* Zero-fills the record, then clears it: no components, type 0. */
NETWAREPATH_EXPORT void NetWarePathConstruct(NETWARE_PATH_OBJECT *object);
/* Frees every component, then zero-fills the record. */
NETWAREPATH_EXPORT void NetWarePathDestruct(NETWARE_PATH_OBJECT *object);
/* Empties the object: both texts "", type 0, no components, not a resource. */
NETWAREPATH_EXPORT void NetWarePathClearPath(NETWARE_PATH_OBJECT *object);

/* ---- Accessors ---- */

/* Number of components; 0 for a null object. */
NETWAREPATH_EXPORT int32_t NetWarePathGetNumberOfComponents(const NETWARE_PATH_OBJECT *object);
/*
 * Component at index (0 = top) in native form. The buffer is set to "" first
 * (when size > 0); the component is copied when it fits with its NUL.
 * Returns the buffer, or "" (buffer left "") when there is no such component
 * or it does not fit. NetWarePathGetComponent is the same operation.
 */
NETWAREPATH_EXPORT char *NetWarePathGetNativeComponent(const NETWARE_PATH_OBJECT *object, int32_t index, char *buffer,
                                                       uint32_t size);
NETWAREPATH_EXPORT char *NetWarePathGetComponent(const NETWARE_PATH_OBJECT *object, int32_t index, char *buffer,
                                                 uint32_t size);
/* Component at index in encoded form; as NetWarePathGetNativeComponent. */
NETWAREPATH_EXPORT char *NetWarePathGetEncodedComponent(const NETWARE_PATH_OBJECT *object, int32_t index, char *buffer,
                                                        uint32_t size);
/* pathType; 0 for a null object. */
NETWAREPATH_EXPORT int32_t NetWarePathGetPathType(const NETWARE_PATH_OBJECT *object);
/* '\' for type 0, '.' for any other type, NUL for a null object. */
NETWAREPATH_EXPORT char NetWarePathGetSeparator(const NETWARE_PATH_OBJECT *object);
/* resourceObject; false for a null object. */
NETWAREPATH_EXPORT bool NetWarePathIsResourceObject(const NETWARE_PATH_OBJECT *object);
/*
 * Copy of the native (or encoded) form when it fits with its NUL; otherwise
 * "" and the buffer is not touched. NetWarePathGetTopDownPath is the same
 * operation as NetWarePathGetEncodedPath.
 */
NETWAREPATH_EXPORT char *NetWarePathGetNativePath(const NETWARE_PATH_OBJECT *object, char *buffer, uint32_t size);
NETWAREPATH_EXPORT char *NetWarePathGetEncodedPath(const NETWARE_PATH_OBJECT *object, char *buffer, uint32_t size);
NETWAREPATH_EXPORT char *NetWarePathGetTopDownPath(const NETWARE_PATH_OBJECT *object, char *buffer, uint32_t size);

/* ---- Component encoding ---- */

/*
 * Encode or decode one component for path type 1 (NDS); any other type
 * copies the text unchanged. The result is built in a 1024-byte work text and
 * copied to the destination only when it fits (size counts the NUL);
 * otherwise, and for a null text or destination, a size of 0 or less, a
 * source or result longer than 1023 characters, or (decoding) an escape
 * without its closing backslash, the result is "" and the destination is not
 * written. Source and destination may be the same buffer.
 *
 * Decoding an escape whose digits read as 0, or that has no digits, ends the
 * component after its opening backslash ("a\zz\b" -> "a\"); adjacent
 * backslashes also end it and the rest is not read ("a\\b\c" -> "a\").
 */
NETWAREPATH_EXPORT char *EncodeComponent(const char *source, int32_t pathType, char *destination, int32_t size);
NETWAREPATH_EXPORT char *DecodeComponent(const char *source, int32_t pathType, char *destination, int32_t size);

/* ---- Setting a path ---- */

/*
 * Clear the object and parse the text as a file-system path (type 0) or as
 * an NDS name (any other type) in native form, or in encoded form for the
 * encoded setters. NetWarePathSetTopDownPath is NetWarePathSetEncodedPath.
 * 1 on success; 0 for a null object (nothing changed) or an invalid path.
 */
NETWAREPATH_EXPORT int NetWarePathSetNativePath(NETWARE_PATH_OBJECT *object, const char *path, int32_t pathType);
NETWAREPATH_EXPORT int NetWarePathSetEncodedPath(NETWARE_PATH_OBJECT *object, const char *path, int32_t pathType);
NETWAREPATH_EXPORT int NetWarePathSetTopDownPath(NETWARE_PATH_OBJECT *object, const char *path, int32_t pathType);

/* ---- Editing ---- */

/*
 * Append a component at the bottom (native text, or encoded text that is
 * decoded first) and re-parse the path. NetWarePathAppendComponentToBottom
 * is NetWarePathAppendNativeComponent. 0 with nothing changed for a null
 * object, a null text or an empty object; otherwise the re-parse decides.
 */
NETWAREPATH_EXPORT int NetWarePathAppendNativeComponent(NETWARE_PATH_OBJECT *object, const char *component);
NETWAREPATH_EXPORT int NetWarePathAppendComponentToBottom(NETWARE_PATH_OBJECT *object, const char *component);
NETWAREPATH_EXPORT int NetWarePathAppendEncodedComponent(NETWARE_PATH_OBJECT *object, const char *component);
/*
 * Remove the bottom component and re-parse the path. 0 with nothing changed
 * for a null or empty object. Removing the last component leaves the object
 * empty and returns 0. NetWarePathRemoveComponentFromBottom is the same.
 */
NETWAREPATH_EXPORT int NetWarePathRemoveComponent(NETWARE_PATH_OBJECT *object);
NETWAREPATH_EXPORT int NetWarePathRemoveComponentFromBottom(NETWARE_PATH_OBJECT *object);

/* ---- Escape-aware searches ---- */

/*
 * Searches in NDS names. For '.' and '=' (unless ignoreEscapes is true) a
 * backslash and the character after it are stepped over together; for any
 * other character the search is plain. A null or empty text gives -1.
 *
 * NDSstrchr: index of the first match at or after start (a negative start
 * counts as 0, one at or past the end as the last index), or -1.
 * NDSstrrchr: index of the last match at or before end (clamped the same
 * way), or -1. In plain mode only the last match of the whole text is
 * considered: when it lies after end the result is -1.
 */
NETWAREPATH_EXPORT int NDSstrchr(const char *text, int character, int start, bool ignoreEscapes);
NETWAREPATH_EXPORT int NDSstrrchr(const char *text, int character, int end, bool ignoreEscapes);

#ifdef __cplusplus
}
#endif

#endif /* KXSMS_NETWAREPATH_NETWAREPATH_H */
