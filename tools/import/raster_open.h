// Opening one raster: a file GDAL reads (an archive looked into, a container at its heights) or a headerless .r16.
#pragma once

#include "common/io.h"
#include "import/gdal_util.h"
#include "sandbox/gdal_env.h"

#include <memory>
#include <string>
#include <vector>

// Opens one file (or a name GDAL resolves, such as /vsizip/...) as a raster: a network source is
// refused, a FIFO or device never waited on, nor anything the gate refuses behind it (see
// vet_name), an archive looked into for its one raster (by its members' names), and a container
// of several (netCDF) opened at its height variable. Raw data shorter than its layout is refused.
// Its georeferencing is not read yet: check_latitudes reads it.
Status open_raster_file(const std::string &path, Dataset &ds, std::string &name);

// A geographic raster `w` x `h` placed by `gt` must stay within the poles (half a cell past them
// for grids centred on a pole); past them its georeferencing is wrong.
Status check_latitudes(const std::string &path, const double gt[6], int w, int h, bool geographic);
// The same for `ds`, opened from `path`, with GDAL's reading of its georeferencing; a companion
// that reading needed and the gate refused fails it, naming it.
Status check_latitudes(const std::string &path, GDALDatasetH ds);

// A headerless .r16 (`size_w` x `size_h`, or square when 0) as a raw VRT band: little-endian
// unsigned 16-bit, rows top first. The VRT, in memory, is kept alive by `owned`.
Status open_r16(const std::string &path, int size_w, int size_h, std::vector<std::unique_ptr<MemFile>> &owned, Dataset &ds,
                std::string &name);

// The size a headerless .r16 file of `bytes` bytes has: the one given, or the square it must be.
Status r16_size(long long bytes, const std::string &name, int &w, int &h);

// Why `path` did not open: what the gate refused behind it, else GDAL's reason.
Status open_failure(const std::string &path);
