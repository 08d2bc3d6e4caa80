// A TIFF opened by libtiff alone, through the gate as GDAL opens files: for tiles whose set-up GDAL has read from another.
#pragma once

#include <cpl_vsi.h>

#include <string>

typedef struct tiff TIFF;

// Opening a small GeoTIFF with GDAL costs more than reading its samples: its driver is found,
// its dataset made, its georeferencing and companions looked for, and closing it again. A tile
// alike one GDAL has read needs none of that, only its tags and its blocks.
class TiffFile {
public:
    // Opened when tif() is not null: a file the gate lets through, that libtiff reads as a TIFF.
    explicit TiffFile(const std::string &name);
    ~TiffFile();
    TiffFile(const TiffFile &) = delete;
    TiffFile &operator=(const TiffFile &) = delete;

    TIFF *tif() const { return tif_; }

private:
    VSILFILE *fp_ = nullptr;
    TIFF *tif_ = nullptr;
};
