// A GeoTIFF's own tags: what GDAL would work out from them, compared as bytes.
#pragma once

#include <gdal.h>

#include <cstdint>
#include <string>

typedef struct tiff TIFF;

// GDAL's libtiff handle on a GeoTIFF dataset, standing at its full image (not at an overview's or
// a mask's); null for any other dataset.
TIFF *full_image(GDALDatasetH ds);

// A tag's value as the file holds it, in bytes (a text, or an array of numbers in memory order);
// empty when absent, or not a text or an array.
std::string tag_bytes(TIFF *t, uint32_t tag);

// What a tile that is a plain GeoTIFF shares with others alike, read from its tags alone.
struct TagSetup {
    // Its layout, NoData, GDAL's metadata, georeferencing keys and cell size, and the corner its
    // tie point names, as bytes; empty unless it is a GeoTIFF of one band in one image (no
    // overview, mask or sub-image inside) placed by a tie point and a cell size, with no companion
    // beside it (no .aux.xml, .ovr, .msk or world file). Tiles of one key differ only in where
    // they lie: GDAL reads the same from them.
    std::string key;
    double gt[6] = {0, 1, 0, 0, 0, 1};  // its geotransform, worked out from its tags as GDAL does
};
// From a GeoTIFF's image that `t` stands at (GDAL's handle at the full image, or libtiff's alone),
// `name` being how GDAL would open it.
TagSetup tag_setup(TIFF *t, const std::string &name);
