// Turning a height file (and optionally a colour image) into a map: scale, fit, colour, quantise.
#pragma once

#include "heightmap.h"
#include "levels.h"
#include "mapfile.h"

#include <string>
#include <vector>

struct ImportOptions {
    std::string heights;
    std::string out = "datas.mvx";
    std::string colour;        // empty: hypsometric tints with baked hillshade
    int size_w = 0, size_h = 0;  // of a headerless .r16; 0 infers a square
    bool has_range = false;    // input heights mapped to -128 and 127; outside clamped
    double range_lo = 0, range_hi = 0;
    bool has_sea = false;      // input height put at level 0
    double sea = 0;
};

extern const char import_summary[];
extern const char import_usage[];

// Options as `mvx import` takes them; `help` set on --help.
Status parse_import(int argc, char **argv, ImportOptions &o, bool &help);

// How input heights become map levels. Below the sea level (when given) lo … sea maps linearly
// onto -128 … 0, above it sea … hi onto 0 … 127; without one, lo … hi onto -128 … 127.
// Values outside lo … hi are clamped. When lo == hi and there is no sea level, everything is 0.
struct LevelScale {
    double lo = 0, hi = 0;
    bool has_sea = false;
    double sea = 0;
    float operator()(double v) const;  // unquantised level, -128 … 127
};

// The scale for this grid: the range given, else the one the file declares, else its own
// minimum and maximum over non-void samples. Fails if every sample is a void.
Status choose_scale(const HeightGrid &g, const ImportOptions &o, const std::string &name, LevelScale &s);

// Builds the whole map. Voids, and the margins left when the aspect ratio is not 3:2, get
// height 0 and the void colour. `notes` gets what the user should know (conversions, the fit).
Status import_map(const ImportOptions &o, Map &m, std::vector<std::string> &notes);
