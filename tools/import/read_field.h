// The read: the heights straight into the grid, each tile once, at its own resolution, its samples spread over the cells.
#pragma once

#include "common/io.h"
#include "import/kernels.h"
#include "import/place.h"
#include "import/read_budget.h"
#include "import/tile_set.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Heights over a grid, in the input's own units; voids flagged (z is 0 there).
struct Field {
    int w = 0, h = 0;
    std::vector<float> z;
    std::vector<uint8_t> voids;
};

// Threads for reading `src`: one for a file that decodes front to back, else one per core.
int reader_threads(const HeightSource &src);

// What the read does with the samples of `src` placed by `p` under `r`, for the summary: how many
// cells wide they are, and the kernel that spreads them (the finest tile's, for a tile set).
std::string resampling_note(const HeightSource &src, const Placement &p, Resampling r);

// Reads every tile of `src` into the box of a p.grid_w x p.grid_h field, straight into the cells:
// each sample spread over the cells it covers (or interpolated, when the cells are finer), value
// × weight and weight summed per cell in double precision, divided once at the end; interpolated
// by the cubic, a height stays within the range of the samples around its cell. Cells outside
// the box, and cells no valid sample reaches, are voids: NoData, masks and NaN are left out.
// More than `max_samples` to read (never above max_read_samples), or cells reached more than
// max_cell_passes times the box's, is refused before any is read. `progress` gets the fraction
// done, on the calling thread.
Status read_field(const HeightSource &src, const Placement &p, Resampling r, Field &f,
                  const std::function<void(double)> &progress = {}, double max_samples = max_read_samples);
