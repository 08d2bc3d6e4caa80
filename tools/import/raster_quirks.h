// Raster quirks: grey colour images, rotated georeferencing, 16-bit interlaced PNGs' byte order, front-to-back formats.
#pragma once

#include "common/io.h"
#include "import/tile_set.h"
#include "sandbox/gdal_env.h"

#include <string>

// Whether GDAL's driver `driver` (its short name) decodes `name` only front to back, so that two
// readers would each decode the whole file.
bool decodes_sequentially(const std::string &driver, const std::string &name);

// The raster `ds`, opened from `path` as `name`, made one north-up band of heights: a 16-bit
// interlaced PNG's samples put back in order (GDAL before 3.10 swaps them), a palette or colour
// image taken only when every pixel looked at is grey, a rotated raster warped north-up. `ds` and
// `name` then stand for what is read; the notes and in-memory files it takes go to `src`.
Status apply_quirks(const std::string &path, HeightSource &src, Dataset &ds, std::string &name);
