// Level scales: the forward mapping, its inverse for the sidecar, and the range they are chosen from.
#include "levels.h"

#include <algorithm>
#include <cmath>

float LevelScale::operator()(double v) const {
    if (per_level > 0) return static_cast<float>(std::clamp(unclamped(v), -128.0, 127.0));
    v = std::clamp(v, lo, hi);
    if (has_sea) {
        if (v < sea) return static_cast<float>(-128.0 * (sea - v) / (sea - lo));
        return hi > sea ? static_cast<float>(127.0 * (v - sea) / (hi - sea)) : 0.0f;
    }
    if (hi == lo) return 0.0f;
    // Divided last, so levels written by export (v = (h + 128) · 257 over 0 … 65535) come back exact.
    return static_cast<float>(-128.0 + (v - lo) * 255.0 / (hi - lo));
}

double LevelScale::unclamped(double v) const {
    if (has_sea) return (v - sea) / per_level;
    return -0.5 + (v - (lo + hi) / 2) / per_level;
}

void LevelScale::mapping(Sidecar &s) const {
    if (per_level > 0) {
        s.height_at_0 = has_sea ? sea : (lo + hi) / 2 + 0.5 * per_level;
        s.per_level_below = s.per_level_above = per_level;
    } else if (has_sea) {
        s.height_at_0 = sea;
        s.per_level_below = sea > lo ? (sea - lo) / 128 : (hi - sea) / 127;
        s.per_level_above = hi > sea ? (hi - sea) / 127 : s.per_level_below;
    } else {
        s.height_at_0 = lo + 128 * (hi - lo) / 255;
        s.per_level_below = s.per_level_above = (hi - lo) / 255;
    }
}

Status choose_scale(const std::vector<float> &z, const std::vector<uint8_t> &voids, const RangeChoice &range,
                    const std::string &name, LevelScale &s) {
    if (range.given || range.declared) {
        s.lo = range.given ? range.lo : 0;
        s.hi = range.given ? range.hi : 65535;
        return {};
    }
    float lo = INFINITY, hi = -INFINITY;
    for (size_t i = 0; i < z.size(); ++i)
        if (!voids[i]) lo = std::min(lo, z[i]), hi = std::max(hi, z[i]);
    if (lo > hi) return Status::fail(name + ": no heights: every sample is a void");
    s.lo = lo;
    s.hi = hi;
    return {};
}
