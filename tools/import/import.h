// mvx import: height files (and an image) into a map true to the ground: read, placed, levelled, coloured.
#pragma once

#include "format/map.h"
#include "import/import_options.h"
#include "import/place.h"
#include "import/read_field.h"
#include "import/tile_set.h"
#include "map/levels.h"
#include "map/mapfile.h"
#include "map/sidecar.h"
#include "world/relief.h"

#include <functional>
#include <string>
#include <vector>

// The heights opened, placed in a grid_w x grid_h grid and read: the first half of an import, which
// tests and the fuzz target also run on small grids. `progress` gets the fraction read.
struct Heights {
    HeightSource src;
    Placement place;
    Field field;
};
Status read_import(const ImportOptions &o, int grid_w, int grid_h, Heights &h, std::vector<std::string> &notes,
                   const std::function<void(double)> &progress = {});

// How the colouring reads these heights: tints by real height above and below the sea level
// (over fixed spans in metres, by their square root, when the ground's scale is known; else
// linearly over the data's own range), and a hillshade with a cell's true size where the ground's
// scale is known, else the viewer's (a cell is 3 levels).
Relief relief_for(const Heights &h, const LevelScale &s, double sea);

// The whole map into `map` (grid_bytes, the file's layout), and the sidecar that says what it
// stands for. Voids (and the margins a fit leaves) get the void colour. `notes` gets the summary
// the user should see.
Status import_map(const ImportOptions &o, uint8_t *map, Sidecar &sc, std::vector<std::string> &notes,
                  const std::function<void(double)> &progress = {});
