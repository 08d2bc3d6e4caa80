// hostile_inputs: writes the hostile import test's inputs into a directory: names of a server on
// 127.0.0.1:PORT in every spelling and nesting, FIFOs, huge rasters that cost nothing to write,
// archives of many members, raw data cut short, places past the pole; and in names/, names and
// outputs that turn against the user: a tile named -o, links planted where mvx writes, a list
// without end, a broken link among tiles, a sidecar whose numbers overflow.
#include "gdal_rasters.h"
#include "rasters.h"

#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

void write_text(const std::string &path, const std::string &text) { write_bytes(path, Bytes(text.begin(), text.end())); }

// A one-band VRT over `source`; `attrs` go on its SourceFilename.
std::string vrt_over(const std::string &source, const char *attrs = "") {
    return "<VRTDataset rasterXSize=\"1\" rasterYSize=\"1\"><VRTRasterBand dataType=\"Byte\" band=\"1\"><SimpleSource>"
           "<SourceFilename" + std::string(attrs) + ">" + source + "</SourceFilename></SimpleSource></VRTRasterBand></VRTDataset>\n";
}

// A 4 x 4 raw band read from `file`.
std::string raw_vrt(const std::string &file) {
    return "<VRTDataset rasterXSize=\"4\" rasterYSize=\"4\"><VRTRasterBand dataType=\"Byte\" band=\"1\" subClass=\"VRTRawRasterBand\">"
           "<SourceFilename>" + file + "</SourceFilename></VRTRasterBand></VRTDataset>\n";
}

// A GeoTIFF of 10^6 x 10^6 RGB pixels over 10 x 10 degrees, no tile written: a few MB, made at once.
void sparse_rgb(const std::string &path) {
    const char *opts[] = {"SPARSE_OK=TRUE", "TILED=YES", "BLOCKXSIZE=1024", "BLOCKYSIZE=1024", "BIGTIFF=YES", nullptr};
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), 1000000, 1000000, 3, GDT_Byte,
                                 const_cast<char **>(opts));
    if (!ds) throw std::runtime_error("cannot write " + path);
    double gt[6] = {0, 1e-5, 0, 10, 0, -1e-5};
    GDALSetGeoTransform(ds, gt);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, 4326);
    GDALSetSpatialRef(ds, srs);
    OSRDestroySpatialReference(srs);
    for (int b = 1; b <= 3; ++b) GDALSetRasterColorInterpretation(GDALGetRasterBand(ds, b), static_cast<GDALColorInterp>(GCI_RedBand + b - 1));
    GDALClose(ds);
}

void fifo(const std::string &path) {
    if (mkfifo(path.c_str(), 0644) != 0) throw std::runtime_error("cannot make the FIFO " + path);
}

