// mvx import's options: its usage text, and the command line parsed into ImportOptions.
#pragma once

#include "common/io.h"
#include "import/kernels.h"
#include "import/place.h"
#include "import/read_budget.h"
#include "sandbox/child.h"

#include <cstdint>
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
