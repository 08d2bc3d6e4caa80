// GDAL as mvx uses it: set up once, quiet, bounded in memory, and never reaching the network.
#pragma once

#include <gdal.h>
#include <ogr_srs_api.h>

#include <memory>
#include <string>
#include <vector>

// Registers the drivers (less those that fetch from servers), sends GDAL's messages to
// gdal_reason() instead of the terminal, bounds the block cache (GDAL_CACHEMAX still wins) and
// puts a refusal in place of every network file system. Safe to call more than once.
void gdal_setup();

// GDAL's last failure message on this thread, tidied to one line; empty when there is none.
std::string gdal_reason();
// The same, or `otherwise` when GDAL said nothing.
std::string gdal_reason_or(const char *otherwise);

// A path or source name that would be fetched from elsewhere (http://, /vsicurl/, /vsis3/, ...).
bool is_network_name(const std::string &name);

// The first network name GDAL tried to open since the last call on this thread, or empty.
std::string network_attempt();

// Clears GDAL's last error and the network attempt on this thread.
void gdal_reset_errors();

// An open dataset, closed when it goes.
struct DatasetCloser {
    void operator()(void *ds) const { GDALClose(ds); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

// Opens a raster read-only, GDAL's errors reset first so that a failure's reason is its own. A VRT
// is readied for reads through its overviews (see gdal_env.cpp).
Dataset open_dataset(const std::string &name);

// A /vsimem/ file that is removed when it goes; name() is unique in the process.
class MemFile {
public:
    explicit MemFile(const char *tag);
    ~MemFile();
    MemFile(const MemFile &) = delete;
    MemFile &operator=(const MemFile &) = delete;
    const std::string &name() const { return name_; }
    // Writes `text` as the file's content.
    void write(const std::string &text) const;

private:
    std::string name_;
};

// Text made safe inside an XML element.
std::string xml_escaped(const std::string &s);

// A dataset made by one of GDAL's utilities as a VRT in memory, kept alive by `owned`: gdal_translate's
// and gdalwarp's arguments (without file names). Its name, or empty with gdal_reason() set.
std::string translate_to_vrt(GDALDatasetH in, const std::vector<std::string> &args,
                             std::vector<std::unique_ptr<MemFile>> &owned);
std::string warp_to_vrt(GDALDatasetH in, const std::vector<std::string> &args, std::vector<std::unique_ptr<MemFile>> &owned);

// The dataset's geotransform when it has a real one (not the identity GDAL reports for plain images).
bool has_geotransform(GDALDatasetH ds, double gt[6]);

// A coordinate system, axes in the traditional GIS order (x east, y north) whatever its definition
// says; empty (get() null) for an empty WKT.
class SpatialRef {
public:
    explicit SpatialRef(const std::string &wkt);
    static SpatialRef wgs84();
    ~SpatialRef();
    SpatialRef(SpatialRef &&o) noexcept : h_(o.h_) { o.h_ = nullptr; }
    SpatialRef(const SpatialRef &) = delete;
    SpatialRef &operator=(const SpatialRef &) = delete;
    OGRSpatialReferenceH get() const { return h_; }

private:
    OGRSpatialReferenceH h_ = nullptr;
};

// A box (x0, y0, x1, y1) from one system into another, its edges densified; false when it cannot.
bool transform_box(const SpatialRef &from, const SpatialRef &to, const double in[4], double out[4]);

// A system's short name ("EPSG:4326", else its own name); empty for none.
std::string crs_name(const std::string &wkt);

// Whether two systems are the same, the order of their axes aside.
bool same_crs(const std::string &a, const std::string &b);
