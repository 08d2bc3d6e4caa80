// A GeoTIFF's own tags, read through GDAL's handle on it: what GDAL would work out from them, compared as bytes.
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
