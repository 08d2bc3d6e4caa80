// fuzz_seeds DIR: writes the fuzz targets' starting inputs, tiny valid files of each encoding and
// format import reads, into DIR/gdal (each behind the byte that names its format) and DIR/r16.
#include "fuzz/gdal_input.h"
#include "fuzz/r16_input.h"
#include "tests/support/gdal_rasters.h"
#include "tests/support/rasters.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

Bytes be16(std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) b.push_back(static_cast<uint8_t>(x >> 8)), b.push_back(static_cast<uint8_t>(x));
    return b;
}

void write_png(const std::string &dir) {
    const Bytes grey8 = {0, 1, 255, 10, 20, 30};
    Bytes raw9;  // 9 × 9 reaches every interlace pass
    for (int i = 0; i < 81; ++i) raw9.push_back(static_cast<uint8_t>(i * 3)), raw9.push_back(static_cast<uint8_t>(i));
    const std::string key = "mvx heights", value = "map levels: sample = (height + 128) * 257";
    Bytes text(key.begin(), key.end());
    text.push_back(0);
    text.insert(text.end(), value.begin(), value.end());
    const Bytes trns = png_chunk("tRNS", {0, 1});

    const std::pair<const char *, PngSpec> files[] = {
        {"grey8", {3, 2, 8, 0, false, grey8, {}, {}}},
        {"grey16", {2, 2, 16, 0, false, be16({0x1234, 0xfffe, 1, 0x8000}), {}, {}}},
        {"grey16-interlaced", {9, 9, 16, 0, true, raw9, {}, {}}},
        {"grey16-levels", {2, 1, 16, 0, false, be16({0, 65535}), {}, png_chunk("tEXt", text)}},
        {"grey-alpha16", {2, 1, 16, 4, false, be16({500, 65535, 700, 0}), {}, {}}},
        {"grey-alpha8", {2, 1, 8, 4, false, {5, 255, 6, 0}, {}, {}}},
        {"grey4", {2, 1, 4, 0, false, {0xf3}, {}, {}}},
        {"grey1", {8, 1, 1, 0, false, {0xa5}, {}, {}}},
        {"grey8-trns", {2, 1, 8, 0, false, {1, 2}, {}, png_chunk("tRNS", {0, 2})}},
        {"rgb8-grey", {2, 1, 8, 2, false, {5, 5, 5, 9, 9, 9}, {}, {}}},
        {"rgb8-colour", {2, 1, 8, 2, false, {5, 6, 7, 9, 9, 9}, {}, {}}},
        {"rgba16", {1, 1, 16, 6, false, be16({1, 1, 1, 65535}), {}, {}}},
        {"palette", {2, 1, 8, 3, false, {0, 1}, {255, 0, 0, 7, 7, 7}, {}}},
        {"palette2-trns", {4, 1, 2, 3, false, {0x1b}, {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4}, trns}},
    };
    for (const auto &[file, raster] : files) write_bytes(dir + "/" + file + ".png.in", join_gdal(1, png_file(raster)));
}

void write_tiff(const std::string &dir) {
    std::vector<std::pair<std::string, TiffSpec>> files;
    TiffSpec t;
    t.w = 3, t.h = 2, t.bits = 16, t.format = 2, t.nodata = "-32768";
    t.samples = as_bytes<int16_t>({-5, 0, 300, -32768, 32767, -32767});
    files.push_back({"int16-nodata", t});
    t = {};
    t.big_endian = true, t.w = 2, t.h = 2, t.bits = 16, t.format = 1, t.rows_per_strip = 1;
    t.samples = as_bytes<uint16_t>({1, 2, 65535, 258});
    files.push_back({"uint16-be-strips", t});
    t = {};
    t.w = 2, t.h = 2, t.bits = 32, t.format = 3, t.nodata = "nan";
    t.samples = as_bytes<float>({1.5f, -2.25f, 1e6f, 0.0f});
    files.push_back({"float32", t});
    t = {};
    t.big_endian = true, t.w = 2, t.h = 1, t.bits = 64, t.format = 3, t.nodata = "-9999";
    t.samples = as_bytes<double>({-9999.0, 8848.86});
    files.push_back({"float64-be", t});
    t = {};
    t.w = 2, t.h = 1, t.bits = 8, t.format = 2;
    t.samples = as_bytes<int8_t>({-128, 127});
    files.push_back({"int8", t});
    t = {};
    t.w = 1, t.h = 2, t.bits = 32, t.format = 1;
    t.samples = as_bytes<uint32_t>({0, 4000000000u});
    files.push_back({"uint32", t});
    t = {};
    t.big_endian = true, t.w = 2, t.h = 1, t.bits = 32, t.format = 2;
    t.samples = as_bytes<int32_t>({-100000, 100000});
    files.push_back({"int32-be", t});
    t = {};
    t.w = 5, t.h = 3, t.bits = 16, t.format = 1, t.tile = 16;
    for (int i = 0; i < 15; ++i) t.samples.push_back(static_cast<uint8_t>(i)), t.samples.push_back(0);
    files.push_back({"uint16-tiled", t});
    t = {};
    t.w = 2, t.h = 1, t.bits = 8, t.spp = 3, t.photometric = 2, t.samples = Bytes(6, 9);
    files.push_back({"rgb8", t});
    t = {};
    t.w = 2, t.h = 1, t.bits = 8, t.photometric = 3, t.colormap = true, t.samples = {0, 1};
    files.push_back({"palette", t});
    for (const auto &[file, raster] : files) write_bytes(dir + "/" + file + ".tif.in", join_gdal(0, tiff_file(raster)));
}

