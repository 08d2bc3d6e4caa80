// Reading the heights straight into the grid: each tile once, at its own resolution, its samples
// spread over the cells; and what any read may cost, checked before it starts.
#pragma once

#include "io.h"
#include "place.h"
#include "source.h"

#include <gdal.h>

#include <cstdint>
#include <functional>
#include <vector>

enum class Resampling { automatic, average, bilinear, cubic, nearest };

// Input samples a read may take at the resolutions it reads (after overviews): 2^37, about half an
// hour of decoding on two cores. Inputs that claim more are refused, pointing at overviews (gdaladdo).
constexpr double max_read_samples = 137438953472.0;

// Heights over a grid, in the input's own units; voids flagged (z is 0 there).
struct Field {
    int w = 0, h = 0;
    std::vector<float> z;
    std::vector<uint8_t> voids;
};

// A fractional window of a raster as RasterIO takes it: the whole pixels that cover it, and the
// exact window in the extra argument, so that resampling sees where the cells really fall.
struct Window {
    int x0, y0, w, h;
    GDALRasterIOExtraArg extra;
};
Window window_of(double x, double y, double w, double h, int raster_w, int raster_h, GDALRIOResampleAlg alg);

// Runs fn(thread, band) for bands 0 ... bands-1 on `threads` threads, each band once; stops handing
// out bands after a false. `progress` gets the fraction of bands done, on the calling thread.
bool for_bands(int bands, int threads, const std::function<bool(int thread, int band)> &fn,
               const std::function<void(double)> &progress = {});

// Threads for reading `src`: one for a file that decodes front to back, else one per core.
int reader_threads(const HeightSource &src);

// Reads every tile of `src` into the box of a p.grid_w x p.grid_h field, straight into the cells:
// each sample spread over the cells it covers (or interpolated, when the cells are finer), value
// × weight and weight summed per cell in double precision, divided once at the end. Cells outside
// the box, and cells no valid sample reaches, are voids: NoData, masks and NaN are left out.
// More than `max_samples` to read (never above max_read_samples) is refused before any is read.
// `progress` gets the fraction done, on the calling thread.
Status read_field(const HeightSource &src, const Placement &p, Resampling r, Field &f,
                  const std::function<void(double)> &progress = {}, double max_samples = max_read_samples);

// The most one block of a raster may take in GDAL's cache: a read decodes whole blocks.
constexpr double max_block_bytes = max_decode_bytes;

// Pixels a look at an image's content (is it grey, what is its white) reads at most: a second or so.
constexpr double max_sample_pixels = 16777216.0;

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
