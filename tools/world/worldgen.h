// The default world: a deterministic terrain for a seed, at any size.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

constexpr uint64_t default_seed = 684;

// Fraction done, 0 … 1, reported from the calling thread.
using ProgressFn = std::function<void(double)>;

// Heights on the map's level scale (-128 … 127, sea level 0), unquantised, w × h row-major.
// The world is laid over the full 6144 × 4096 map whatever the size, so a smaller run is the same
// world seen coarser, with the detail finer than its cells left out. `threads` 0 uses every core;
// the result does not depend on it.
std::vector<float> world_heights(int w, int h, uint64_t seed, int threads = 0, const ProgressFn &progress = {});

// A window of the full-size world, columns x0 … x0+w-1 and rows y0 … y0+h-1: the same values that
// world_heights(grid_columns, grid_rows, seed) has there, without computing the rest.
std::vector<float> world_window(int x0, int y0, int w, int h, uint64_t seed, int threads = 0);
