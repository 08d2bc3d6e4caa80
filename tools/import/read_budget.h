// The read budget: what any read may cost, checked before it starts.
#pragma once

#include "common/io.h"
#include "import/place.h"
#include "import/tile_set.h"
#include "sandbox/gate.h"

#include <gdal.h>

#include <string>
#include <vector>

namespace engine {
struct TilePlan;
}

// Input samples a read may take at the resolutions it reads (after overviews): 2^37, about half an
// hour of decoding on two cores. Inputs that claim more are refused, pointing at overviews (gdaladdo).
constexpr double max_read_samples = 137438953472.0;

// Cells a read may work through, in passes over the whole box: a real import reaches each cell
// about once (overlapping tiles a few times), so this many passes means the same tiles listed
// again and again, which would otherwise take minutes before anything showed it.
constexpr double max_cell_passes = 256;

// The most one block of a raster may take in GDAL's cache: a read decodes whole blocks.
constexpr double max_block_bytes = max_decode_bytes;

// Input samples a read of the window sw x sh of `band` onto w x h cells decodes, at the resolution
// GDAL picks for it: the coarsest overview that still has a sample for every cell.
double samples_at_resolution(GDALRasterBandH band, double sw, double sh, int w, int h);

// A planned read checked before any sample is read: `samples` against `max_samples`, and the bytes
// of one of `band`'s blocks (with its companions when the file interleaves them) against
// max_block_bytes. The refusal names `label`, and `hint` says what to do.
Status check_read(const std::string &label, GDALRasterBandH band, double samples, double max_samples,
                  const std::string &hint);

// The plans of a read of `src` placed by `p`, checked before any read is cut from them (a huge
// raster of small blocks would otherwise be cut into more reads than memory holds): at most
// `max_samples` samples to decode, and cells worked through at most max_cell_passes times the box's.
// The refusal names the input, and says what to do.
Status check_plans(const HeightSource &src, const Placement &p, const std::vector<engine::TilePlan> &plans, double max_samples);
