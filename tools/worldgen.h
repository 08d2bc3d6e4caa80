// The default world: a deterministic terrain for a seed, at any size.
#pragma once

#include <cstdint>
#include <vector>

constexpr uint64_t default_seed = 1;

// Heights on the map's level scale (-128 … 127, sea level 0), unquantised, w × h row-major.
std::vector<float> world_heights(int w, int h, uint64_t seed);
