// The import's reading in a confined child process: all of GDAL's work on the inputs happens there.
#pragma once

#include "import/import.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// import_map (see import.h) run in a child process that may read only the inputs and what they
// bring along, open nothing to write, reach no network, use at most o.max_memory, and must finish a read
// every minute; forked at once, so the caller must have no other threads. What comes back is
// checked: the sidecar against the map, the notes bounded. The child writes the map into `map`:
// grid_bytes in the file's layout, in memory shared with it (see MapOutput), every byte string of
// that size being a map. Every failure, the child's crash or stall included, is one line naming
// the file; the caller then writes nothing.
Status import_confined(const ImportOptions &o, uint8_t *map, Sidecar &sc, std::vector<std::string> &notes,
                       const std::function<void(double)> &progress = {});

// The confined import written to o.out with its sidecar (see MapOutput): the reader fills the
// map's temporary file in place. On failure nothing is written and no temporary is left.
Status import_and_save(const ImportOptions &o, std::vector<std::string> &notes, const std::function<void(double)> &progress = {});

// What confines the reader here, one line for each layer, for mvx --version.
std::string reader_confinement();
