// Preloaded into Wine by the tests: a pty has no modem lines, so Wine's TIOCMGET on it fails and
// brandcli goes on without looking at CTS. This answers TIOCMGET for the one pty BRAND_CTS_PTY
// names as a device would, with CTS as BRAND_CTS says ("on" or "off"); every other call goes on
// to the C library. An x86_64 library, for the x86_64 Wine the tests run.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    const char* pty = getenv("BRAND_CTS_PTY");
    if (request == TIOCMGET && pty) {
        char link[32], path[64];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        ssize_t size = readlink(link, path, sizeof path - 1);
        if (size > 0 && (path[size] = '\0', strcmp(path, pty) == 0)) {
            const char* cts = getenv("BRAND_CTS");
            *(int*)argument = TIOCM_DSR | (cts && strcmp(cts, "on") == 0 ? TIOCM_CTS : 0);
            return 0;
        }
    }
    int (*next)(int, unsigned long, ...) =
        (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    return next(fd, request, argument);
}
