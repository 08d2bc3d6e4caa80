// Height inputs opened through GDAL: any raster file it reads, archives, raw .r16 grids, and tiles as one mosaic.
#pragma once

#include "gdal_env.h"
#include "io.h"

#include <memory>
#include <string>
#include <vector>

// The heights to import, as one north-up raster however many files they came in.
struct HeightSource {
    std::vector<std::string> inputs;  // as the user named them
    std::string label;                // for messages: the input, or "A.tif and 3 more tiles"
    std::string open_name;            // what each reader passes to GDALOpen
    int w = 0, h = 0;                 // raster size
    std::string driver;               // GDAL's short name for the format
    bool georeferenced = false;
    double gt[6] = {0, 1, 0, 0, 0, 1};  // pixel to coordinates, north-up
    std::string wkt;                  // the coordinate system; empty when the file names none
    double z_metres = 1;              // metres per unit of height
    bool z_in_metres = false;         // the unit is known (or, being georeferenced, taken as metres)
    bool levels = false;              // written by mvx export --heights: the samples are map levels
    bool sequential = false;          // the format decodes front to back only: one reader at a time
    std::vector<std::string> notes;   // what the user should know (flips, warps, choices made)
    std::vector<std::unique_ptr<MemFile>> owned;  // in-memory VRTs behind open_name
    Dataset ds;                       // open_name, opened: the first reader's handle
};

// Opens the inputs: one file of any format GDAL reads (zipped, gzipped or in a tar archive too),
// a headerless .r16 (`size_w` x `size_h`, or square when 0), or several georeferenced tiles in
// one coordinate system, placed as one mosaic. A file naming a network source is refused before
// anything is fetched. Failures name the file and give GDAL's reason.
Status open_heights(const std::vector<std::string> &paths, int size_w, int size_h, HeightSource &src);

// Opens one file (or a name GDAL resolves, such as /vsizip/...) as a raster: a network source is
// refused, a FIFO or device never waited on, nor anything the gate refuses behind it (see
// vet_name), an archive looked into for its one raster (by its members' names), and a container
// of several (netCDF) opened at its height variable. Raw data shorter than its layout and
// latitudes past the poles are refused.
Status open_raster_file(const std::string &path, Dataset &ds, std::string &name);

// The size a headerless .r16 file of `bytes` bytes has: the one given, or the square it must be.
Status r16_size(long long bytes, const std::string &name, int &w, int &h);
