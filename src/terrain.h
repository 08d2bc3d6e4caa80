// Terrain grid: the map in memory (its file format in format.h), loading it and sampling one cell.
#pragma once

#include "format.h"

#include <cstdint>
#include <string>

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
