// Colours from an image over the heights: any raster GDAL reads, placed by its georeferencing or stretched.
#pragma once

#include "common/io.h"
#include "import/place.h"
#include "import/tile_set.h"

#include <cstdint>
#include <string>
#include <vector>

// The image's colours in the heights' box, dithered to the map's 5-bit channels. When the image
// and the heights are both georeferenced the image is warped onto the box (any coordinate
// system); otherwise it is stretched over the same part of the box the heights fill. `bands`
// picks red, green and blue (1-based; empty: the image's own, a grey or palette band expanded).
// 8-bit samples are taken as they are, wider ones scaled from 0 to their largest value. Only
// cells where the image has data are written (`covered` set to 1); the rest keep their colour.
Status read_imagery(const std::string &path, const std::vector<int> &bands, const HeightSource &heights,
                    const Placement &p, std::vector<uint16_t> &colour, std::vector<uint8_t> &covered,
                    std::vector<std::string> &notes);
