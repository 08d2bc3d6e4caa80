// The import's reading in a confined child process: all of GDAL's work on the inputs happens there.
#pragma once

#include "import/import.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// import_map (see import.h) run in a child process that may read only the inputs and what they
// bring along, write nothing, reach no network, use at most o.max_memory, and must finish a read
// every minute; forked at once, so the caller must have no other threads. What comes back is
// checked: the sidecar against the map, the notes bounded. The map is made only once the child
// has ended, so that none of the child's memory goes to it. Every failure, the child's crash or
// stall included, is one line naming the file; the caller writes nothing then.
Status import_confined(const ImportOptions &o, std::unique_ptr<Map> &m, Sidecar &sc, std::vector<std::string> &notes,
                       const std::function<void(double)> &progress = {});

// What confines the reader here, one line for each layer, for mvx --version.
std::string reader_confinement();
