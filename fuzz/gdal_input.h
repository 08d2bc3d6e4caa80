// How the GDAL fuzz target's input names its format, shared with the seed writer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct GdalFormat {
    const char *name;    // the in-memory file's name: some formats are known by it
    size_t exact_size;   // 0, or the size the format must have (shorter inputs are padded)
};

inline const GdalFormat gdal_formats[] = {
    {"in.tif", 0}, {"in.png", 0}, {"in.asc", 0}, {"in.img", 0}, {"in.vrt", 0}, {"N45E006.hgt", 2 * 1201 * 1201},
};
constexpr size_t gdal_format_count = sizeof gdal_formats / sizeof gdal_formats[0];

// Byte 0 picks the format (modulo 16, by this table), the file is what follows. An SRTM tile
// always reads 1.4 million samples, so it gets one share in 16, lest it take most of the time.
constexpr uint8_t gdal_format_of[16] = {0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 3, 3, 4, 4, 4, 5};

struct GdalInput {
    const GdalFormat *format;
    const uint8_t *file;
    size_t n;
};

inline GdalInput split_gdal(const uint8_t *d, size_t n) {
    if (n == 0) return {&gdal_formats[0], d, 0};
    return {&gdal_formats[gdal_format_of[d[0] % 16]], d + 1, n - 1};
}

// The input for `file` in gdal_formats[format].
inline std::vector<uint8_t> join_gdal(size_t format, const std::vector<uint8_t> &file) {
    uint8_t pick = 0;
    while (gdal_format_of[pick] != format) ++pick;
    std::vector<uint8_t> b(file.size() + 1);
    b[0] = pick;
    std::copy(file.begin(), file.end(), b.begin() + 1);
    return b;
}
