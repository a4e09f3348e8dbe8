/* Preloaded into the programs of an emulated run (scripts/test-arch) and nowhere else.
 *
 * Qt 5.15 starts processes with clone(CLONE_PIDFD) when the kernel answers its probe,
 * waitid(P_PIDFD, ...), with EBADF. Under qemu-user 7.2 (Debian 12) the probe reaches this
 * machine's kernel, which knows P_PIDFD, but the emulated clone() refuses the flag: QProcess
 * then starts nothing, and a later QProcess::kill() on it signals process -1. Here the probe
 * fails as on a kernel without pidfds, and Qt forks the classic way.
 *
 * The variable that preloads it is dropped at once, so that programs of this machine's own
 * architecture started from here (the broker) do not try to load it; emulated ones get it again
 * from QEMU_SET_ENV. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/syscall.h>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

__attribute__((constructor)) static void dropPreload(void)
{
    unsetenv("LD_PRELOAD");
}

long syscall(long number, ...)
{
    static long (*next)(long, ...);
    long a[6];
    va_list args;
    va_start(args, number);
    for (int i = 0; i < 6; ++i)
        a[i] = va_arg(args, long);
    va_end(args);
    if (number == SYS_waitid && a[0] == P_PIDFD) {
        errno = EINVAL;
        return -1;
    }
    if (!next)
        next = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    return next(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
