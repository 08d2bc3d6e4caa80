// Reading the heights straight at the grid's resolution through GDAL, in row bands on every core.
#pragma once

#include "io.h"
#include "place.h"
#include "source.h"

#include <gdal.h>

#include <cstdint>
#include <functional>
#include <vector>

enum class Resampling { automatic, average, bilinear, cubic, nearest };

// Input samples a read may take at the resolution it reads (after overviews): 2^33, a few minutes
// of work. A file that claims more is refused, pointing at overviews (gdaladdo).
constexpr double max_read_samples = 8589934592.0;

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

// Threads for reading `src`: one for formats that decode front to back, else one per core.
int reader_threads(const HeightSource &src);

// The resampling `automatic` stands for: the area average when the cells are coarser than the
// input, bilinear when finer.
Resampling resolve(Resampling r, const Placement &p);

// Reads the placed part of `src` into the box of a p.grid_w x p.grid_h field; cells outside the
// box are voids. Voids are left out of every average and interpolation: a cell is a void only
// where no valid input covers it. More than `max_samples` to read (never above max_read_samples)
// is refused. `progress` gets the fraction done, on the calling thread.
Status read_field(const HeightSource &src, const Placement &p, Resampling r, Field &f,
                  const std::function<void(double)> &progress = {}, double max_samples = max_read_samples);
