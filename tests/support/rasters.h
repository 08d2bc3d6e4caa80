// Test inputs built byte by byte (zlib only), independent of the libpng and libtiff the readers use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A PNG of w × h pixels; `raw` holds the rows unfiltered, samples big-endian as PNG stores them.
// Colour type 3 needs `palette` (RGB triples). `extra` chunks (complete, with length and CRC)
// go before IDAT.
struct PngSpec {
    uint32_t w = 0, h = 0;
    int depth = 8, type = 0;
    bool interlace = false;
    Bytes raw, palette, extra;
};
Bytes png_file(const PngSpec &s);
Bytes png_chunk(const char type[4], const Bytes &data);

// An uncompressed TIFF of one IFD. `samples` are in host order; they are written in the file's
// byte order. Strips of rows_per_strip rows, or tiles when tile > 0 (tile × tile, padded).
struct TiffSpec {
    bool big_endian = false;
    uint32_t w = 0, h = 0;
    int bits = 16, format = 1, spp = 1, photometric = 1;  // format: 1 unsigned, 2 signed, 3 float
    uint32_t rows_per_strip = 0;                         // 0: one strip
    uint32_t tile = 0;
    std::string nodata;                                  // GDAL NoData tag, when not empty
    bool colormap = false;                               // a palette (grey ramp), for photometric 3
    uint32_t offset_shift = 0;                           // added to every data offset (corrupt files)
    Bytes samples;                                       // w × h × spp samples of bits / 8 bytes
};
Bytes tiff_file(const TiffSpec &s);

// Host-order sample bytes of a list of values.
template <typename T> Bytes as_bytes(const std::vector<T> &v) {
    Bytes b(v.size() * sizeof(T));
    for (size_t i = 0; i < v.size(); ++i)
        for (size_t k = 0; k < sizeof(T); ++k) b[i * sizeof(T) + k] = reinterpret_cast<const uint8_t *>(&v[i])[k];
    return b;
}

void write_bytes(const std::string &path, const Bytes &b);
