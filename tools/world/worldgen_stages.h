// The phases of the world generator's river carving, one by one, for its tests; users want worldgen.h.
#pragma once

#include <vector>

// All on an nx × ny lattice, row-major, each point joined to its 8 neighbours; heights in raw
// elevation, the coast at 0.
namespace worldgen {

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

}  // namespace worldgen
