// Map files as the tools see them: the whole grid of colours and heights in memory, read and written whole.
#pragma once

#include "common/io.h"
#include "format/map.h"

#include <cstdint>
#include <string>
#include <vector>

// One map in memory, row-major; colour bit 15 marks voids.
struct Map {
    std::vector<uint16_t> colour;
    std::vector<int8_t> height;
    Map() : colour(grid_cells), height(grid_cells) {}
};

// Colour bit 15, which the viewer ignores, marks a cell without data (an import's voids and the
// margins a fit leaves), whatever its colour and height.
constexpr uint16_t void_mark = 0x8000;

// The colour imports give cells without data, marked: a dark neutral grey, darker than any tint
// in shadow (the darkest, rock at 40 % light, is about 49, 46, 44) and unlike the sea's blues, so
// that data ends in a quiet apron rather than in something that looks like terrain.
constexpr uint16_t void_cell_colour = void_mark | 4 << 10 | 4 << 5 | 4;

// Without the mark, a cell is a void when it is this magenta at height 0: how maps without the
// mark record one.
constexpr uint16_t unmarked_void_colour = 25 << 10 | 5 << 5 | 25;

inline bool is_void(uint16_t colour, int8_t height) {
    return (colour & void_mark) || (height == 0 && colour == unmarked_void_colour);
}

// Rows y0 … y1 - 1 of the map in the file's cell layout, from `out` on (row_bytes a row).
void pack_rows(const Map &m, int y0, int y1, uint8_t *out);

// Writes the map through a temporary file renamed into place (see PendingFile); `file` is left
// uncommitted so that a caller can commit it together with the map's sidecar.
Status write_map(PendingFile &file, const Map &m);
Status write_map(const std::string &path, const Map &m);

// Opens a map file for reading (see open_map_file): a FIFO, device or directory is refused, and so is
// a file the kernel shows under /proc, /sys or /dev; `size` gets its size.
Status open_map(const std::string &path, int &fd, long long &size);

// Reads a map file (see open_map); `bytes` gets its size. Missing bytes of a short file are left zero.
Status read_map(const std::string &path, Map &m, long long &bytes);

// Reads a map that must be complete: a short or long file is a failure.
Status read_whole_map(const std::string &path, Map &m);
