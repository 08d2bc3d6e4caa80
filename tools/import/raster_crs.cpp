// A raster's coordinate system and unit of height, GeoTIFFs with the same georeferencing keys sharing the first answer.
#include "import/raster_crs.h"

#include "import/inputs.h"

#include <gdal.h>
#include <ogr_srs_api.h>
#include <tiffio.h>

#include <cstring>
#include <map>
#include <mutex>
#include <sys/stat.h>

namespace {

// A GeoTIFF's georeferencing keys and GDAL's metadata as they stand in the file, or empty when it
// is no plain GeoTIFF (or has an .aux.xml, which may say otherwise).
std::string geokeys(const std::string &path, GDALDatasetH ds) {
    GDALDriverH d = GDALGetDatasetDriver(ds);
    struct stat st;
    if (!d || std::strcmp(GDALGetDriverShortName(d), "GTiff") != 0 || is_gdal_name(path) ||
        stat((path + ".aux.xml").c_str(), &st) == 0)
        return "";
    // GDAL's own handle on the file: no second open. Its keys are the full image's only while it
    // stands at that image's directory, not at an overview's.
    TIFF *t = static_cast<TIFF *>(GDALGetInternalHandle(ds, "TIFF_HANDLE"));
    uint32_t w = 0, h = 0, kind = 0;
    if (!t || !TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h) ||
        w != static_cast<uint32_t>(GDALGetRasterXSize(ds)) || h != static_cast<uint32_t>(GDALGetRasterYSize(ds)) ||
        (TIFFGetField(t, TIFFTAG_SUBFILETYPE, &kind) && (kind & FILETYPE_REDUCEDIMAGE)))
        return "";
    std::string keys;
    // GeoKeyDirectory, GeoDoubleParams, GeoAsciiParams, GDAL's metadata (a unit of height): as
    // libtiff knows them, registered by GDAL and libgeotiff, or not.
    for (const uint32_t tag : {34735u, 34736u, 34737u, 42112u}) {
        const TIFFField *f = TIFFFieldWithTag(t, tag);
        if (!f) continue;
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
        if (data && bytes > 0 && bytes < (1u << 24)) keys += std::to_string(tag) + ":" + std::to_string(bytes) + ":" + std::string(data, bytes);
    }
    return keys;
}

}  // namespace

Crs crs_of(const std::string &path, GDALDatasetH ds) {
    // A tile is asked twice as it opens (its latitudes checked, then its system taken).
    thread_local GDALDatasetH last_ds = nullptr;
    thread_local std::string last_path;
    thread_local Crs last;
    if (ds == last_ds && path == last_path) return last;
    static std::mutex m;
    static std::map<std::string, Crs> known;
    const std::string keys = geokeys(path, ds);
    if (!keys.empty()) {
        std::lock_guard<std::mutex> lock(m);
        if (auto it = known.find(keys); it != known.end()) {
            last_ds = ds, last_path = path, last = it->second;
            return last;
        }
    }
    Crs c;
    c.wkt = GDALGetProjectionRef(ds);
    OGRSpatialReferenceH s = GDALGetSpatialRef(ds);
    c.geographic = s && OSRIsGeographic(s);
    c.unit = GDALGetRasterUnitType(GDALGetRasterBand(ds, 1));
    if (!keys.empty()) {
        std::lock_guard<std::mutex> lock(m);
        known.emplace(keys, c);
    }
    last_ds = ds, last_path = path, last = c;
    return c;
}
