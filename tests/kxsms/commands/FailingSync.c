/* Preloaded into kxsms by the durability tests: fsync of a file whose path
 * ends with $KXSMS_TEST_SYNC_FAILS fails with $KXSMS_TEST_SYNC_ERRNO (EIO or
 * ENOSPC; EIO when unset). Every other call goes to the C library. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int failsHere(int fd)
{
    const char *suffix = getenv("KXSMS_TEST_SYNC_FAILS");
    if (suffix == NULL || *suffix == '\0')
        return 0;
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n < 0)
        return 0;
    path[n] = '\0';
    const size_t length = strlen(suffix);
    return (size_t)n >= length && strcmp(path + n - length, suffix) == 0;
}

int fsync(int fd)
{
    if (failsHere(fd)) {
        const char *name = getenv("KXSMS_TEST_SYNC_ERRNO");
        errno = name != NULL && strcmp(name, "ENOSPC") == 0 ? ENOSPC : EIO;
        return -1;
    }
    int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    return real(fd);
}
