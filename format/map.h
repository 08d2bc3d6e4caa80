// The map file's format, for the viewer and the tools alike: grid size, cell layout, colour channels.
#pragma once

#include <cstdint>

constexpr int grid_columns = 6144;                          // grid columns (x)
constexpr int grid_rows = 4096;                             // grid rows (y)
constexpr long long grid_cells = 1LL * grid_columns * grid_rows;  // cells in the grid: 25,165,824
constexpr int cell_bytes = 3;                               // colour high byte, colour low byte, height
constexpr long long row_bytes = cell_bytes * grid_columns;  // bytes per row: 18,432
constexpr long long grid_bytes = row_bytes * grid_rows;     // bytes in the grid (the file): 75,497,472

// A cell as the file stores it: 15-bit colour (bit 15 ignored) high byte first, then the signed height level.
inline uint16_t colour_of(const unsigned char *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline int8_t height_of(const unsigned char *p) { return static_cast<int8_t>(p[2]); }
inline void put_cell(unsigned char *p, uint16_t colour, int8_t h) {
    p[0] = static_cast<uint8_t>(colour >> 8);
    p[1] = static_cast<uint8_t>(colour);
    p[2] = static_cast<uint8_t>(h);
}

// The 5-bit channels of a colour: red in bits 14-10, green 9-5, blue 4-0.
inline int channel_r(uint16_t c) { return c >> 10 & 31; }
inline int channel_g(uint16_t c) { return c >> 5 & 31; }
inline int channel_b(uint16_t c) { return c & 31; }

// The channels as the viewer draws them, 8 bits each (multiples of 8, 0 ... 248).
inline uint8_t couleur_r(uint16_t c) { return static_cast<uint8_t>(channel_r(c) << 3); }
inline uint8_t couleur_g(uint16_t c) { return static_cast<uint8_t>(channel_g(c) << 3); }
inline uint8_t couleur_b(uint16_t c) { return static_cast<uint8_t>(channel_b(c) << 3); }
