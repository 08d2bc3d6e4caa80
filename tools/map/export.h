// Map exports: PNG previews, heights as 16-bit levels, and heights in metres as a GeoTIFF for GIS.
#pragma once

#include "map/mapfile.h"
#include "map/sidecar.h"

#include <cstdint>
#include <string>
#include <vector>

// PNG text keyword and value that mark a level-scale export (16-bit sample = (height + 128) × 257).
extern const char levels_key[];
extern const char levels_value[];

// Size of a map shrunk by `scale` (partial blocks at the edges count as whole pixels).
inline int scaled(int n, int scale) { return (n + scale - 1) / scale; }

// The colours, each pixel the mean of a scale × scale block, 5-bit channels spread over 0 … 255:
// 3 bytes a pixel, scaled(grid_columns) × scaled(grid_rows).
std::vector<uint8_t> preview_rgb(const Map &m, int scale);

// The heights, each pixel the rounded mean of its block's cells with data (of all of them when
// there are none), as 16-bit levels (height + 128) × 257, so that -128 … 127 spans 0 … 65535;
// `data`, when given, gets 1 for each pixel whose block has data, 0 for those all void.
std::vector<uint16_t> height_samples(const Map &m, int scale, std::vector<uint8_t> *data = nullptr);

// The heights of the sidecar's box (checked by check_sidecar) in the units it records (metres for
// imports of georeferenced data), each pixel the mean of the non-void cells of a scale × scale
// block, `nodata` where all are voids: scaled(box_w) × scaled(box_h), row-major.
std::vector<float> box_heights(const Map &m, const Sidecar &s, int scale, float nodata);

// Whether every height a sidecar's levels stand for is finite as a float32, the type a GeoTIFF of
// the heights holds; a failure names `name` (the sidecar) and the number.
Status check_float_heights(const Sidecar &s, const std::string &name);

// Writes box_heights as a float32 GeoTIFF (NoData -32768) with the box's coordinate system and
// geotransform, through a temporary file; a sidecar that fails check_sidecar or
// check_float_heights is refused.
Status export_geotiff(const Map &m, const Sidecar &s, const std::string &path, int scale);

struct ExportOptions {
    std::string map = "datas.mvx";
    std::string out;
    int scale = 1;
    bool heights = false;
    bool quiet = false;  // nothing printed unless it fails
};

// What an export reads, never to be overwritten by it: the map and its sidecar.
std::vector<std::string> export_inputs(const ExportOptions &o);

extern const char export_summary[];
extern const char export_usage[];

// Options as `mvx export` takes them; `help` set on --help.
Status parse_export(int argc, char **argv, ExportOptions &o, bool &help);

// Reads the map and writes the image; `done` describes what was written. The caller checks the
// output against export_inputs first.
Status export_map(const ExportOptions &o, std::string &done);

// Writes the preview (or with `heights` the 16-bit greyscale heights, marked as map levels so
// that import reads them back exactly, with an alpha channel transparent on voids when the map
// has any) to `path` through a temporary file.
Status export_png(const Map &m, const std::string &path, int scale, bool heights);
