// mvx import: height files (and an image) into a map true to the ground: read, placed, levelled, coloured.
#pragma once

#include "child.h"
#include "format.h"
#include "levels.h"
#include "mapfile.h"
#include "place.h"
#include "read.h"
#include "relief.h"
#include "sidecar.h"
#include "source.h"

#include <functional>
#include <string>
#include <vector>

struct ImportOptions {
    std::vector<std::string> heights;  // files, tiles and directories of tiles, as named
    std::string input_list;            // a file naming more, one a line ("-": standard input)
    std::string out = "datas.mvx";
    Links out_links = Links::refuse;   // -o follows: a link the user names is written through
    std::string colour;                // an image for the colours; empty: tints with baked light
    std::vector<int> bands;            // its red, green and blue bands; empty: its own
    int size_w = 0, size_h = 0;        // of a headerless .r16; 0 infers a square
    bool has_range = false;            // input heights put at -128 and 127; outside clamped
    double range_lo = 0, range_hi = 0;
    bool has_sea = false;              // input height put at level 0, and the coast's height
    double sea = 0;
    double exaggeration = 0;           // levels for this many times the true relief; 0: from the range
    FitMode fit = FitMode::pad;
    bool has_bounds = false;           // import only this region
    Bounds bounds;
    Resampling resample = Resampling::automatic;
    double max_samples = max_read_samples;  // a caller that must stay quick (a fuzzer) lowers it
    uint64_t max_memory = default_child_memory;  // the confined reader's, in bytes
    bool quiet = false;                // nothing printed unless it fails
};

// The files an import reads as they are named: the heights, a list of them, the colour image.
std::vector<std::string> import_inputs(const ImportOptions &o);

// The inputs as the sidecar names them: the heights, the list that names more, the colour image.
std::vector<std::string> import_sources(const ImportOptions &o);

extern const char import_summary[];
extern const char import_usage[];

// Options as `mvx import` takes them; `help` set on --help.
Status parse_import(int argc, char **argv, ImportOptions &o, bool &help);

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

// The whole map, and the sidecar that says what it stands for. Voids (and the margins a fit
// leaves) get height 0 and the void colour. `notes` gets the summary the user should see.
Status import_map(const ImportOptions &o, Map &m, Sidecar &sc, std::vector<std::string> &notes,
                  const std::function<void(double)> &progress = {});

// Where the viewer's first view lies against the data, and what to press to reach it; empty when
// it shows some data.
std::string first_view_hint(const Field &f);
