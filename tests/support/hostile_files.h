// Files built byte by byte whose headers claim what a decoder would take whole or walk for long,
// and files in formats mvx does not read.
#pragma once

#include "tests/support/rasters.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A WebP whose header (VP8X) claims a canvas of w × h pixels, with no image data.
Bytes webp_canvas(uint32_t w, uint32_t h);

// A GIF of a 1 × 1 screen and the frames given (width, height each), each with an empty image.
Bytes gif_frames(const std::vector<std::pair<uint16_t, uint16_t>> &frames);

// A little-endian TIFF (a BigTIFF when `big`) of `n` directories of one entry each, chained one
// after the other.
Bytes tiff_chain(int n, bool big = false);

// An 8-bit BMP of w × h pixels compressed by run lengths, holding one run.
Bytes bmp_rle(int32_t w, int32_t h);

// A FITS file of one w × h image of 16-bit samples.
Bytes fits_image(int w, int h);

// The XML header of a Meta Raster Format file of 256 × 256 bytes whose tiles, read from the
// cached `source`, are kept in `data` and indexed in `index`: what MRF writes as it reads.
std::string mrf_header(const std::string &source, const std::string &data, const std::string &index);
