// Load benchmark: charge_terrain against one plain read loop of the same file, page cache warm.
#include "mesure.h"
#include "terrain.h"

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

unsigned char tampon[taille_grille];  // static like data3d, so both start as untouched zero pages

// The floor: the file into the buffer with as few reads as the kernel allows. False on any failure.
bool lecture_simple(const char *nom) {
    const int fd = open(nom, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    long long pris = 0;
    while (pris < taille_grille) {
        const ssize_t n = read(fd, tampon + pris, static_cast<size_t>(taille_grille - pris));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pris += n;
    }
    close(fd);
    return pris == taille_grille;
}

// Gives a buffer's pages back to the kernel, so the next fill faults them in anew as at start-up.
void rend_pages(unsigned char *p, long long n) {
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t debut = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
    const uintptr_t fin = (reinterpret_cast<uintptr_t>(p) + static_cast<uintptr_t>(n)) & ~(page - 1);
    if (fin > debut) madvise(reinterpret_cast<void *>(debut), fin - debut, MADV_DONTNEED);
}

// Milliseconds for one fill of data3d by the loader, or of the buffer by the plain loop;
// `neuves` first returns the destination's pages. Negative if the fill failed.
double chrono(const char *nom, bool loader, bool neuves) {
    if (neuves) rend_pages(loader ? data3d : tampon, taille_grille);
    const double t0 = secondes();
    const bool ok = loader ? charge_terrain(nom).etat == charge_ok : lecture_simple(nom);
    const double ms = 1e3 * (secondes() - t0);
    return ok ? ms : -1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: bench_load MAP [PAIRS]\n");
        return 1;
    }
    const char *nom = argv[1];
    const int paires = argc == 3 ? std::max(1, std::atoi(argv[2])) : 21;
    // Each case twice: with fresh destination pages, as the viewer loads, and with pages already resident.
    for (bool neuves : {true, false}) {
        std::vector<double> charge_ms, lecture_ms, rapports;
        for (int i = -2; i < paires; ++i) {  // two rounds first warm the page cache and the code
            const bool loader_d_abord = i % 2 == 0;
            const double a = chrono(nom, loader_d_abord, neuves);
            const double b = chrono(nom, !loader_d_abord, neuves);
            if (a < 0 || b < 0) {
                std::fprintf(stderr, "bench_load: %s: cannot read a whole map\n", nom);
                return 1;
            }
            if (i < 0) continue;
            const double c = loader_d_abord ? a : b, l = loader_d_abord ? b : a;
            charge_ms.push_back(c), lecture_ms.push_back(l), rapports.push_back(c / l);
        }
        std::printf("load %s %.3f %.3f %.4f %d\n", neuves ? "fresh" : "resident", mediane(charge_ms),
                    mediane(lecture_ms), mediane(rapports), paires);
    }
    return 0;
}
