// The map file's format, for the viewer and the tools alike: grid size, cell layout, colour channels.
#pragma once

#include <cstdint>

constexpr int colonnes = 6144;                                    // grid columns (x)
constexpr int lignes = 4096;                                      // grid rows (y)
constexpr long long cellules = 1LL * colonnes * lignes;           // cells in the grid: 25,165,824
constexpr int octets_cellule = 3;                                 // colour high byte, colour low byte, height
constexpr long long octets_ligne = octets_cellule * colonnes;     // bytes per row: 18,432
constexpr long long taille_grille = octets_ligne * lignes;        // bytes in the grid (the file): 75,497,472

// A cell as the file stores it: 15-bit colour (bit 15 ignored) high byte first, then the signed height level.
inline uint16_t couleur_de(const unsigned char *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline int8_t hauteur_de(const unsigned char *p) { return static_cast<int8_t>(p[2]); }
inline void ecrit_cellule(unsigned char *p, uint16_t couleur, int8_t h) {
    p[0] = static_cast<uint8_t>(couleur >> 8);
    p[1] = static_cast<uint8_t>(couleur);
    p[2] = static_cast<uint8_t>(h);
}

// The 5-bit channels of a colour: red in bits 14-10, green 9-5, blue 4-0.
inline int canal_r(uint16_t c) { return c >> 10 & 31; }
inline int canal_g(uint16_t c) { return c >> 5 & 31; }
inline int canal_b(uint16_t c) { return c & 31; }
inline uint16_t couleur15(int r, int g, int b) { return static_cast<uint16_t>(r << 10 | g << 5 | b); }

// The channels as the viewer draws them, 8 bits each (multiples of 8, 0 ... 248).
inline uint8_t couleur_r(uint16_t c) { return static_cast<uint8_t>(canal_r(c) << 3); }
inline uint8_t couleur_g(uint16_t c) { return static_cast<uint8_t>(canal_g(c) << 3); }
inline uint8_t couleur_b(uint16_t c) { return static_cast<uint8_t>(canal_b(c) << 3); }
