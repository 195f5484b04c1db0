/*
 * NetWarePath.h - NetWare path objects and the escape-aware NDS searches.
 */
#ifndef KXSMS_NETWAREPATH_NETWAREPATH_H
#define KXSMS_NETWAREPATH_NETWAREPATH_H

#define NETWAREPATH_EXPORT __attribute__((visibility("default")))

extern "C" {
/*
 * Escape-aware searches in NDS names. For '.' and '=' (unless ignoreEscapes is
 * true) a backslash and the character after it are stepped over together; for
 * any other character the search is plain. Both return an index or -1.
 */
NETWAREPATH_EXPORT int NDSstrchr(const char *text, int character, int start, bool ignoreEscapes);
NETWAREPATH_EXPORT int NDSstrrchr(const char *text, int character, int end, bool ignoreEscapes);
}

#endif /* KXSMS_NETWAREPATH_NETWAREPATH_H */
