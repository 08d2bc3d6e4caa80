// Terrain grid: loads the map file once and samples cells for the renderer.
#include "terrain.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char *const fichier_terrain = "datas.mvx";  // the map, looked up in the working directory
unsigned char data3d[taille_grille];  // the grid, row-major, 3 bytes a cell; zero until loaded, so missing rows show black

namespace {

const char *genre(mode_t m) {
    if (S_ISDIR(m)) return "a directory";
    if (S_ISFIFO(m)) return "a FIFO";
    if (S_ISCHR(m)) return "a character device";
    if (S_ISBLK(m)) return "a block device";
    if (S_ISSOCK(m)) return "a socket";
    return "not a regular file";
}

charge echec(const char *nom, const std::string &cause) {
    return {charge_echec, 0, std::string(nom) + ": " + cause};
}

}  // namespace

charge charge_terrain(const char *nom) {
    // O_NONBLOCK so that a FIFO with no writer cannot hang the start-up; it is refused below anyway.
    int fd = open(nom, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return echec(nom, std::string("cannot open: ") + std::strerror(errno));
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int e = errno;
        close(fd);
        return echec(nom, std::string("cannot stat: ") + std::strerror(e));
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        return echec(nom, std::string("cannot load: it is ") + genre(st.st_mode) + ", not a map file");
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    // One row at a time, straight into place; a short file stops early and leaves the rest zero.
    long long lus = 0;
    for (int r = 0; r < lignes; ++r) {
        unsigned char *ligne = data3d + r * octets_ligne;
        long long pris = 0;
        while (pris < octets_ligne) {
            ssize_t n = read(fd, ligne + pris, static_cast<size_t>(octets_ligne - pris));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                int e = errno;
                close(fd);
                return echec(nom, std::string("cannot read: ") + std::strerror(e));
            }
            if (n == 0) break;
            pris += n;
        }
        lus += pris;
        if (pris < octets_ligne) break;
    }
    close(fd);
    if (lus < taille_grille) {
        std::memset(data3d + lus, 0, static_cast<size_t>(taille_grille - lus));
        return {charge_court, lus,
                std::string(nom) + ": short map: " + std::to_string(lus) + " of " +
                    std::to_string(taille_grille) + " bytes read; the rest shows black at height 0"};
    }
    return {charge_ok, lus, ""};
}

cellule lit_cellule(long long x, long long y) {
    // Callers keep x, y >= 0 and below about 2^40, so this cannot overflow in 64 bits.
    long long o = 3 * (y * colonnes + x);
    if (o < 0 || o + 2 >= taille_grille) return {0, 0};
    return {static_cast<uint16_t>(data3d[o] << 8 | data3d[o + 1]), static_cast<int8_t>(data3d[o + 2])};
}
