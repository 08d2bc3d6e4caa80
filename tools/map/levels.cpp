// Level scales: the forward mapping, its inverse for the sidecar, and the range they are chosen from.
#include "map/levels.h"

#include "common/parallel.h"

#include <algorithm>
#include <cmath>
#include <mutex>

float LevelScale::operator()(double v) const {
    if (per_level > 0) return static_cast<float>(std::clamp(unclamped(v), -128.0, 127.0));
    v = std::clamp(v, lo, hi);
    if (has_sea) {
        if (v <= sea) return sea > lo ? static_cast<float>(-128.0 + 127.5 * (v - lo) / (sea - lo)) : -1.0f;
        return static_cast<float>(-0.5 + 127.5 * (v - sea) / (hi - sea));
    }
    // The sea at the bottom of the range: below the boundary of -128 and -127.
    if (keeps_sea) return v <= sea ? -128.0f : static_cast<float>(-127.5 + 254.5 * (v - sea) / (hi - sea));
    if (hi == lo) return 0.0f;
    // Divided last, so levels written by export (v = (h + 128) · 257 over 0 … 65535) come back exact.
    return static_cast<float>(-128.0 + (v - lo) * 255.0 / (hi - lo));
}

double LevelScale::unclamped(double v) const { return -0.5 + (v - (has_sea ? sea : (lo + hi) / 2)) / per_level; }

int8_t LevelScale::level(double v) const {
    const int8_t q = quantise((*this)(v));
    if (!keeps_sea) return q;
    return static_cast<int8_t>(v <= sea ? std::min<int>(q, sea_top) : std::max<int>(q, sea_top + 1));
}

void LevelScale::mapping(Sidecar &s) const {
    if (per_level > 0) {
        const double pivot = has_sea ? sea : (lo + hi) / 2;
        s.height_at_0 = pivot + 0.5 * per_level;
        s.height_at_m1 = pivot - 0.5 * per_level;
        s.per_level_below = s.per_level_above = per_level;
    } else if (has_sea) {
        const double below = sea > lo ? (sea - lo) / 127.5 : 0, above = hi > sea ? (hi - sea) / 127.5 : 0;
        s.per_level_below = below > 0 ? below : above > 0 ? above : 1;
        s.per_level_above = above > 0 ? above : s.per_level_below;
        s.height_at_0 = sea + 0.5 * s.per_level_above;
        s.height_at_m1 = below > 0 ? sea - 0.5 * below : sea;
    } else {
        s.per_level_below = s.per_level_above = keeps_sea ? (hi - sea) / 254.5 : (hi - lo) / 255;
        s.height_at_0 = keeps_sea ? sea + 127.5 * s.per_level_above : lo + 128 * s.per_level_above;
        s.height_at_m1 = s.height_at_0 - s.per_level_below;
    }
}

void place_sea(LevelScale &s, double sea, bool given, bool declared) {
    s.sea = sea;
    if (declared) return;
    const bool within = s.lo <= sea && sea <= s.hi;
    if (given || (s.per_level > 0 ? within : s.lo < sea && sea < s.hi)) {
        s.has_sea = s.keeps_sea = true;
        s.sea_top = -1;
    } else if (s.lo == sea && sea < s.hi) {
        s.keeps_sea = true;
        s.sea_top = -128;
    }
}

Status choose_scale(const std::vector<float> &z, const std::vector<uint8_t> &voids, const RangeChoice &range,
                    const std::string &name, LevelScale &s) {
    if (range.given || range.declared) {
        s.lo = range.given ? range.lo : 0;
        s.hi = range.given ? range.hi : 65535;
        return {};
    }
    // Rows of a whole map on every core, each band's range kept: the same range whatever their order.
    const size_t width = 4096, rows = (z.size() + width - 1) / width;
    std::mutex m;
    float lo = INFINITY, hi = -INFINITY;
    parallel_rows(static_cast<int>(rows), [&](int r0, int r1) {
        float l = INFINITY, h = -INFINITY;
        for (size_t i = r0 * width; i < std::min(z.size(), r1 * width); ++i)
            if (!voids[i]) l = std::min(l, z[i]), h = std::max(h, z[i]);
        std::lock_guard<std::mutex> lock(m);
        lo = std::min(lo, l), hi = std::max(hi, h);
    });
    if (lo > hi) return Status::fail(name + ": no heights: every sample is a void");
    s.lo = lo;
    s.hi = hi;
    return {};
}
