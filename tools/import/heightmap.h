// Height rasters from the formats terrain tools exchange: greyscale PNG, raw .r16, SRTM .hgt, GeoTIFF.
#pragma once

#include "io.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// More samples than this are refused before anything is allocated (a float and a void flag each: 1.25 GiB).
constexpr uint64_t max_samples = 1ULL << 28;

// A raster of heights in the file's own units, row 0 at the top.
struct HeightGrid {
    int w = 0, h = 0;
    std::vector<float> z;
    std::vector<uint8_t> voids;  // 1 where the file has no data; z is 0 there
    // The input range the file itself declares (a PNG from `mvx export --heights`); used when
    // the user gives none, instead of the data's own minimum and maximum.
    bool has_range = false;
    double range_lo = 0, range_hi = 0;
    std::vector<std::string> notes;  // conversions the reader made, to tell the user
};

// An 8-bit RGB image, row-major, 3 bytes a pixel.
struct RgbImage {
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
};

enum class HeightFormat { unknown, png, tiff, hgt, r16 };

// The format by its first bytes (PNG, TIFF), else by the name's extension (.hgt, .r16).
HeightFormat detect_format(const uint8_t *data, size_t n, const std::string &name);

// Readers of a whole file in memory. `name` only labels messages. Each checks sizes before
// allocating and fails, naming the file and the fault, on anything it cannot read fully.
// Images of more than `cap` samples are refused; a caller that must stay small (a fuzzer) lowers
// it, and a higher one than max_samples counts as max_samples.
Status read_png_heights(const uint8_t *data, size_t n, const std::string &name, HeightGrid &g,
                        uint64_t cap = max_samples);
Status read_tiff(const uint8_t *data, size_t n, const std::string &name, HeightGrid &g, uint64_t cap = max_samples);
Status read_hgt(const uint8_t *data, size_t n, const std::string &name, HeightGrid &g, uint64_t cap = max_samples);
// w and h of 0 infer a square.
Status read_r16(const uint8_t *data, size_t n, const std::string &name, HeightGrid &g, int w = 0, int h = 0,
                uint64_t cap = max_samples);

// Any PNG as 8-bit RGB (palette, grey and alpha are converted; 16-bit samples are scaled).
Status read_png_rgb(const uint8_t *data, size_t n, const std::string &name, RgbImage &img, uint64_t cap = max_samples);


// Reads a height file of any supported format; `size_w`, `size_h` are for .r16 (0: infer).
Status read_heights(const std::string &path, HeightGrid &g, int size_w = 0, int size_h = 0);
