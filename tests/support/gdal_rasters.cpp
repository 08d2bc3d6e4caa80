// Writing test rasters: a GeoTIFF in memory filled as described, then copied by the wanted driver.
#include "tests/support/gdal_rasters.h"

#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <stdexcept>

void write_raster(const std::string &path, const std::string &driver, const RasterSpec &s) {
    // Where mvx has set GDAL up, its drivers stay as it chose them (GeoTIFF among them).
    if (GDALGetDriverCount() == 0) GDALAllRegister();
    const GDALDataType type = GDALGetDataTypeByName(s.type.c_str());
    const std::string staged = "/vsimem/write_raster.tif";
    GDALDatasetH mem = GDALCreate(GDALGetDriverByName("GTiff"), staged.c_str(), s.w, s.h, s.bands, type, nullptr);
    if (!mem) throw std::runtime_error("cannot make a raster in memory");
    if (!s.gt.empty()) GDALSetGeoTransform(mem, const_cast<double *>(s.gt.data()));
    if (s.epsg) {
        OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
        OSRImportFromEPSG(srs, s.epsg);
        GDALSetSpatialRef(mem, srs);
        OSRDestroySpatialReference(srs);
    }
    for (int b = 1; b <= s.bands; ++b) {
        GDALRasterBandH band = GDALGetRasterBand(mem, b);
        if (s.has_nodata) GDALSetRasterNoDataValue(band, s.nodata);
        if (!s.unit.empty()) GDALSetRasterUnitType(band, s.unit.c_str());
        if (s.scale != 1 || s.offset != 0) GDALSetRasterScale(band, s.scale), GDALSetRasterOffset(band, s.offset);
        std::vector<double> v(s.values.begin() + static_cast<long>(b - 1) * s.w * s.h,
                              s.values.begin() + static_cast<long>(b) * s.w * s.h);
        if (GDALRasterIO(band, GF_Write, 0, 0, s.w, s.h, v.data(), s.w, s.h, GDT_Float64, 0, 0) != CE_None)
            throw std::runtime_error("cannot fill a raster in memory");
    }
    std::vector<const char *> opts;
    for (const std::string &o : s.options) opts.push_back(o.c_str());
    opts.push_back(nullptr);
    GDALDriverH d = GDALGetDriverByName(driver.c_str());
    GDALDatasetH out = d ? GDALCreateCopy(d, path.c_str(), mem, FALSE, const_cast<char **>(opts.data()), nullptr, nullptr)
                         : nullptr;
    GDALClose(mem);
    VSIUnlink(staged.c_str());
    if (!out) throw std::runtime_error("cannot write " + path + " with " + driver + ": " + CPLGetLastErrorMsg());
    GDALClose(out);
}

RasterSpec lonlat_raster(int w, int h, double west, double north, double deg, const std::vector<double> &values) {
    RasterSpec s;
    s.w = w, s.h = h, s.values = values;
    s.gt = {west, deg, 0, north, 0, -deg};
    s.epsg = 4326;
    return s;
}
