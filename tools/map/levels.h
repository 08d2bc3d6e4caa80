// Height levels: how heights become the map's levels -128 ... 127, and the rounding to them.
#pragma once

#include "io.h"
#include "sidecar.h"

#include <cstdint>
#include <string>
#include <vector>

// The nearest height level to an unquantised one, clamped to -128 ... 127.
inline int8_t quantise(float z) {
    if (!(z > -128.0f)) return -128;  // also NaN, so nothing undefined reaches the cast
    if (z >= 127.0f) return 127;
    return static_cast<int8_t>(z < 0 ? -static_cast<int>(-z + 0.5f) : static_cast<int>(z + 0.5f));
}

// Below the sea level (when given) lo ... sea maps linearly onto -128 ... 0, above it sea ... hi onto
// 0 ... 127; without one, lo ... hi onto -128 ... 127. Values outside lo ... hi are clamped. When
// lo == hi and there is no sea level, everything is 0. With `per_level` set, every level is that
// many input units instead, the sea level (or, without one, the middle of lo ... hi) at level 0
// (or -0.5), and what falls outside -128 ... 127 is clamped.
struct LevelScale {
    double lo = 0, hi = 0;
    bool has_sea = false;
    double sea = 0;
    double per_level = 0;
    float operator()(double v) const;  // unquantised level, -128 ... 127
    // The level before clamping (per_level scales only; the others clamp their input instead).
    double unclamped(double v) const;
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

// The scale for heights z (voids skipped). Fails, naming `name`, when every cell is a void.
Status choose_scale(const std::vector<float> &z, const std::vector<uint8_t> &voids, const RangeChoice &range,
                    const std::string &name, LevelScale &s);
