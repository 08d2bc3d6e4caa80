// Map files for the tools: packing rows into the file's cell layout, and unpacking them.
#include "mapfile.h"

#include "fichier.h"

#include <cerrno>
#include <unistd.h>

Status write_map(PendingFile &file, const Map &m) {
    return file.write([&](int fd) {
        std::vector<uint8_t> row(octets_ligne);
        for (int y = 0; y < lignes; ++y) {
            const long long base = 1LL * y * colonnes;
            for (int x = 0; x < colonnes; ++x) ecrit_cellule(&row[3 * x], m.colour[base + x], m.height[base + x]);
            if (!write_all(fd, row.data(), row.size())) return false;
        }
        return true;
    });
}

Status write_map(PendingFile &file, const uint8_t *grid) {
    return file.write([&](int fd) { return write_all(fd, grid, taille_grille); });
}

Status write_map(const std::string &path, const Map &m) {
    PendingFile f(path);
    if (Status st = write_map(f, m); !st.ok) return st;
    return f.commit();
}

Status open_map(const std::string &path, int &fd, long long &size) {
    std::string why;
    fd = ouvre_carte(path.c_str(), size, why);
    if (fd == -3) return Status::at(path, "it is under " + why + ", where mvx reads nothing");
    if (fd == -2) return Status::at(path, "it is " + why + ", not a regular file");
    if (fd < 0) return Status::at(path, why);
    return {};
}

Status read_map(const std::string &path, Map &m, long long &bytes) {
    bytes = 0;
    int fd = -1;
    long long size = 0;
    if (Status st = open_map(path, fd, size); !st.ok) return st;
    std::vector<uint8_t> row(octets_ligne);
    for (int y = 0; y < lignes; ++y) {
        const long long got = lit_plein(fd, row.data(), octets_ligne);
        if (got < 0) {
            const int e = errno;
            close(fd);
            return Status::fail(cause(path, "cannot read", e));
        }
        const long long base = 1LL * y * colonnes;
        for (long long c = 0; c + 2 < got; c += 3) {
            m.colour[base + c / 3] = couleur_de(&row[c]);
            m.height[base + c / 3] = hauteur_de(&row[c]);
        }
        bytes += got;
        if (got < octets_ligne) break;
    }
    close(fd);
    // Count what lies beyond the grid too, so callers can tell a long file.
    if (bytes == taille_grille && size > taille_grille) bytes = size;
    return {};
}

Status read_whole_map(const std::string &path, Map &m) {
    long long bytes = 0;
    if (Status st = read_map(path, m, bytes); !st.ok) return st;
    if (bytes != taille_grille)
        return Status::fail(path + ": " + std::to_string(bytes) + " bytes, not a complete map of " +
                            std::to_string(taille_grille) + " (see mvx info)");
    return {};
}
