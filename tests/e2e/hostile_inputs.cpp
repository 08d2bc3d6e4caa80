// hostile_inputs: writes the hostile import test's inputs into a directory: names of a server on
// 127.0.0.1:PORT in every spelling and nesting, FIFOs, huge rasters that cost nothing to write,
// archives of many members, raw data cut short, places past the pole, files whose drivers write
// (into HOME) or read behind the gate, pointers into memory, inputs that GDAL would change beside
// them, headers that claim gigabytes; and in names/, names and outputs that turn against the user:
// a tile named -o, links planted where mvx writes, a list without end, a broken link among tiles,
// a sidecar whose numbers overflow.
#include "tests/support/containers.h"
#include "tests/support/gdal_rasters.h"
#include "tests/support/hostile_files.h"
#include "tests/support/rasters.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>
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

// Files whose drivers would write or read where they should not, or crash.
void write_doors(const std::string &d, const std::string &home) {
    // MRF caches what it reads from its source into its data file, here the user's shell start-up
    // file, and writes an index, here in the autostart folder. Named like a GeoTIFF, as MRF goes by
    // content.
    RasterSpec src;
    src.w = src.h = 256, src.type = "Byte", src.values.assign(256 * 256, 65);
    write_raster(d + "/mrfsrc.tif", "GTiff", src);
    write_text(d + "/mrf.tif", mrf_header(d + "/mrfsrc.tif", home + "/.bashrc", home + "/.config/autostart/cache.idx"));

    // HDF5 (netCDF-4) data stored in other files, which the HDF5 library reads itself.
    write_hdf5(d + "/environ.h5", {"elevation"}, 64, 64, {}, "/proc/self/environ");
    write_hdf5(d + "/urandom.nc", {"elevation"}, 64, 64, {}, "/dev/urandom");
    write_hdf5(d + "/fifo.nc", {"elevation"}, 64, 64, {}, "fifo");

    // GDAL's MEM driver reads a raster at any address it is given: as an input, in a VRT, as the
    // overview a .aux.xml names (the colours row names it itself).
    const std::string mem = "MEM:::DATAPOINTER=0x1000,PIXELS=100,LINES=100";
    write_text(d + "/memptr.vrt", vrt_over(mem));
    write_raster(d + "/memovr.tif", "GTiff", lonlat_raster(10, 10, 0, 10, 1, std::vector<double>(100, 100)));
    write_text(d + "/memovr.tif.aux.xml", "<PAMDataset><Metadata domain=\"OVERVIEWS\"><MDI key=\"OVERVIEW_FILE\">" + mem +
                                              "</MDI></Metadata></PAMDataset>\n");

    // Inputs GDAL would change: a GeoPackage with a log not yet written into it, and a .gz beside
    // a file of the user's named as GDAL names its notes on a .gz.
    RasterSpec tiles = lonlat_raster(64, 64, 0, 10, 0.1, std::vector<double>(64 * 64, 50));
    tiles.type = "Byte";
    write_raster(d + "/wal.gpkg", "GPKG", tiles);
    leave_log_pending(d + "/wal.gpkg");
    write_raster(d + "/gz.tif", "GTiff", lonlat_raster(64, 64, 0, 10, 0.1, std::vector<double>(64 * 64, 50)));
    VSILFILE *in = VSIFOpenL((d + "/gz.tif").c_str(), "rb");
    VSILFILE *out = VSIFOpenL(("/vsigzip/" + d + "/dem.tif.gz").c_str(), "wb");
    if (!in || !out) throw std::runtime_error("cannot write dem.tif.gz");
    for (char b[65536]; const size_t n = VSIFReadL(b, 1, sizeof b, in);) VSIFWriteL(b, 1, n, out);
    VSIFCloseL(in);
    VSIFCloseL(out);
    std::filesystem::remove(d + "/gz.tif");
    write_text(d + "/dem.tif.gz.properties", "the user's own notes, not GDAL's\n");

    // Headers claiming what a decoder would take whole, or walk for long.
    write_bytes(d + "/big.webp", webp_canvas(16383, 16383));
    write_bytes(d + "/frames.gif", gif_frames({{8, 8}, {30000, 30000}, {8, 8}}));
    write_bytes(d + "/tile.fits", fits_image(64, 64));
    write_bytes(d + "/rle.bmp", bmp_rle(30000, 30000));
    const Bytes chain = tiff_chain(300000);
    write_bytes(d + "/chain.tif", chain);
    VSILFILE *gz = VSIFOpenL(("/vsigzip/" + d + "/chain.tif.gz").c_str(), "wb");
    if (!gz || VSIFWriteL(chain.data(), 1, chain.size(), gz) != chain.size() || VSIFCloseL(gz) != 0)
        throw std::runtime_error("cannot write chain.tif.gz");

    // A planetary DEM's label, which speaks XML with http namespaces, and names no network source.
    write_raster(d + "/label.xml", "PDS4", lonlat_raster(16, 16, 0, 10, 0.5, std::vector<double>(256, 300)));

    // What GDAL complains about on the terminal, in lines of its own: a TIFF whose directory is cut.
    TiffSpec t;
    t.w = t.h = 4, t.samples = Bytes(32, 1);
    const Bytes whole = tiff_file(t);
    write_bytes(d + "/cut.tif", Bytes(whole.begin(), whole.begin() + static_cast<long>(whole.size() - 30)));
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
    for (int i = 0; i < 2000; ++i)
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
    if (argc != 4) {
        std::fputs("usage: hostile_inputs DIR PORT HOME\n", stderr);
        return 2;
    }
    // GDAL's notes on what it writes here are no concern of the test's.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    try {
        write_all(argv[1], argv[2]);
        write_doors(argv[1], argv[3]);
        write_names(std::string(argv[1]) + "/names");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "hostile_inputs: %s\n", e.what());
        return 1;
    }
    return 0;
}
