// The import's reading in a confined child process: all of GDAL's work on the inputs happens there.
#pragma once

#include "import/import.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The map as the reader hands it over: its file's bytes (grid_bytes of them), in memory the
// reader shared with its parent.
struct UnmapGrid {
    void operator()(uint8_t *grid) const;
};
using MapBytes = std::unique_ptr<uint8_t, UnmapGrid>;

// import_map (see import.h) run in a child process that may read only the inputs and what they
// bring along, write nothing, reach no network, use at most o.max_memory, and must finish a read
// every minute; forked at once, so the caller must have no other threads. What comes back is
// checked: the sidecar against the map, the notes bounded. The map comes back as the bytes its
// file takes, to be written as they are (every byte string of that size is a map). Every
// failure, the child's crash or stall included, is one line naming the file; `grid` is then
// left empty and the caller writes nothing.
Status import_confined(const ImportOptions &o, MapBytes &grid, Sidecar &sc, std::vector<std::string> &notes,
                       const std::function<void(double)> &progress = {});

// What confines the reader here, one line for each layer, for mvx --version.
std::string reader_confinement();
