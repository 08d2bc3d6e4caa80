// Lattices of points over the full map, several channels a point, and C1 cubic interpolation between them.
#pragma once

#include <cstddef>
#include <vector>

namespace worldgen {

// A lattice of points `sx` × `sy` cells apart, first point at (i0 sx, j0 sy), with `ch` channels per
// point.
struct Lattice {
    int i0 = 0, j0 = 0, nx = 0, ny = 0, ch = 0;
    float sx = 1, sy = 1;
    std::vector<float> v;
    float *at(int i, int j) { return &v[(static_cast<size_t>(j) * nx + i) * ch]; }
    const float *at(int i, int j) const { return &v[(static_cast<size_t>(j) * nx + i) * ch]; }
};

// A lattice covering full-map cells [u0, u1) × [v0, v1) with the two extra points on each side
// that cubic interpolation needs.
Lattice cover(float u0, float v0, float u1, float v1, float sx, float sy, int ch);

// Where a full-map coordinate falls between lattice points: the index (in the lattice) of the
// point before it and the Catmull-Rom weights of the four points around it. The curve passes
// through the samples with a continuous derivative.
struct Tap {
    int i;
    float w[4];
};

// The taps of a position along the x (or y) axis of lattice l, held inside it: points in the
// margin of a coarser lattice may lie beyond the margin of a finer one.
Tap tap_x(const Lattice &l, float u) noexcept;
Tap tap_y(const Lattice &l, float v) noexcept;

// One lattice row interpolated at row position ty: nx × ch values.
void column_pass(const Lattice &l, const Tap &ty, float *out) noexcept;

// Channel c of a column-interpolated row at column position tx.
inline float row_pass(const float *row, int ch, int c, const Tap &tx) {
    const float *p = row + static_cast<size_t>(tx.i - 1) * ch + c;
    return tx.w[0] * p[0] + tx.w[1] * p[ch] + tx.w[2] * p[2 * ch] + tx.w[3] * p[3 * ch];
}

// Scratch rows for one thread.
struct ScratchRows {
    std::vector<float> buf;
    int n;
    explicit ScratchRows(int n, int count) : buf(static_cast<size_t>(n) * count), n(n) {}
    float *operator[](int r) { return &buf[static_cast<size_t>(r) * n]; }
};

}  // namespace worldgen
