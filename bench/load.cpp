// Load benchmark: charge_terrain against one plain read loop of the same file, page cache warm.
#include "bench/measure.h"
#include "src/terrain.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

unsigned char buffer[grid_bytes];  // static like data3d, so both start as untouched zero pages

// The floor: the file into the buffer with as few reads as the kernel allows. False on any failure.
bool plain_read(const char *name) {
    const int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    long long got = 0;
    while (got < grid_bytes) {
        const ssize_t n = read(fd, buffer + got, static_cast<size_t>(grid_bytes - got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += n;
    }
    close(fd);
    return got == grid_bytes;
}

// Gives a buffer's pages back to the kernel, so the next fill faults them in anew as at start-up.
void release_pages(unsigned char *p, long long n) {
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t first = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
    const uintptr_t last = (reinterpret_cast<uintptr_t>(p) + static_cast<uintptr_t>(n)) & ~(page - 1);
    if (last > first) madvise(reinterpret_cast<void *>(first), last - first, MADV_DONTNEED);
}

// Milliseconds for one fill of data3d by the loader, or of the buffer by the plain loop;
// `fresh` first returns the destination's pages. Negative if the fill failed.
double fill_ms(const char *name, bool loader, bool fresh) {
    if (fresh) release_pages(loader ? data3d : buffer, grid_bytes);
    const double t0 = seconds();
    const bool ok = loader ? charge_terrain(name).state == load_ok : plain_read(name);
    const double ms = 1e3 * (seconds() - t0);
    return ok ? ms : -1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: bench_load MAP [PAIRS]\n");
        return 1;
    }
    const char *name = argv[1];
    const int pairs = argc == 3 ? std::max(1, std::atoi(argv[2])) : 21;
    // Each case twice: with fresh destination pages, as the viewer loads, and with pages already resident.
    for (bool fresh : {true, false}) {
        std::vector<double> load_ms, read_ms, ratios;
        for (int i = -2; i < pairs; ++i) {  // two rounds first warm the page cache and the code
            const bool loader_first = i % 2 == 0;
            const double a = fill_ms(name, loader_first, fresh);
            const double b = fill_ms(name, !loader_first, fresh);
            if (a < 0 || b < 0) {
                std::fprintf(stderr, "bench_load: %s: cannot read a whole map\n", name);
                return 1;
            }
            if (i < 0) continue;
            const double c = loader_first ? a : b, l = loader_first ? b : a;
            load_ms.push_back(c), read_ms.push_back(l), ratios.push_back(c / l);
        }
        std::printf("load %s %.3f %.3f %.4f %d\n", fresh ? "fresh" : "resident", median(load_ms),
                    median(read_ms), median(ratios), pairs);
    }
    return 0;
}
