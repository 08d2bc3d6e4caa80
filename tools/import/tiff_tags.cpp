// A GeoTIFF's own tags, read through GDAL's handle on it: what GDAL would work out from them, compared as bytes.
#include "import/tiff_tags.h"

#include <tiffio.h>

#include <cstring>

TIFF *full_image(GDALDatasetH ds) {
    GDALDriverH d = GDALGetDatasetDriver(ds);
    if (!d || std::strcmp(GDALGetDriverShortName(d), "GTiff") != 0) return nullptr;
    // No second open. The handle is at the full image's directory only while GDAL stands there.
    TIFF *t = static_cast<TIFF *>(GDALGetInternalHandle(ds, "TIFF_HANDLE"));
    uint32_t w = 0, h = 0, kind = 0;
    if (!t || !TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h) ||
        w != static_cast<uint32_t>(GDALGetRasterXSize(ds)) || h != static_cast<uint32_t>(GDALGetRasterYSize(ds)) ||
        (TIFFGetField(t, TIFFTAG_SUBFILETYPE, &kind) && (kind & (FILETYPE_REDUCEDIMAGE | FILETYPE_MASK))))
        return nullptr;
    return t;
}

std::string tag_bytes(TIFF *t, uint32_t tag) {
    // As libtiff knows the tag, registered by GDAL and libgeotiff, or not.
    const TIFFField *f = TIFFFieldWithTag(t, tag);
    if (!f) return "";
    const char *data = nullptr;
    size_t bytes = 0;
    if (!TIFFFieldPassCount(f)) {
        if (TIFFFieldDataType(f) == TIFF_ASCII && TIFFGetField(t, tag, &data) && data) bytes = std::strlen(data);
    } else if (TIFFFieldReadCount(f) == TIFF_VARIABLE2) {
        uint32_t n = 0;
        if (TIFFGetField(t, tag, &n, &data)) bytes = static_cast<size_t>(n) * TIFFDataWidth(TIFFFieldDataType(f));
    } else {
        uint16_t n = 0;
        if (TIFFGetField(t, tag, &n, &data)) bytes = static_cast<size_t>(n) * TIFFDataWidth(TIFFFieldDataType(f));
    }
    return data && bytes > 0 && bytes < (1u << 24) ? std::string(data, bytes) : "";
}
