/* Preloaded into the viewer by the benchmark: when its first frame is presented, writes the time since
   the launcher's exec (startclock) and the resident memory so far to the file $MORVATH_BENCH_OUT. */
#define _GNU_SOURCE
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

/* One "Name:  N kB" field of this process's status, in KiB, or -1. */
static long status_kib(const char *status, const char *field) {
    const char *p = strstr(status, field);
    return p ? strtol(p + strlen(field), NULL, 10) : -1;
}

static int read_status(char *buf, size_t size) {
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    const ssize_t n = read(fd, buf, size - 1);
    close(fd);
    if (n <= 0) return 0;
    buf[n] = 0;
    return 1;
}

void glutSwapBuffers(void) {
    static void (*real)(void);
    static int done;
    if (!real) real = (void (*)(void))dlsym(RTLD_NEXT, "glutSwapBuffers");
    if (real) real();
    if (done) return;
    done = 1;
    /* Presented means the X server has the picture, not just that the request is queued. */
    Display *d = glXGetCurrentDisplay();
    if (d) XSync(d, False);
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    const char *t0 = getenv("MORVATH_BENCH_T0"), *out = getenv("MORVATH_BENCH_OUT");
    if (!t0 || !out) return;
    const long long ns = (long long)t.tv_sec * 1000000000LL + t.tv_nsec - atoll(t0);
    char tmp[4096], line[128];
    if (snprintf(tmp, sizeof tmp, "%s.tmp", out) >= (int)sizeof tmp) return;
    char status[8192];
    if (!read_status(status, sizeof status)) return;
    /* Peak resident, and what is resident now: anonymous (the grid, the driver's heap) and file-backed. */
    const int n = snprintf(line, sizeof line, "%lld %ld %ld %ld\n", ns, status_kib(status, "VmHWM:"),
                           status_kib(status, "RssAnon:"), status_kib(status, "RssFile:"));
    const int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const int ok = write(fd, line, (size_t)n) == n;
    close(fd);
    if (ok) rename(tmp, out); /* whole or absent, for the script that polls for it */
}
