// Terrain grid: loads the map file once and samples cells for the renderer.
#include "terrain.h"

#include "fichier.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

const char *const fichier_terrain = "datas.mvx";  // the map, looked up in the working directory
unsigned char data3d[taille_grille];  // the grid, row-major, 3 bytes a cell; zero until loaded, so missing rows show black

namespace {

charge echec(const char *nom, const std::string &cause) {
    return {charge_echec, 0, std::string(nom) + ": " + cause};
}

}  // namespace

charge charge_terrain(const char *nom) {
    long long taille = 0;
    std::string raison;
    const int fd = ouvre_carte(nom, taille, raison);
    if (fd == -2) return echec(nom, "cannot load: it is " + raison + ", not a map file");
    if (fd == -3) return echec(nom, "cannot load: it is under " + raison + ", not a map file");
    if (fd < 0) return echec(nom, raison);

    // One row at a time, straight into place; a short file stops early and leaves the rest zero.
    long long lus = 0;
    for (int r = 0; r < lignes; ++r) {
        const long long pris = lit_plein(fd, data3d + r * octets_ligne, octets_ligne);
        if (pris < 0) {
            const int e = errno;
            close(fd);
            return echec(nom, std::string("cannot read: ") + std::strerror(e));
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
    return {couleur_de(data3d + o), hauteur_de(data3d + o)};
}
