// A GeoTIFF's own tags: what GDAL would work out from them, compared as bytes.
#include "import/tiff_tags.h"

#include "sandbox/gdal_env.h"

#include <tiffio.h>

#include <cstring>
#include <vector>

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

namespace {

// A GeoKey's value from the key directory (16-bit words: a header of four, then four a key), or 0.
uint16_t geokey(const std::string &directory, uint16_t key) {
    std::vector<uint16_t> w(directory.size() / 2);
    std::memcpy(w.data(), directory.data(), 2 * w.size());
    for (size_t i = 4; w.size() >= 4 && i + 3 < w.size() && i / 4 <= w[3]; i += 4)
        if (w[i] == key && w[i + 1] == 0) return w[i + 3];
    return 0;
}

// Exactly `count` doubles from a tag's bytes.
bool doubles(const std::string &bytes, size_t count, double *out) {
    if (bytes.size() != count * sizeof(double)) return false;
    std::memcpy(out, bytes.data(), bytes.size());
    return true;
}

}  // namespace

TagSetup tag_setup(TIFF *t, const std::string &name) {
    TagSetup s;
    uint16_t samples = 0, subs = 0, photometric = 0, bits = 0, format = 0;
    uint32_t kind = 0;
    uint64_t *sub = nullptr;
    if (!t || !TIFFLastDirectory(t) || TIFFGetField(t, TIFFTAG_SUBIFD, &subs, &sub) ||
        (TIFFGetField(t, TIFFTAG_SUBFILETYPE, &kind) && (kind & (FILETYPE_REDUCEDIMAGE | FILETYPE_MASK))) ||
        !TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples) || samples != 1 || !alone(name))
        return s;
    // ModelTransformation places it otherwise; several tie points are control points.
    const std::string scale = tag_bytes(t, 33550), ties = tag_bytes(t, 33922), keys = tag_bytes(t, 34735);
    double cell[3], tie[6];
    if (!tag_bytes(t, 34264).empty() || !doubles(scale, 3, cell) || !doubles(ties, 6, tie) || cell[0] == 0 ||
        cell[1] == 0 || keys.empty())
        return s;
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    s.gt[1] = cell[0], s.gt[2] = 0, s.gt[4] = 0, s.gt[5] = -cell[1];
    s.gt[0] = tie[3] - tie[0] * s.gt[1];
    s.gt[3] = tie[4] - tie[1] * s.gt[5];
    if (geokey(keys, 1025) == 2) {  // GTRasterTypeGeoKey: PixelIsPoint, the tie point at a cell's centre
        s.gt[0] -= s.gt[1] * 0.5 + s.gt[2] * 0.5;
        s.gt[3] -= s.gt[4] * 0.5 + s.gt[5] * 0.5;
    }
    s.key = std::to_string(bits) + ":" + std::to_string(format) + ":" + std::to_string(photometric) + ":" +
            std::string(reinterpret_cast<const char *>(tie), 3 * sizeof(double)) + scale;
    for (const uint32_t tag : {34735u, 34736u, 34737u, 42112u, 42113u}) {
        const std::string b = tag_bytes(t, tag);
        s.key += ":" + std::to_string(b.size()) + ":" + b;
    }
    return s;
}
