// A raster's coordinate system and unit of height, GeoTIFFs with the same georeferencing keys sharing the first answer.
#pragma once

#include <gdal.h>

#include <string>

struct Crs {
    std::string wkt;
    bool geographic = false;
    std::string unit;  // of height, as the first band names it
};

// The coordinate system and unit of height of `ds`, opened from `path`. GDAL works a GeoTIFF's out
// from its keys through PROJ's database, most of the cost of opening a small tile: GeoTIFFs with
// the same keys share the first answer.
Crs crs_of(const std::string &path, GDALDatasetH ds);
