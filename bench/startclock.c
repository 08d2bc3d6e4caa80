/* Starts a program with the benchmark's first-frame stamp preloaded: notes the clock, then execs it.
   usage: bench_startclock SHIM OUT PROGRAM [ARGS...] */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: bench_startclock SHIM OUT PROGRAM [ARGS...]\n");
        return 2;
    }
    if (setenv("LD_PRELOAD", argv[1], 1) || setenv("MORVATH_BENCH_OUT", argv[2], 1)) {
        perror("bench_startclock: setenv");
        return 2;
    }
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    char t0[32];
    snprintf(t0, sizeof t0, "%lld", (long long)t.tv_sec * 1000000000LL + t.tv_nsec);
    if (setenv("MORVATH_BENCH_T0", t0, 1)) {
        perror("bench_startclock: setenv");
        return 2;
    }
    execv(argv[3], argv + 3);
    fprintf(stderr, "bench_startclock: cannot run %s\n", argv[3]);
    perror("bench_startclock");
    return 2;
}
