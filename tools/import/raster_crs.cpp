// A raster's coordinate system and unit of height, GeoTIFFs with the same georeferencing keys sharing the first answer.
#include "import/raster_crs.h"

#include "import/inputs.h"
#include "import/tiff_tags.h"

#include <gdal.h>
#include <ogr_srs_api.h>

#include <cstring>
#include <map>
#include <mutex>
#include <sys/stat.h>

namespace {

// A GeoTIFF's georeferencing keys and GDAL's metadata as they stand in the file, or empty when it
// is no plain GeoTIFF (or has an .aux.xml, which may say otherwise).
std::string geokeys(const std::string &path, GDALDatasetH ds) {
    TIFF *t = full_image(ds);
    struct stat st;
    if (!t || is_gdal_name(path) || stat((path + ".aux.xml").c_str(), &st) == 0) return "";
    std::string keys;
    // GeoKeyDirectory, GeoDoubleParams, GeoAsciiParams, GDAL's metadata (a unit of height).
    for (const uint32_t tag : {34735u, 34736u, 34737u, 42112u})
        if (const std::string b = tag_bytes(t, tag); !b.empty()) keys += std::to_string(tag) + ":" + std::to_string(b.size()) + ":" + b;
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
