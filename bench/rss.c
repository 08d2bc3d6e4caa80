/* Runs a program and writes its wall time, its own peak resident memory and CPU time (from wait4) and its exit status.
   usage: bench_rss OUT PROGRAM [ARGS...]
   OUT gets one line: "WALL_NS MAXRSS_KIB STATUS CPU_NS", STATUS being the exit code, or 128 + the signal
   that ended it, or 127 when PROGRAM cannot be run; CPU_NS its user and system time together.
   bench_rss itself exits with STATUS. */
#include <errno.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long long now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: bench_rss OUT PROGRAM [ARGS...]\n");
        return 2;
    }
    FILE *out = fopen(argv[1], "w");
    if (!out) {
        perror(argv[1]);
        return 2;
    }
    /* The child's peak counts this launcher's few pages from before exec too: they are the floor. */
    const long long t0 = now_ns();
    const pid_t pid = fork();
    if (pid < 0) {
        perror("bench_rss: fork");
        return 2;
    }
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        fprintf(stderr, "bench_rss: cannot run %s: ", argv[2]);
        perror(NULL);
        _exit(127);
    }
    int st = 0;
    struct rusage ru;
    pid_t r;
    while ((r = wait4(pid, &st, 0, &ru)) < 0 && errno == EINTR) {
    }
    const long long t1 = now_ns();
    if (r != pid) {
        perror("bench_rss: wait4");
        return 2;
    }
    const int status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    const long long cpu = (long long)(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000000000LL +
                          (long long)(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1000LL;
    fprintf(out, "%lld %ld %d %lld\n", t1 - t0, ru.ru_maxrss, status, cpu);
    if (fclose(out) != 0) {
        perror(argv[1]);
        return 2;
    }
    return status;
}