void write_all(const std::string &d, const std::string &port) {
    GDALAllRegister();
    const std::string server = "127.0.0.1:" + port;
    const std::string curl = "/vsicurl?url=http%3A%2F%2F127.0.0.1%3A" + port + "%2Fx.tif";

    // Network names behind one or two VRTs, in a zip, behind what the text scan of the first file skips.
    write_text(d + "/inner.vrt", vrt_over(curl));
    write_text(d + "/nested.vrt", vrt_over("inner.vrt", " relativeToVRT=\"1\""));
    write_text(d + "/netcdf_inner.vrt", vrt_over("NETCDF:&quot;http://" + server + "/x.nc&quot;:z"));
    write_text(d + "/netcdf.vrt", vrt_over("netcdf_inner.vrt", " relativeToVRT=\"1\""));
    write_text(d + "/zipcurl.vrt", vrt_over("/vsizip//vsicurl/http://" + server + "/x.zip/a.tif"));
    std::string nul = vrt_over(curl);
    nul += '\0';
    nul += "binary from here on";
    write_text(d + "/nul.vrt", nul);
    write_text(d + "/big.vrt", vrt_over(curl));
    std::filesystem::resize_file(d + "/big.vrt", 65 << 20);
    void *zip = CPLCreateZip((d + "/zipped.zip").c_str(), nullptr);
    for (const char *member : {"nested.vrt", "inner.vrt"}) {
        const std::string text = member == std::string("inner.vrt") ? vrt_over(curl) : vrt_over("inner.vrt", " relativeToVRT=\"1\"");
        if (!zip || CPLCreateFileInZip(zip, member, nullptr) != CE_None ||
            CPLWriteFileInZip(zip, text.data(), static_cast<int>(text.size())) != CE_None || CPLCloseFileInZip(zip) != CE_None)
            throw std::runtime_error("cannot write zipped.zip");
    }
    CPLCloseZip(zip);

    // Huge colour rasters: as heights (the grey check) and as colours over a small DEM.
    sparse_rgb(d + "/sparse.tif");
    write_raster(d + "/dem.tif", "GTiff", lonlat_raster(10, 10, 0, 10, 1, std::vector<double>(100, 100)));
    write_text(d + "/wide.vrt", "<VRTDataset rasterXSize=\"270000000\" rasterYSize=\"1\">"
                                "<VRTRasterBand dataType=\"Byte\" band=\"1\"><ColorInterp>Red</ColorInterp></VRTRasterBand>"
                                "<VRTRasterBand dataType=\"Byte\" band=\"2\"><ColorInterp>Green</ColorInterp></VRTRasterBand>"
                                "<VRTRasterBand dataType=\"Byte\" band=\"3\"><ColorInterp>Blue</ColorInterp></VRTRasterBand></VRTDataset>\n");

    // FIFOs: behind a VRT, named like a driver's name, given to netCDF's own library.
    fifo(d + "/fifo");
    fifo(d + "/ab:fifo");
    write_text(d + "/fifo.vrt", vrt_over("fifo", " relativeToVRT=\"1\""));
    write_text(d + "/ncfifo.vrt", vrt_over("NETCDF:&quot;fifo&quot;:z"));

    // An archive of many members, none a raster.
    void *many = CPLCreateZip((d + "/many.zip").c_str(), nullptr);
    const char *stored[] = {"COMPRESSED=NO", nullptr};
    for (int i = 0; i < 20000; ++i)
        if (!many || CPLCreateFileInZip(many, ("m" + std::to_string(i) + ".txt").c_str(), const_cast<char **>(stored)) != CE_None ||
            CPLWriteFileInZip(many, "text\n", 5) != CE_None || CPLCloseFileInZip(many) != CE_None)
            throw std::runtime_error("cannot write many.zip");
    CPLCloseZip(many);

    // Raw data cut short, or read from what is no file.
    RasterSpec envi;
    envi.w = 100, envi.h = 80, envi.type = "Int16", envi.values.assign(8000, 5);
    write_raster(d + "/cut.img", "ENVI", envi);
    std::filesystem::resize_file(d + "/cut.img", 8000);
    write_bytes(d + "/short.bin", {1, 2, 3, 4});
    write_text(d + "/short.vrt", raw_vrt("short.bin"));
    write_text(d + "/mem.vrt", raw_vrt("/proc/self/mem"));
    std::filesystem::create_directory(d + "/adir");
    write_text(d + "/dir.vrt", raw_vrt("adir"));

    // Degrees that run past the north pole.
    write_raster(d + "/polar.tif", "GTiff", lonlat_raster(10, 10, 0, 95, 1, std::vector<double>(100, 100)));
}

// Names, lists and outputs: the names/ folder.
void write_names(const std::string &d) {
    std::filesystem::create_directories(d + "/glob");
    std::filesystem::create_directories(d + "/holey");
    std::filesystem::create_directories(d + "/planted");
    // Three tiles side by side; one named as an option.
    int west = 0;
    for (const char *tile : {"-o", "a.tif", "b.tif"}) {
        write_raster(d + "/glob/" + tile, "GTiff", lonlat_raster(10, 10, west, 10, 1, std::vector<double>(100, 100 + west)));
        west += 10;
    }
    write_raster(d + "/holey/a.tif", "GTiff", lonlat_raster(10, 10, 0, 10, 1, std::vector<double>(100, 100)));
    std::filesystem::create_symlink("missing.tif", d + "/holey/gone.tif");
    // Links where mvx chooses the name: the default map, a sidecar.
    write_text(d + "/victim", "precious\n");
    std::filesystem::create_symlink("../victim", d + "/planted/datas.mvx");
    std::filesystem::create_symlink("../victim", d + "/planted/m.mvx.json");
    // A list far past the bound, of short lines.
    std::ofstream list(d + "/big.list");
    for (int i = 0; i < 2000000; ++i) list << "t" << i << ".tif\n";
    // Maps of nothing: one whose sidecar's levels reach past what a float32 holds, one whose sidecar is no JSON.
    for (const char *map : {"/huge.mvx", "/broken.mvx"}) {
        write_text(d + map, "");
        std::filesystem::resize_file(d + map, 75497472);
    }
    write_text(d + "/huge.mvx.json", "{\"format\": \"mvx map sidecar 1\", \"box\": {\"x0\": 0, \"y0\": 0, \"w\": 10, \"h\": 10},"
                                    " \"levels\": {\"unit\": \"metre\", \"per_level_above_0\": 1e37}}\n");
    write_text(d + "/broken.mvx.json", "{\n");
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fputs("usage: hostile_inputs DIR PORT\n", stderr);
        return 2;
    }
    try {
        write_all(argv[1], argv[2]);
        write_names(std::string(argv[1]) + "/names");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "hostile_inputs: %s\n", e.what());
        return 1;
    }
    return 0;
}
