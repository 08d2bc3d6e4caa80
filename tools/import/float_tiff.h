// Float GeoTIFFs in DEFLATE with the floating-point predictor, read block by block with the predictor undone in vector code.
#pragma once

#include <gdal.h>

#include <cstdint>
#include <memory>
#include <vector>

struct libdeflate_decompressor;
typedef struct tiff TIFF;

// Elevation is often published as float32 GeoTIFFs in DEFLATE with the floating-point predictor.
// libtiff undoes that predictor a byte at a time, through memory, which costs more than inflating
// the data: this reads such a file's blocks through GDAL's own handle on it (no second open, the
// same gate), inflates them and undoes the predictor sixteen bytes at a time, to the same floats.
class FloatTiffBlocks {
public:
    FloatTiffBlocks();
    ~FloatTiffBlocks();
    FloatTiffBlocks(const FloatTiffBlocks &) = delete;
    FloatTiffBlocks &operator=(const FloatTiffBlocks &) = delete;

    // Ready to read the first band of `ds` when it is such a file: a GeoTIFF of one float32 band,
    // DEFLATE with the floating-point predictor, at its full resolution. False otherwise: GDAL reads it.
    bool attach(GDALDatasetH ds);
    // The same for the image that `t` stands at, libtiff's own handle on the file.
    bool attach(TIFF *t);
    // Whether every block under the window is left out of the file, as a sparse file leaves
    // them: GDAL calls such a window empty.
    bool absent(int x0, int y0, int nx, int ny) const;
    // The image's size and the block reads are cut along, once attached.
    struct Layout {
        uint32_t w, h, block_w, block_h;
    };
    Layout layout() const { return {width_, height_, block_w_, block_h_}; }
    // Samples x0 ... x0+nx-1 of rows y0 ... y0+ny-1 into out, nx a row, as GDAL would read them.
    // False when a block cannot be read this way (one a sparse file leaves out, one cut short or
    // corrupt, or GDAL's handle gone to another of the file's images): GDAL then reads the window
    // its own way, and says why when that fails too.
    bool read(int x0, int y0, int nx, int ny, float *out);

private:
    bool inflate(uint32_t block, size_t bytes);

    TIFF *tif_ = nullptr;
    uint64_t directory_ = 0;  // the image's directory in the file
    bool tiled_ = false;
    uint32_t width_ = 0, height_ = 0, block_w_ = 0, block_h_ = 0;
    std::vector<uint8_t> packed_, block_;
    struct Free {
        void operator()(libdeflate_decompressor *d) const;
    };
    std::unique_ptr<libdeflate_decompressor, Free> inflater_;
};