// The first rows of a 1201 x 1201 tile, big-endian, one void; the target pads the rest with zeros.
void write_hgt(const std::string &dir) {
    Bytes b;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 1201; ++x) {
            const int v = x == 600 && y == 4 ? -32768 : (x * 7 + y * 3) % 9000 - 400;
            b.push_back(static_cast<uint8_t>(v >> 8)), b.push_back(static_cast<uint8_t>(v));
        }
    write_bytes(dir + "/tile1201-rows.hgt.in", join_gdal(5, b));
}

// Files GDAL writes itself: compressed and tiled GeoTIFFs, an ESRI ASCII grid, an Erdas IMG, and
// VRTs, one reading its own bytes as a raw band and one pointing at the network.
void write_gdal(const std::string &dir) {
    RasterSpec s = lonlat_raster(6, 4, 6, 50, 0.25, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, -9999, 12, 13, 14, 15, 16, 17, 18,
                                                     19, 20, 21, 22, 23, 24});
    s.has_nodata = true, s.nodata = -9999;
    const struct {
        const char *file, *driver;
        size_t format;
        std::vector<std::string> options;
        const char *type;
    } files[] = {
        {"deflate.tif", "GTiff", 0, {"COMPRESS=DEFLATE", "PREDICTOR=3"}, "Float32"},
        {"lzw-tiled.tif", "GTiff", 0, {"COMPRESS=LZW", "PREDICTOR=2", "TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"}, "Int16"},
        {"grid.asc", "AAIGrid", 2, {}, "Float32"},
        {"erdas.img", "HFA", 3, {}, "Int16"},
    };
    for (const auto &f : files) {
        RasterSpec r = s;
        r.type = f.type;
        r.options = f.options;
        const std::string tmp = dir + "/" + f.file;
        write_raster(tmp, f.driver, r);
        std::FILE *in = std::fopen(tmp.c_str(), "rb");
        if (!in) throw std::runtime_error("cannot read back " + tmp);
        Bytes b;
        for (int c; (c = std::fgetc(in)) != EOF;) b.push_back(static_cast<uint8_t>(c));
        std::fclose(in);
        std::remove(tmp.c_str());
        std::remove((tmp.substr(0, tmp.rfind('.')) + ".prj").c_str());  // the ASCII grid's companion
        write_bytes(tmp + ".in", join_gdal(f.format, b));
    }
    const std::string self = "<VRTDataset rasterXSize=\"4\" rasterYSize=\"3\"><VRTRasterBand dataType=\"Byte\" band=\"1\" "
                             "subClass=\"VRTRawRasterBand\"><SourceFilename>/vsimem/fuzz/in.vrt</SourceFilename>"
                             "<ImageOffset>1</ImageOffset><PixelOffset>1</PixelOffset><LineOffset>4</LineOffset>"
                             "</VRTRasterBand></VRTDataset>";
    const std::string net = "<VRTDataset rasterXSize=\"2\" rasterYSize=\"2\"><VRTRasterBand dataType=\"Int16\" band=\"1\">"
                            "<SimpleSource><SourceFilename>/vsicurl/http://127.0.0.1:9/dem.tif</SourceFilename>"
                            "</SimpleSource></VRTRasterBand></VRTDataset>";
    write_bytes(dir + "/raw-self.vrt.in", join_gdal(4, Bytes(self.begin(), self.end())));
    write_bytes(dir + "/network.vrt.in", join_gdal(4, Bytes(net.begin(), net.end())));
}

void write_r16(const std::string &dir) {
    Bytes square, wide;
    for (int i = 0; i < 16; ++i) square.push_back(static_cast<uint8_t>(i * 16)), square.push_back(static_cast<uint8_t>(i));
    for (int i = 0; i < 6; ++i) wide.push_back(static_cast<uint8_t>(i)), wide.push_back(0xff);
    write_bytes(dir + "/square4.in", join_r16(0, 0, square));
    write_bytes(dir + "/sized3x2.in", join_r16(3, 2, wide));
    write_bytes(dir + "/sized1x300.in", join_r16(1, 300, Bytes(600, 1)));
}

void make_dir(const std::string &d) {
    if (mkdir(d.c_str(), 0777) != 0 && errno != EEXIST) throw std::runtime_error("cannot create " + d + ": " + std::strerror(errno));
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    try {
        make_dir(dir);
        for (const char *t : {"gdal", "r16"}) make_dir(dir + "/" + t);
        write_png(dir + "/gdal");
        write_tiff(dir + "/gdal");
        write_hgt(dir + "/gdal");
        write_gdal(dir + "/gdal");
        write_r16(dir + "/r16");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
