// Map files as the tools see them: the whole grid of colours and heights in memory, read and written whole.
#pragma once

#include "format.h"
#include "io.h"

#include <cstdint>
#include <string>
#include <vector>

// One map in memory, row-major; colour bit 15 is unused.
struct Map {
    std::vector<uint16_t> colour;
    std::vector<int8_t> height;
    Map() : colour(cellules), height(cellules) {}
};

// The colour of cells without data (imports' voids and margins, at height 0): a magenta that
// neither tints nor baked light produce, so that a void is known by it.
constexpr uint16_t void_cell_colour = 25 << 10 | 5 << 5 | 25;
inline bool is_void(uint16_t colour, int8_t height) { return height == 0 && (colour & 0x7fff) == void_cell_colour; }

// Writes the map through a temporary file renamed into place (see PendingFile); `file` is left
// uncommitted so that a caller can commit it together with the map's sidecar.
Status write_map(PendingFile &file, const Map &m);
Status write_map(const std::string &path, const Map &m);

// Opens a map file for reading (see ouvre_carte): a FIFO, device or directory is refused, and so is
// a file the kernel shows under /proc, /sys or /dev; `size` gets its size.
Status open_map(const std::string &path, int &fd, long long &size);

// Reads a map file (see open_map); `bytes` gets its size. Missing bytes of a short file are left zero.
Status read_map(const std::string &path, Map &m, long long &bytes);

// Reads a map that must be complete: a short or long file is a failure.
Status read_whole_map(const std::string &path, Map &m);
