// What any read may cost, checked before it starts, and bounded looks at an image's pixels.
#pragma once

#include "gate.h"
#include "io.h"

#include <gdal.h>

#include <cstddef>
#include <functional>
#include <string>

// Input samples a read may take at the resolutions it reads (after overviews): 2^37, about half an
// hour of decoding on two cores. Inputs that claim more are refused, pointing at overviews (gdaladdo).
constexpr double max_read_samples = 137438953472.0;

// Cells a read may work through, in passes over the whole box: a real import reaches each cell
// about once (overlapping tiles a few times), so this many passes means the same tiles listed
// again and again, which would otherwise take minutes before anything showed it.
constexpr double max_cell_passes = 256;

// The most one block of a raster may take in GDAL's cache: a read decodes whole blocks.
constexpr double max_block_bytes = max_decode_bytes;

// Pixels a look at an image's content (is it grey, what is its white) reads at most: a second or so.
constexpr double max_sample_pixels = 16777216.0;

// A fractional window of a raster as RasterIO takes it: the whole pixels that cover it, and the
// exact window in the extra argument, so that resampling sees where the cells really fall.
struct Window {
    int x0, y0, w, h;
    GDALRasterIOExtraArg extra;
};
Window window_of(double x, double y, double w, double h, int raster_w, int raster_h, GDALRIOResampleAlg alg);

// Input samples a read of the window sw x sh of `band` onto w x h cells decodes, at the resolution
// GDAL picks for it: the coarsest overview that still has a sample for every cell.
double samples_at_resolution(GDALRasterBandH band, double sw, double sh, int w, int h);

// A planned read checked before any sample is read: `samples` against `max_samples`, and the bytes
// of one of `band`'s blocks (with its companions when the file interleaves them) against
// max_block_bytes. The refusal names `label`, and `hint` says what to do.
Status check_read(const std::string &label, GDALRasterBandH band, double samples, double max_samples,
                  const std::string &hint);

// A bounded sample of the pixels of bands 1 ... n of `ds`, for checks of their content: the full
// resolution when it has at most max_sample_pixels, else the finest overview that has, else blocks
// spread evenly over the coarsest (for a format that decodes `sequential`ly, its first rows: a later
// row costs every one before it). `fn` gets each piece read as n runs of `count` values, band after
// band, and returns false to stop. `whole` tells whether every pixel was seen.
Status sample_pixels(const std::string &label, GDALDatasetH ds, int n, bool sequential,
                     const std::function<bool(const double *values, size_t count)> &fn, bool &whole);
