// Terrain grid: the map file's layout, loading it, sampling one cell and decoding cell colours.
#pragma once

#include <cstdint>
#include <string>

constexpr int colonnes = 6144;                                    // grid columns (x)
constexpr int lignes = 4096;                                      // grid rows (y)
constexpr long long octets_ligne = 3LL * colonnes;                // bytes per row: 18,432
constexpr long long taille_grille = octets_ligne * lignes;        // bytes in the grid: 75,497,472

extern const char *const fichier_terrain;
extern unsigned char data3d[];

// One cell: 15-bit colour (bit 15 ignored) and signed height level.
struct cellule {
    uint16_t couleur;
    int8_t h;
};

// Result of loading: a failed load leaves nothing usable, a short one leaves the missing rows zero.
enum etat_charge { charge_ok, charge_court, charge_echec };

struct charge {
    etat_charge etat;
    long long lus;        // bytes of the file taken into the grid
    std::string raison;   // for charge_echec: the cause; for charge_court: the warning
};

// Fills data3d from the file (default "datas.mvx"); never blocks on a FIFO or device.
charge charge_terrain(const char *nom = fichier_terrain);

// Sample at (x, y), x, y >= 0; a column past the last continues into the next row,
// and anything past the last cell is (0, 0).
cellule lit_cellule(long long x, long long y);

inline uint8_t couleur_r(uint16_t c) { return static_cast<uint8_t>(((c >> 10) & 31) << 3); }
inline uint8_t couleur_g(uint16_t c) { return static_cast<uint8_t>(((c >> 5) & 31) << 3); }
inline uint8_t couleur_b(uint16_t c) { return static_cast<uint8_t>((c & 31) << 3); }
