// The GDAL drivers mvx registers: one table, each driver with what it reads for mvx.
#include "sandbox/drivers.h"

#include <gdal.h>

#include <cstdio>

namespace {

// Left out, among others: drivers that fetch from servers (WMS, WCS, WMTS, HTTP, STAC, ...) or
// write while they read (MRF and its caches, MEM that reads memory by address), FITS and HDF4
// (their libraries open files and URLs by their own syntax, behind the gate), MBTiles (it reads
// through GDAL's whole SQLite vector driver), and formats of no elevation or imagery use here.
// Each line must fit `mvx help import` (61 characters).
const struct {
    const char *name, *what;
} readers[] = {
    {"GTiff", "GeoTIFF and Cloud-Optimised GeoTIFF (.tif): most DEMs"},
    {"VRT", "virtual rasters (.vrt): mosaics, and what mvx builds itself"},
    {"SRTMHGT", "SRTM tiles (.hgt)"},
    {"DTED", "DTED elevation tiles (.dt0, .dt1, .dt2)"},
    {"AAIGrid", "ESRI ASCII grids (.asc)"},
    {"GRASSASCIIGrid", "GRASS ASCII grids"},
    {"USGSDEM", "USGS ASCII DEMs and Canadian CDED (.dem)"},
    {"XYZ", "gridded XYZ text (.xyz)"},
    {"ISG", "geoid grids of the ISG format (.isg)"},
    {"GTX", "vertical datum and geoid grids (.gtx)"},
    {"netCDF", "netCDF grids such as GEBCO and ETOPO (.nc)"},
    {"HDF5", "HDF5 grids (.h5)"},
    {"HDF5Image", "one grid of an HDF5 file (HDF5:\"FILE\"://PATH)"},
    {"BAG", "bathymetric attributed grids (.bag)"},
    {"HFA", "Erdas Imagine (.img)"},
    {"ENVI", "ENVI raw grids with a .hdr"},
    {"EHdr", "ESRI raw grids with a .hdr (.bil, .flt)"},
    {"ERS", "ER Mapper raw grids (.ers)"},
    {"SAGA", "SAGA GIS grids (.sdat)"},
    {"GSAG", "Surfer ASCII grids (.grd)"},
    {"GSBG", "Surfer 6 binary grids (.grd)"},
    {"GS7BG", "Surfer 7 binary grids (.grd)"},
    {"BT", "VTP binary terrain (.bt)"},
    {"Terragen", "Terragen heightfields (.ter)"},
    {"PDS", "planetary DEMs with PDS3 labels (.img, .lbl)"},
    {"PDS4", "planetary DEMs with PDS4 labels (.xml)"},
    {"ISIS3", "planetary DEMs as ISIS cubes (.cub)"},
    {"GPKG", "GeoPackage tiles and elevation (.gpkg)"},
    {"PNM", "8 and 16-bit PGM heightmaps (.pgm)"},
    {"PNG", "8 and 16-bit PNG heightmaps and images (.png)"},
    {"BMP", "BMP heightmaps and images (.bmp)"},
    {"JPEG", "JPEG images (.jpg)"},
    {"JP2OpenJPEG", "JPEG 2000 grids and images (.jp2)"},
    {"WEBP", "WebP images (.webp), and WebP tiles of a GeoPackage"},
    {"GIF", "GIF images (.gif)"},
};

}  // namespace

bool is_reader(const std::string &driver) {
    for (const auto &r : readers)
        if (driver == r.name) return true;
    return false;
}

void register_readers() {
    GDALAllRegister();
    for (int i = GDALGetDriverCount() - 1; i >= 0; --i) {
        GDALDriverH d = GDALGetDriver(i);
        if (is_reader(GDALGetDriverShortName(d))) continue;
        GDALDeregisterDriver(d);
        GDALDestroyDriver(d);
    }
}

std::string readers_help() {
    std::string s = "Formats (GDAL's drivers of elevation data and imagery; mvx registers no other,\n"
                    "so a file in any other format is refused):\n";
    for (const auto &r : readers) {
        char line[128];
        std::snprintf(line, sizeof line, "  %-16s %s\n", r.name, r.what);
        s += line;
    }
    return s;
}
