// Height levels: how heights become the map's levels -128 ... 127, and the rounding to them.
#pragma once

#include "common/io.h"
#include "map/sidecar.h"

#include <cstdint>
#include <string>
#include <vector>

// The nearest height level to an unquantised one, clamped to -128 ... 127.
inline int8_t quantise(float z) {
    if (!(z > -128.0f)) return -128;  // also NaN, so nothing undefined reaches the cast
    if (z >= 127.0f) return 127;
    return static_cast<int8_t>(z < 0 ? -static_cast<int>(-z + 0.5f) : static_cast<int>(z + 0.5f));
}

// The levels keep the sea on a level boundary, so that a level is sea or land as a whole, and the
// colours, the summary, info and the exported heights agree on which. With `has_sea` (a sea level
// given, or one the heights reach below and above), lo ... sea maps onto -128 ... -0.5 and sea ... hi
// onto -0.5 ... 127, each side on its own: heights at or below the sea are levels -1 and down,
// higher ones 0 and up. Without, lo ... hi maps onto -128 ... 127; but when lo is the sea (and
// `keeps_sea`), the sea is level -128 and sea ... hi maps onto -127.5 ... 127. Values outside
// lo ... hi are clamped; when lo == hi and there is no sea, everything is 0. With `per_level` set, every level is that many input units instead,
// the sea (with `has_sea`) or the middle of lo ... hi between levels -1 and 0, and what falls outside
// -128 ... 127 is clamped.
struct LevelScale {
    double lo = 0, hi = 0;
    bool has_sea = false;
    double sea = 0;
    double per_level = 0;
    bool keeps_sea = false;  // levels up to sea_top are the sea's, those above land's, whatever the rounding
    int sea_top = -1;
    float operator()(double v) const;  // unquantised level, -128 ... 127
    // The level before clamping (per_level scales only; the others clamp their input instead).
    double unclamped(double v) const;
    // The level a height gets: the nearest, on the sea's side of its boundary.
    int8_t level(double v) const;
    // The height each level stands for, as the sidecar records it.
    void mapping(Sidecar &s) const;
};

// What the range comes from: the options' MIN:MAX, else the one the file declares (map levels from
// mvx export --heights: 0 ... 65535), else the field's own minimum and maximum over non-voids.
struct RangeChoice {
    bool given = false;
    double lo = 0, hi = 0;
    bool declared = false;  // the input is map levels
};

// The range for heights z (voids skipped). Fails, naming `name`, when every cell is a void.
Status choose_scale(const std::vector<float> &z, const std::vector<uint8_t> &voids, const RangeChoice &range,
                    const std::string &name, LevelScale &s);

// Puts the sea level `sea` on a level boundary: splits the levels there when it is given
// (`given`) or when the range reaches both below and above it; when the range starts at the sea,
// the sea fills level -128 and the land keeps the rest.
// Map levels (`declared`) already have it between -1 and 0.
void place_sea(LevelScale &s, double sea, bool given, bool declared);
