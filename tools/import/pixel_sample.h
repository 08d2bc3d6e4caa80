// Bounded looks at an image's pixels, for what it holds (is it grey, what is its white).
#pragma once

#include "common/io.h"

#include <gdal.h>

#include <cstddef>
#include <functional>
#include <string>

// Pixels a look at an image's content reads at most: a second or so.
constexpr double max_sample_pixels = 16777216.0;

// A bounded sample of the pixels of bands 1 ... n of `ds`, for checks of their content: the full
// resolution when it has at most max_sample_pixels, else the finest overview that has, else blocks
// spread evenly over the coarsest (for a format that decodes `sequential`ly, its first rows: a later
// row costs every one before it). `fn` gets each piece read as n runs of `count` values, band after
// band, and returns false to stop. `every_pixel` tells whether every pixel was seen.
Status sample_pixels(const std::string &label, GDALDatasetH ds, int n, bool sequential,
                     const std::function<bool(const double *values, size_t count)> &fn, bool &every_pixel);
