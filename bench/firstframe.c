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
static long statut_kib(const char *status, const char *champ) {
    const char *p = strstr(status, champ);
    return p ? strtol(p + strlen(champ), NULL, 10) : -1;
}

static int lit_statut(char *buf, size_t taille) {
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    const ssize_t n = read(fd, buf, taille - 1);
    close(fd);
    if (n <= 0) return 0;
    buf[n] = 0;
    return 1;
}

void glutSwapBuffers(void) {
    static void (*vrai)(void);
    static int fait;
    if (!vrai) vrai = (void (*)(void))dlsym(RTLD_NEXT, "glutSwapBuffers");
    if (vrai) vrai();
    if (fait) return;
    fait = 1;
    /* Presented means the X server has the picture, not just that the request is queued. */
    Display *d = glXGetCurrentDisplay();
    if (d) XSync(d, False);
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    const char *t0 = getenv("MORVATH_BENCH_T0"), *out = getenv("MORVATH_BENCH_OUT");
    if (!t0 || !out) return;
    const long long ns = (long long)t.tv_sec * 1000000000LL + t.tv_nsec - atoll(t0);
    char tmp[4096], ligne[128];
    if (snprintf(tmp, sizeof tmp, "%s.tmp", out) >= (int)sizeof tmp) return;
    char status[8192];
    if (!lit_statut(status, sizeof status)) return;
    /* Peak resident, and what is resident now: anonymous (the grid, the driver's heap) and file-backed. */
    const int n = snprintf(ligne, sizeof ligne, "%lld %ld %ld %ld\n", ns, statut_kib(status, "VmHWM:"),
                           statut_kib(status, "RssAnon:"), statut_kib(status, "RssFile:"));
    const int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const int ok = write(fd, ligne, (size_t)n) == n;
    close(fd);
    if (ok) rename(tmp, out); /* whole or absent, for the script that polls for it */
}
