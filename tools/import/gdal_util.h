// GDAL's utilities as the import uses them: in-memory VRTs, translations and warps, coordinate systems.
#pragma once

#include <gdal.h>
#include <ogr_srs_api.h>

#include <memory>
#include <string>
#include <vector>

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
