// The tile set: each input opened as a tile (footprint, coordinate system, unit of height), and the raster of their union.
#pragma once

#include "common/io.h"
#include "import/gdal_util.h"
#include "import/tiff_file.h"
#include "sandbox/gdal_env.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What was opened to describe a tile: GDAL's dataset, or for a tile alike the first whose blocks
// mvx decodes itself, libtiff's handle alone (GDAL opens it only if a block needs it).
struct Opening {
    Dataset ds;
    std::unique_ptr<TiffFile> tiff;
};

// An opening handed from the thread that made it to the one that reads the tile first.
class Handoff {
public:
    explicit Handoff(Opening o) : o_(std::move(o)) {}
    Opening take() {
        std::lock_guard<std::mutex> lock(m_);
        return std::move(o_);
    }

private:
    std::mutex m_;
    Opening o_;
};

// One file of the heights, as each reader reopens it, and what its first band holds.
struct Tile {
    std::string path;                   // as the user named it (or found it in a directory)
    std::string name;                   // what readers pass to GDAL: the path, a /vsi path or an in-memory VRT
    int w = 0, h = 0;
    double gt[6] = {0, 1, 0, 0, 0, 1};  // pixel to coordinates; axis-aligned, rows and columns either way round
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // its extent in the heights' coordinates
    double scale = 1, offset = 0;       // what a sample stands for: sample × scale + offset, in the first tile's unit
    bool has_nodata = false;
    double nodata = 0;
    bool masked = false;                // a mask band (or alpha) says where it has data
    std::vector<std::pair<int, int>> overviews;  // their sizes, in GDAL's order
    int block_w = 1, block_h = 1;       // GDAL's block: reads are cut along these
    bool sequential = false;            // the format decodes front to back only: one reader, rows in order
    std::shared_ptr<Handoff> opened;    // what was opened to describe it, for its first reader (the first few thousand tiles)
};

// The heights to import: one file or many tiles, and the one north-up raster they make together.
struct HeightSource {
    std::vector<std::string> inputs;  // the files, as named or found
    std::string label;                // for messages: the input, or "A.tif and 3 more tiles"
    std::vector<Tile> tiles;
    int w = 0, h = 0;                 // the union of the tiles at the finest resolution, north-up
    double gt[6] = {0, 1, 0, 0, 0, 1};  // its pixel to coordinates
    std::string driver;               // GDAL's short name for the first tile's format
    bool georeferenced = false;
    std::string wkt;                  // the coordinate system; empty when the file names none
    double z_metres = 1;              // metres per unit of height
    bool z_in_metres = false;         // the unit is known (or, being georeferenced, taken as metres)
    bool map_levels = false;          // written by mvx export --heights: the samples are map levels
    bool sequential = false;          // one file that decodes front to back only
    std::vector<std::string> notes;   // what the user should know (flips, warps, choices made)
    std::vector<std::unique_ptr<MemFile>> owned;  // in-memory VRTs behind tiles' names
};

// Opens the inputs: one file of any format GDAL reads (zipped, gzipped or in a tar archive too),
// a headerless .r16 (`size_w` x `size_h`, or square when 0), or any number of georeferenced tiles,
// those in another coordinate system than the first warped into it. A file naming a network source
// is refused before anything is fetched. Failures name the file and give GDAL's reason.
Status open_heights(const std::vector<std::string> &paths, int size_w, int size_h, HeightSource &src);
