// Lattices of points over the full map, several channels a point, and C1 cubic interpolation between them.
#include "world/lattice.h"

#include <algorithm>
#include <cmath>

namespace worldgen {

namespace {

// The taps of full-map coordinate u on a lattice of spacing `step` whose first point is `first`.
Tap tap(float u, float step, int first) {
    const float g = u / step, f = std::floor(g), t = g - f;
    Tap k;
    k.i = static_cast<int>(f) - first;
    k.w[0] = t * (-0.5f + t * (1 - 0.5f * t));
    k.w[1] = 1 + t * t * (-2.5f + 1.5f * t);
    k.w[2] = t * (0.5f + t * (2 - 1.5f * t));
    k.w[3] = t * t * (-0.5f + 0.5f * t);
    return k;
}

}  // namespace

Lattice cover(float u0, float v0, float u1, float v1, float sx, float sy, int ch) {
    Lattice l;
    l.sx = sx, l.sy = sy, l.ch = ch;
    l.i0 = static_cast<int>(std::floor(u0 / sx)) - 2;
    l.j0 = static_cast<int>(std::floor(v0 / sy)) - 2;
    l.nx = static_cast<int>(std::ceil(u1 / sx)) + 3 - l.i0;
    l.ny = static_cast<int>(std::ceil(v1 / sy)) + 3 - l.j0;
    l.v.assign(static_cast<size_t>(l.nx) * l.ny * ch, 0.0f);
    return l;
}

Tap tap_x(const Lattice &l, float u) noexcept {
    return tap(std::clamp(u, l.sx * static_cast<float>(l.i0 + 1), l.sx * static_cast<float>(l.i0 + l.nx - 3)), l.sx, l.i0);
}
Tap tap_y(const Lattice &l, float v) noexcept {
    return tap(std::clamp(v, l.sy * static_cast<float>(l.j0 + 1), l.sy * static_cast<float>(l.j0 + l.ny - 3)), l.sy, l.j0);
}

void column_pass(const Lattice &l, const Tap &ty, float *out) noexcept {
    const size_t n = static_cast<size_t>(l.nx) * l.ch;
    const float *r[4];
    for (int b = 0; b < 4; ++b) r[b] = l.at(0, ty.i - 1 + b);
    for (size_t c = 0; c < n; ++c) out[c] = ty.w[0] * r[0][c] + ty.w[1] * r[1][c] + ty.w[2] * r[2][c] + ty.w[3] * r[3][c];
}

}  // namespace worldgen
