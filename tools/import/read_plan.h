// The read plan: each tile's level and axes, the samples of it that reach the box, and the reads that cover them, in order.
#pragma once

#include "common/io.h"
#include "import/kernels.h"
#include "import/place.h"
#include "import/tile_set.h"

#include <array>
#include <vector>

// The read's own parts (this plan, the reader, the schedule, the accumulator); the rest of the
// import reads through read_field.h.
namespace engine {

// One tile as it is read: the level (overview) chosen, its axes in the order of the ground, and
// the samples of it that reach the box.
struct TilePlan {
    const Tile *tile = nullptr;
    int level = -1;             // GDAL's overview index; -1: the full resolution
    int lw = 0, lh = 0;         // that level's size
    Axis x, y;                  // in ground order: sample 0 is the western column, the northern row
    bool flip_x = false, flip_y = false;  // the file runs against the ground on that axis
    long long gx0 = 0, gx1 = 0, gy0 = 0, gy1 = 0;  // the samples, in ground order, that reach the box
    int cx0 = 0, cx1 = 0, cy0 = 0, cy1 = 0;        // the cells they reach
    // Samples [x0, x1) x [y0, y1) (ground order) that other tiles cover too, one range per tile:
    // each of them counts for 1/n where n tiles cover it, so that an overlap is counted once.
    std::vector<std::array<long long, 4>> shared;
    long long samples() const { return gx1 > gx0 && gy1 > gy0 ? (gx1 - gx0) * (gy1 - gy0) : 0; }
};

// One read: a window of one tile, and the cells it adds to.
struct Unit {
    int plan = 0;
    long long gx0 = 0, gy0 = 0;  // its first sample in ground order
    int nx = 0, ny = 0;
    int cx0 = 0, cx1 = 0, cy0 = 0, cy1 = 0;
    long long samples() const { return static_cast<long long>(nx) * ny; }
    long long cells() const { return static_cast<long long>(cx1 - cx0) * (cy1 - cy0); }
};

// Every tile's plan, and the reads that cover them in the order they are added to the grid.
struct Reads {
    std::vector<TilePlan> plans;
    std::vector<Unit> units;
    std::vector<std::pair<int, int>> jobs;  // units [first, second) read by one reader in turn
    bool clamp = false;                     // a cubic kernel: results held within their samples' range
};

// The plans of `src`'s tiles in the box of `p`, checked against the read budget before any read
// is planned (see check_plans).
Status plan_reads(const HeightSource &src, const Placement &p, Resampling r, double max_samples, Reads &reads);

}  // namespace engine
