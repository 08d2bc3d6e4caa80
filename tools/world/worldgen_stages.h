// The world generator's stages, a file each, and its river carving's phases (tests run them too); users want worldgen.h.
#pragma once

#include "world/lattice.h"
#include "world/octaves.h"

#include <functional>
#include <vector>

// Every stage works on its own lattice in full-map cell coordinates (see worldgen.cpp).
namespace worldgen {

// Stage A's channels: the warped position, the continent value, the mountainness.
enum { A_QX, A_QY, A_LAND, A_MOUNT, A_CH };

// Stage B's: raw elevation, and what stage C needs to go on: the ridges' height, the ridged
// octaves' weight, the hills' height.
enum { B_Z, B_RIDGE, B_WEIGHT, B_HILL, B_CH };

// Sea level and the height scale, the same whatever is being generated.
struct Scale {
    float sea = 0;    // continent value of the coast
    float shift = 0;  // raw elevation of sea level
    float level = 1;  // levels per unit of raw elevation above sea level
    float deep = 1;   // raw depth at which the sea floor is 63% of the way to -128
};

// The output's cells: full-map position of output cell (0, 0) and full-map cells per output cell.
struct Frame {
    float u0, v0, sx, sy;
    int w, h;
};

// ---- Stage A: warp, continents, mountainness ----

// Row j of lattice `la` (A_CH channels a point).
void stage_a_row(Lattice &la, int j, const Seeds &sd);

// ---- Stage B: mountains and hills ----

// Raw elevation (coast at 0 before the final shift) and what stage C needs, at n points (u, v) with
// A's values there (a: n × A_CH), keeping the octaves a lattice of spacing `s` can carry. out: n × B_CH.
void stage_b_row(const float *u, const float *v, const float *a, int n, const Seeds &sd, float sea, float s, float *out);

// Stage B at every point of lattice l, on A interpolated, keeping what spacing `s` can carry; plus
// the carving of the river valleys, interpolated, when given. `tick` gets the rows done.
void fill_b(const Lattice &la, Lattice &l, const Seeds &sd, const Scale &k, float s, const Lattice *carve, int threads,
            const std::function<void(int)> &tick);

// ---- The height scale ----

// Sea level and the height scale, from stages A and B on the lattice of A: quantiles of the whole
// map that stay the same whatever is being generated.
Scale calibrate(const Lattice &la, const Seeds &sd, int threads);

// ---- Stage E: river valleys, phase by phase ----
// All on an nx × ny lattice, row-major, each point joined to its 8 neighbours; heights in raw
// elevation, the coast at 0.

// How every point drains: toward the sea or the lattice's edge, depressions filled.
struct Drainage {
    std::vector<float> fill;  // heights raised to where every depression spills
    std::vector<int> parent;  // the point each one drains to; -1 where the water leaves the lattice
    std::vector<int> order;   // every point the flood reached, each after the one it drains to
};

// Priority flood from the coasts and the edge, lowest first.
Drainage flood(const std::vector<float> &z, int nx, int ny);

// How many points drain through each point, itself included.
std::vector<float> drainage_areas(const Drainage &d);

// Heights lowered to the slope a river leaves, `steepest` per lattice step for a point draining
// only itself and gentler as the area grows; never above the filled height nor below the sea.
std::vector<float> river_floor(const Drainage &d, const std::vector<float> &area, int nx, float steepest);

// The (non-positive) change in height that the floor asks of each land point: all of it where
// `mountain` is 1, a share on plains where it is 0.
std::vector<float> river_cuts(const Drainage &d, const std::vector<float> &low, const std::vector<float> &mountain);

// Holds cuts on land to `deepest` or shallower, and leaves the sea as it is.
void cap_cuts(std::vector<float> &cut, const std::vector<float> &fill, const std::vector<float> &deepest);

// Widens the cuts on land into valleys whose depth falls off by `spread` per lattice step.
void widen_cuts(std::vector<float> &cut, const std::vector<float> &fill, int nx, int ny, float spread);

// Rounds the V of each valley: a [1 2 1] / 4 filter along each axis, twice; points on the edge
// are filtered along it only.
void round_cuts(std::vector<float> &cut, int nx, int ny);

// River valleys: every land point of lattice l (B_CH channels) drains along a tree that reaches
// the sea (or the map's edge), and is lowered toward the floor its river would leave. Returns the
// (non-positive) change in raw elevation at each point of l.
Lattice carve_valleys(const Lattice &l, const Scale &k);

// ---- Stage C: the finest octaves and the level range ----

// The output cells from lattice B into z (fr.w × fr.h), each row interpolated down the columns
// once, then along. `tick` gets the rows done.
void stage_c(const Frame &fr, const Lattice &lb, const Seeds &sd, const Scale &k, float *z, int threads,
             const std::function<void(int)> &tick);

}  // namespace worldgen
