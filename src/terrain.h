// Terrain grid: the map in memory (its file format in format/map.h), loading it and sampling one cell.
#pragma once

#include "format/map.h"

#include <cstdint>
#include <string>

extern const char *const map_file_name;
extern unsigned char data3d[];

// One cell: 15-bit colour (bit 15 ignored) and signed height level.
struct map_cell {
    uint16_t colour;
    int8_t h;
};

// Result of loading: a failed load leaves nothing usable, a short one leaves the missing rows zero.
enum load_state { load_ok, load_short, load_failed };

struct load_result {
    load_state state;
    long long bytes_read;  // bytes of the file taken into the grid
    std::string reason;    // for load_failed: the cause; for load_short: the warning
};

// Fills data3d from the file (default "datas.mvx"); never blocks on a FIFO or device.
load_result charge_terrain(const char *name = map_file_name);

// Sample at (x, y), x, y >= 0; a column past the last continues into the next row,
// and anything past the last cell is (0, 0).
map_cell lit_cellule(long long x, long long y);
