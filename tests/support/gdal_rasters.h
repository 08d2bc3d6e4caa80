// Test rasters written with GDAL's own API: any format, georeferenced or not, with NoData.
#pragma once

#include <string>
#include <vector>

struct RasterSpec {
    int w = 0, h = 0;
    std::vector<double> values;           // w × h × bands, band after band, rows top first
    int bands = 1;
    std::string type = "Float32";         // GDAL's data type name
    bool has_nodata = false;
    double nodata = 0;
    std::vector<double> gt;               // six numbers; empty: not georeferenced
    int epsg = 0;                         // 0: no coordinate system
    std::string unit;                     // the band's unit ("m", "ft"), when not empty
    double scale = 1, offset = 0;         // what a stored sample stands for: sample × scale + offset
    std::vector<std::string> options;     // creation options
};

// Writes `s` to `path` with the GDAL driver `driver` ("GTiff", "AAIGrid", "netCDF", "HFA", ...);
// throws on failure.
void write_raster(const std::string &path, const std::string &driver, const RasterSpec &s);

// A georeferenced float raster in EPSG:4326: `w` × `h` pixels of `deg` degrees from (west, north).
RasterSpec lonlat_raster(int w, int h, double west, double north, double deg, const std::vector<double> &values);
