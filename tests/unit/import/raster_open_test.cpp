// Opening one raster: each encoding and format, archives, containers, .r16; the files refused, naming file and cause.
#include "import/raster_open.h"

#include "map/export.h"
#include "tests/support/containers.h"
#include "tests/support/hostile_files.h"
#include "tests/unit/import/heights_fixture.h"

#include <cpl_conv.h>
#include <cpl_vsi.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <set>

namespace {

struct Good {
    const char *what;
    Bytes file;
    std::string name;
    int w, h;
    std::vector<float> z;
    std::vector<uint8_t> voids;  // empty: none
    int size_w = 0, size_h = 0;
};

std::vector<Good> good_cases() {
    std::vector<Good> c;
    c.push_back({"8-bit grey, rows top first", png_file({3, 2, 8, 0, false, {0, 1, 255, 10, 20, 30}, {}, {}}),
                 "a.png", 3, 2, {0, 1, 255, 10, 20, 30}, {}});
    c.push_back({"16-bit grey is big-endian", png_file({2, 2, 16, 0, false, be16({0x1234, 0xfffe, 1, 0x8000}), {}, {}}),
                 "b.png", 2, 2, {0x1234, 0xfffe, 1, 0x8000}, {}});
    {
        // 9 × 9 reaches every one of the seven interlace passes.
        std::vector<float> z;
        Bytes raw;
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 9; ++x) {
                z.push_back(static_cast<float>(x * 1000 + y * 7));
                const Bytes s = be16({x * 1000 + y * 7});
                raw.insert(raw.end(), s.begin(), s.end());
            }
        c.push_back({"interlaced 16-bit grey", png_file({9, 9, 16, 0, true, raw, {}, {}}), "c.png", 9, 9, z, {}});
    }
    c.push_back({"grey + alpha: transparent is a void", png_file({2, 1, 16, 4, false, be16({500, 65535, 700, 0}), {}, {}}),
                 "d.png", 2, 1, {500, 0}, {0, 1}});
    c.push_back({"colour PNG with grey pixels only", png_file({2, 1, 8, 2, false, {5, 5, 5, 9, 9, 9}, {}, {}}), "e.png", 2,
                 1, {5, 9}, {}});
    c.push_back({"4-bit grey: samples as stored", png_file({2, 1, 4, 0, false, {0xf3}, {}, {}}), "f.png", 2, 1, {15, 3}, {}});

    TiffSpec t;
    t.w = 3, t.h = 2, t.bits = 16, t.format = 2, t.nodata = "-32768";
    t.samples = as_bytes<int16_t>({-5, 0, 300, -32768, 32767, -32767});
    c.push_back({"int16 little-endian TIFF, NoData", tiff_file(t), "g.tif", 3, 2, {-5, 0, 300, 0, 32767, -32767},
                 {0, 0, 0, 1, 0, 0}});
    t = {};
    t.big_endian = true, t.w = 2, t.h = 2, t.bits = 16, t.format = 1, t.rows_per_strip = 1;
    t.samples = as_bytes<uint16_t>({1, 2, 65535, 258});
    c.push_back({"uint16 big-endian TIFF, a strip per row", tiff_file(t), "h.tiff", 2, 2, {1, 2, 65535, 258}, {}});
    t = {};
    t.w = 2, t.h = 2, t.bits = 32, t.format = 3, t.nodata = "-9999";
    t.samples = as_bytes<float>({1.5f, std::numeric_limits<float>::quiet_NaN(), -9999.0f, -0.25f});
    c.push_back({"float32 TIFF: NaN and NoData are voids", tiff_file(t), "i.tif", 2, 2, {1.5f, 0, 0, -0.25f}, {0, 1, 1, 0}});
    {
        t = {};
        t.big_endian = true, t.w = 20, t.h = 18, t.bits = 16, t.format = 2, t.tile = 16;
        std::vector<int16_t> v;
        std::vector<float> z;
        for (int y = 0; y < 18; ++y)
            for (int x = 0; x < 20; ++x) v.push_back(static_cast<int16_t>(x - 3 * y)), z.push_back(static_cast<float>(x - 3 * y));
        t.samples = as_bytes(v);
        c.push_back({"tiled int16 big-endian TIFF, partial tiles", tiff_file(t), "j.tif", 20, 18, z, {}});
    }
    t = {};
    t.w = 4, t.h = 1, t.bits = 64, t.format = 3;
    t.samples = as_bytes<double>({1e6, -3.5, 1e300, -std::numeric_limits<double>::infinity()});
    c.push_back({"float64 TIFF: beyond the float range is a void", tiff_file(t), "k.tif", 4, 1, {1e6f, -3.5f, 0, 0},
                 {0, 0, 1, 1}});

    c.push_back({"r16 little-endian with a size, rows top first", {1, 0, 0, 1, 0xff, 0xff, 2, 0, 3, 0, 4, 0}, "l.r16", 3, 2,
                 {1, 256, 65535, 2, 3, 4}, {}, 3, 2});
    c.push_back({"r16 square inferred", {1, 0, 2, 0, 3, 0, 4, 0}, "m.R16", 2, 2, {1, 2, 3, 4}, {}});
    return c;
}

class RasterOpen : public HeightFiles {};

TEST_F(RasterOpen, DecodeEachEncoding) {
    for (const Good &c : good_cases()) {
        SCOPED_TRACE(c.what);
        write_bytes(dir + "/" + c.name, c.file);
        Heights h;
        const Status st = read_native({dir + "/" + c.name}, h, c.size_w, c.size_h);
        ASSERT_TRUE(st.ok) << st.why;
        EXPECT_EQ(h.field.w, c.w);
        EXPECT_EQ(h.field.h, c.h);
        EXPECT_EQ(h.field.z, c.z);
        EXPECT_EQ(h.field.voids, c.voids.empty() ? std::vector<uint8_t>(c.z.size()) : c.voids);
        EXPECT_FALSE(h.src.map_levels);
    }
}

// Formats GDAL writes, and the ways they come: zipped, gzipped; each reads back as written.
TEST_F(RasterOpen, FormatsAndArchives) {
    RasterSpec s = lonlat_raster(3, 2, 6, 50, 0.5, {10, -20, 30, 40, 50, -32768});
    s.type = "Int16", s.has_nodata = true, s.nodata = -32768;
    const std::vector<float> z = {10, -20, 30, 40, 50, 0};
    const std::vector<uint8_t> voids = {0, 0, 0, 0, 0, 1};
    const struct {
        const char *driver, *name;
    } cases[] = {{"GTiff", "a.tif"}, {"AAIGrid", "b.asc"}, {"HFA", "c.img"}, {"netCDF", "d.nc"}, {"GTiff", "e.tif.gz"},
                 {"GTiff", "f.zip"}};
    // An archive gets the bytes of a file written beside it.
    auto pack = [&](const std::string &plain, const std::string &archived) {
        std::vector<uint8_t> b;
        ASSERT_TRUE(read_whole(plain, b, 1 << 24).ok);
        VSILFILE *f = VSIFOpenL(archived.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        VSIFWriteL(b.data(), 1, b.size(), f);
        VSIFCloseL(f);
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "/" + c.name, name = c.name;
        if (name.find(".gz") != std::string::npos || name.find(".zip") != std::string::npos) {
            write_raster(dir + "/plain.tif", c.driver, s);
            pack(dir + "/plain.tif", name.find(".gz") != std::string::npos ? "/vsigzip/" + path : "/vsizip/" + path + "/in.tif");
        } else {
            write_raster(path, c.driver, s);
        }
        Heights h;
        const Status st = read_native({path}, h);
        ASSERT_TRUE(st.ok) << st.why;
        EXPECT_EQ(h.field.z, z);
        EXPECT_EQ(h.field.voids, voids);
        EXPECT_TRUE(h.src.georeferenced);
    }
}

// A file in each format mvx registers, written by GDAL where it writes the format and by hand
// where it does not: each opens through its own driver and reads back sample for sample.
TEST_F(RasterOpen, EveryRegisteredFormatReadsItsFile) {
    gdal_setup();
    std::vector<double> ramp(12);
    for (int i = 0; i < 12; ++i) ramp[i] = i + 1;
    auto grid = [&](const char *type, bool geo = true) {
        RasterSpec s = geo ? lonlat_raster(4, 3, 6, 50, 0.25, ramp) : RasterSpec{};
        if (!geo) s.w = 4, s.h = 3, s.values = ramp;
        s.type = type;
        return s;
    };
    // w × h × bands of 7, placed by `gt` in `epsg` when given.
    auto flat = [](int w, int h, int bands, const char *type, std::vector<double> gt = {}, int epsg = 0) {
        RasterSpec s;
        s.w = w, s.h = h, s.bands = bands, s.type = type, s.values.assign(static_cast<size_t>(w) * h * bands, 7);
        s.gt = std::move(gt), s.epsg = epsg;
        return s;
    };
    std::string ramp_text;
    for (int i = 1; i <= 12; ++i) ramp_text += std::to_string(i) + (i % 4 ? " " : "\n");
    const struct {
        const char *driver;
        std::string file;  // as GDAL is given it; relative to the test's folder
        RasterSpec spec;   // written by GDAL's driver, with `options`; or `text`, by hand
        std::vector<std::string> options;
        std::string text;
    } cases[] = {
        {"GTiff", "a.tif", grid("Float32"), {"COMPRESS=DEFLATE"}, ""},
        {"SRTMHGT", "N00E006.hgt", flat(1201, 1201, 1, "Int16", {5.99958333, 1.0 / 1200, 0, 1.00041667, 0, -1.0 / 1200}, 4326), {}, ""},
        {"DTED", "e006n00.dt0", flat(121, 121, 1, "Int16", {5.99583333, 1.0 / 120, 0, 1.00416667, 0, -1.0 / 120}, 4326), {}, ""},
        {"AAIGrid", "a.asc", grid("Int32"), {}, ""},
        {"GRASSASCIIGrid", "g.asc", {}, {}, "north: 50\nsouth: 49.25\neast: 7\nwest: 6\nrows: 3\ncols: 4\n" + ramp_text},
        {"USGSDEM", "a.dem", grid("Int16"), {}, ""},
        {"XYZ", "a.xyz", grid("Float32"), {}, ""},
        {"ISG", "a.isg", {}, {},
         "begin_of_head ===\nmodel name : test\nlat min = 49.25\nlat max = 50\nlon min = 6\nlon max = 7\ndelta lat = 0.25\ndelta lon = 0.25\n"
         "nrows = 3\nncols = 4\nnodata = -9999\nISG format = 1.0\nend_of_head ===\n" + ramp_text},
        {"GTX", "a.gtx", grid("Float32"), {}, ""},
        {"netCDF", "a.nc", grid("Float32"), {"FORMAT=NC4"}, ""},
        {"BAG", "a.bag", grid("Float32"), {"VAR_DATE=2024-01-01"}, ""},
        {"HFA", "a.img", grid("Int16"), {}, ""},
        {"ENVI", "e.dat", grid("Float32"), {}, ""},
        {"EHdr", "a.bil", grid("Int16"), {}, ""},
        {"ERS", "a.ers", grid("Float32"), {}, ""},
        {"SAGA", "a.sdat", grid("Float32"), {}, ""},
        {"GSAG", "a.grd", grid("Float32"), {}, ""},
        {"GSBG", "b.grd", grid("Float32"), {}, ""},
        {"GS7BG", "c.grd", grid("Float64"), {}, ""},
        {"BT", "a.bt", grid("Float32"), {}, ""},
        {"Terragen", "a.ter", flat(4, 4, 1, "Float32", {500000, 30, 0, 5500000, 0, -30}, 32631),
         {"MINUSERPIXELVALUE=0", "MAXUSERPIXELVALUE=14"}, ""},
        {"PDS", "a.lbl", {}, {},
         "PDS_VERSION_ID = PDS3\nRECORD_TYPE = UNDEFINED\n^IMAGE = 513 <BYTES>\nOBJECT = IMAGE\n  LINES = 3\n  LINE_SAMPLES = 4\n"
         "  SAMPLE_TYPE = LSB_INTEGER\n  SAMPLE_BITS = 16\n  BANDS = 1\nEND_OBJECT = IMAGE\nEND\n"},
        {"PDS4", "a.xml", grid("Float32"), {}, ""},
        {"ISIS3", "a.cub", grid("Float32", false), {}, ""},
        {"GPKG", "a.gpkg", grid("Float32"), {"TILE_FORMAT=TIFF"}, ""},
        {"PNM", "a.pgm", grid("UInt16", false), {}, ""},
        {"PNG", "a.png", grid("UInt16", false), {}, ""},
        {"BMP", "a.bmp", grid("Byte", false), {}, ""},
        {"JPEG", "a.jpg", flat(16, 16, 1, "Byte"), {}, ""},
        {"JP2OpenJPEG", "a.jp2", grid("UInt16", false), {"REVERSIBLE=YES", "QUALITY=100"}, ""},
        {"WEBP", "a.webp", flat(16, 16, 3, "Byte"), {"LOSSLESS=YES"}, ""},
        {"GIF", "a.gif", grid("Byte", false), {}, ""},
        {"HDF5", "a.h5", {}, {}, ""},
        {"HDF5Image", "HDF5:\"" + dir + "/i.h5\"://dem/elevation", {}, {}, ""},
        {"VRT", "a.vrt", {}, {}, "<VRTDataset rasterXSize=\"4\" rasterYSize=\"3\"><VRTRasterBand dataType=\"Float32\" band=\"1\">"
                                 "<SimpleSource><SourceFilename relativeToVRT=\"1\">a.tif</SourceFilename></SimpleSource>"
                                 "</VRTRasterBand></VRTDataset>"},
    };
    std::set<std::string> tested;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.driver);
        const std::string path = c.file.rfind("HDF5:", 0) == 0 ? c.file : dir + "/" + c.file;
        if (!strcmp(c.driver, "HDF5") || !strcmp(c.driver, "HDF5Image")) {
            // GDAL opens a file of one grid as that grid; of several, as a container, which mvx
            // opens at the grid named like heights.
            const bool one = strcmp(c.driver, "HDF5");
            write_hdf5(dir + (one ? "/i.h5" : "/a.h5"),
                       one ? std::vector<std::string>{"dem/elevation"} : std::vector<std::string>{"dem/elevation", "dem/quality"},
                       4, 3, std::vector<float>(ramp.begin(), ramp.end()));
        } else if (!c.text.empty()) {
            Bytes b(c.text.begin(), c.text.end());
            if (!strcmp(c.driver, "PDS")) {
                b.resize(512, ' ');
                for (double v : ramp) b.push_back(static_cast<uint8_t>(v)), b.push_back(0);
            }
            write_bytes(path, b);
        } else {
            RasterSpec s = c.spec;
            s.options = c.options;
            write_raster(path, c.driver, s);
        }
        {
            const Dataset ds = open_dataset(path);
            ASSERT_TRUE(ds);
            EXPECT_STREQ(GDALGetDriverShortName(GDALGetDatasetDriver(ds.get())), c.driver);
        }
        Heights h;
        const Status st = read_native({path}, h);
        ASSERT_TRUE(st.ok) << st.why;
        const RasterSpec &s = c.spec;
        const bool flat_file = s.w > 0 && s.values.size() != 12;
        size_t valid = 0;
        for (size_t i = 0; i < h.field.z.size(); ++i) {
            if (h.field.voids[i]) continue;
            ++valid;
            // Terragen keeps heights as 16-bit steps of the span given.
            EXPECT_NEAR(h.field.z[i], flat_file ? 7.0f : static_cast<float>(i + 1), 0.002) << i;
        }
        EXPECT_EQ(valid, flat_file ? valid : 12u);
        EXPECT_GT(valid, 0u);
        tested.insert(c.driver);
    }
    // And those are all there are.
    for (int i = 0; i < GDALGetDriverCount(); ++i) EXPECT_EQ(tested.count(GDALGetDriverShortName(GDALGetDriver(i))), 1u) << GDALGetDriverShortName(GDALGetDriver(i));
}

TEST_F(RasterOpen, ZippedSrtmTileOpensAsDownloaded) {
    Bytes b(2 * 1201 * 1201, 0);
    auto set = [&](int x, int y, int v) {
        b[2 * (y * 1201 + x)] = static_cast<uint8_t>(v >> 8);
        b[2 * (y * 1201 + x) + 1] = static_cast<uint8_t>(v);
    };
    set(0, 0, -5), set(1200, 0, 258), set(0, 1, -32768), set(1200, 1200, 8848);
    VSILFILE *f = VSIFOpenL(("/vsizip/" + dir + "/N45E006.hgt.zip/N45E006.hgt").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    VSIFWriteL(b.data(), 1, b.size(), f);
    VSIFCloseL(f);
    Heights h;
    const Status st = read_native({dir + "/N45E006.hgt.zip"}, h);
    ASSERT_TRUE(st.ok) << st.why;
    ASSERT_EQ(h.field.w, 1201);
    EXPECT_EQ(h.field.z[0], -5);
    EXPECT_EQ(h.field.z[1200], 258);
    EXPECT_EQ(h.field.voids[1201], 1);
    EXPECT_EQ(h.field.z[1201 * 1201 - 1], 8848);
    EXPECT_NEAR(h.src.gt[0], 5.99958, 1e-5);  // SRTM tiles are centred on whole degrees
}

struct Bad {
    const char *what;
    Bytes file;
    std::string name;
    const char *says;
    int size_w = 0, size_h = 0;
};

std::vector<Bad> bad_cases() {
    std::vector<Bad> c;
    const Bytes png16 = png_file({64, 64, 16, 0, false, Bytes(64 * 64 * 2, 7), {}, {}});
    c.push_back({"empty file", {}, "e.png", "not in a format mvx reads"});
    c.push_back({"garbage named .png", {'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0, 0}, "g.png", "not in a format mvx reads"});
    c.push_back({"PNG cut short", Bytes(png16.begin(), png16.begin() + static_cast<long>(png16.size() / 2)), "t.png",
                 "cannot read: "});
    {
        Bytes b = png16;
        b.at(b.size() - 20) ^= 0xff;  // inside IDAT: its CRC no longer matches
        c.push_back({"PNG with a bad CRC", b, "crc.png", "cannot read: "});
    }
    // GDAL decodes an interlaced image whole: this header claims 800 MB of samples.
    c.push_back({"interlaced 16-bit PNG of 20000 x 20000", png_file({20000, 20000, 16, 0, true, Bytes(64, 7), {}, {}}),
                 "i.png", "a 16-bit interlaced PNG, decoded whole into 800,000,000 bytes"});
    c.push_back({"palette PNG", png_file({2, 1, 8, 3, false, {0, 1}, {255, 0, 0, 0, 0, 255}, {}}), "p.png",
                 "a palette image, not greyscale heights"});
    c.push_back({"colour PNG", png_file({2, 1, 8, 2, false, {1, 2, 3, 4, 5, 6}, {}, {}}), "rgb.png",
                 "a colour image, not greyscale heights"});
    TiffSpec t;
    t.w = 4, t.h = 4, t.bits = 16;
    t.samples = Bytes(32, 1);
    const Bytes tif = tiff_file(t);
    c.push_back({"TIFF cut before its directory", Bytes(tif.begin(), tif.begin() + 20), "t.tif", "TIFF"});
    {
        TiffSpec s = t;
        s.offset_shift = 4096;
        c.push_back({"TIFF whose strip lies past the end", tiff_file(s), "s.tif", "cannot read: "});
        TiffSpec b = t;
        b.w = 400000, b.h = 400000, b.rows_per_strip = 1, b.samples = {};
        c.push_back({"a small file claiming 1.6 x 10^11 samples", tiff_file(b), "big.tif", "build overviews first (gdaladdo"});
        // Found by fuzzing: GDAL spent seconds on each of thousands of claimed bands.
        TiffSpec bands = t;
        bands.w = 2, bands.h = 1, bands.bits = 8, bands.spp = 5000, bands.samples = Bytes(10000, 1);
        c.push_back({"a TIFF of 5000 bands", tiff_file(bands), "bands.tif", "5000 bands, more than the 1024 mvx takes"});
    }
    c.push_back({"SRTM tile of the wrong size", Bytes(1000, 0), "N00E000.hgt", "not in a format mvx reads"});
    c.push_back({"r16 of an odd size", Bytes(7, 0), "o.r16", "7 bytes is not a square grid"});
    c.push_back({"r16 smaller than its size", Bytes(8, 0), "s.r16", "8 bytes do not hold 3 x 3 16-bit samples (18 bytes)", 3, 3});
    c.push_back({"empty r16", {}, "e.r16", "empty file"});
    c.push_back({"a size for a PNG", png16, "sz.png", "a size is only needed for headerless .r16 files", 2, 2});
    const std::string vrt = "<VRTDataset rasterXSize=\"1\" rasterYSize=\"1\"><VRTRasterBand dataType=\"Byte\" band=\"1\">"
                            "<SimpleSource><SourceFilename>/vsicurl/http://example.com/dem.tif</SourceFilename>"
                            "</SimpleSource></VRTRasterBand></VRTDataset>";
    c.push_back({"a VRT whose source is on the network", Bytes(vrt.begin(), vrt.end()), "net.vrt",
                 "refers to a network source (/vsicurl/http://example.com/dem.tif)"});
    // Decoders that would take a whole image at once, or walk a chain for long: refused from the headers.
    c.push_back({"a WebP of 16383 x 16383", webp_canvas(16383, 16383), "w.webp",
                 "it is a WebP image of 16,383 x 16,383 pixels, decoded whole into 805,208,067 bytes, more than the 256 MiB"});
    c.push_back({"GIF frames of 400 MB together", gif_frames({{1, 1}, {20000, 20000}}), "f.gif",
                 "it is a GIF whose 2 frames decode into 400,000,001 bytes at once"});
    c.push_back({"a TIFF of 5000 directories", tiff_chain(5000), "chain.tif", "it is a TIFF of more than 4,096 directories"});
    c.push_back({"a BigTIFF of 5000 directories", tiff_chain(5000, true), "chain.btf", "it is a TIFF of more than 4,096 directories"});
    c.push_back({"a run-length BMP of 20000 x 20000", bmp_rle(20000, -20000), "r.bmp",
                 "it is a run-length compressed BMP of 20,000 x 20,000 pixels, decoded whole into 400,000,000 bytes"});
    // Formats whose drivers mvx leaves out, whatever the file is called.
    const std::string mrf = mrf_header("/dev/null", "/tmp/never-written", "/tmp/never-written.idx");
    c.push_back({"a Meta Raster Format file named like a GeoTIFF", Bytes(mrf.begin(), mrf.end()), "mrf.tif",
                 "not in a format mvx reads"});
    c.push_back({"a FITS image", fits_image(4, 3), "a.fits", "not in a format mvx reads"});
    return c;
}

TEST_F(RasterOpen, BadInputFailsNamingFileAndCause) {
    for (Bad &c : bad_cases()) {
        SCOPED_TRACE(c.what);
        const std::string path = dir + "/" + c.name;
        write_bytes(path, c.file);
        Heights h;
        const Status st = read_native({path}, h, c.size_w, c.size_h);
        ASSERT_FALSE(st.ok);
        EXPECT_EQ(st.why.rfind(path + ": ", 0), 0u) << st.why;
        EXPECT_NE(st.why.find(c.says), std::string::npos) << st.why;
        EXPECT_EQ(st.why.find('\n'), std::string::npos) << st.why;
    }
}

TEST_F(RasterOpen, PathsThatAreNotFilesOrAreRemote) {
    const struct {
        std::string path;
        const char *says;
    } cases[] = {
        {dir + "/missing.tif", "cannot open"},
        {dir, "not in a format mvx reads"},
        {"/dev/zero", "a character device"},
        {"https://example.com/dem.tif", "a network source"},
        {"/vsis3/bucket/dem.tif", "a network source"},
    };
    for (const auto &c : cases) {
        HeightSource src;
        const Status st = open_heights({c.path}, 0, 0, src);
        ASSERT_FALSE(st.ok) << c.path;
        EXPECT_EQ(st.why.rfind(c.path + ": ", 0), 0u) << st.why;
        EXPECT_NE(st.why.find(c.says), std::string::npos) << st.why;
    }
}

// Global grids registered on their nodes reach half a cell past the poles: that is no error.
TEST_F(RasterOpen, LatitudesWithinThePolesOrHalfACellPast) {
    const struct {
        double north, deg;
        bool ok;
    } cases[] = {{90.5, 1, true}, {91.5, 1, false}, {90, 0.5, true}};
    for (const auto &c : cases) {
        const int h = static_cast<int>(2 * c.north / c.deg);
        write_raster(dir + "/g.tif", "GTiff", lonlat_raster(4, h, 0, c.north, c.deg, std::vector<double>(4 * h, 1)));
        HeightSource src;
        const Status st = open_heights({dir + "/g.tif"}, 0, 0, src);
        EXPECT_EQ(st.ok, c.ok) << c.north << ": " << st.why;
    }
}

// An archive's raster is found by the names of its members: companions and notes are never opened,
// and only so many members are.
TEST_F(RasterOpen, ArchivesFoundByName) {
    write_raster(dir + "/r.tif", "GTiff", lonlat_raster(2, 2, 0, 1, 0.5, {1, 2, 3, 4}));
    std::vector<uint8_t> tif;
    ASSERT_TRUE(read_whole(dir + "/r.tif", tif, 1 << 20).ok);
    const Bytes note = {'n', 'o', 't', 'e'};
    const struct {
        const char *zip;
        std::vector<std::pair<std::string, const Bytes *>> members;
        const char *says;  // empty: opens
    } cases[] = {
        {"one.zip", {{"readme.txt", &note}, {"dem/r.tif.aux.xml", &note}, {"dem/r", &tif}}, ""},
        {"two.zip", {{"a.tif", &tif}, {"b.dem", &tif}}, "holds several rasters (a.tif, b.dem): name one"},
        {"none.zip", {{"a.txt", &note}, {"b.prj", &note}}, "nothing inside that GDAL reads as a raster (it holds a.txt and 1 more)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.zip);
        void *zip = CPLCreateZip((dir + "/" + c.zip).c_str(), nullptr);
        for (const auto &[name, bytes] : c.members) {
            ASSERT_EQ(CPLCreateFileInZip(zip, name.c_str(), nullptr), CE_None);
            ASSERT_EQ(CPLWriteFileInZip(zip, bytes->data(), static_cast<int>(bytes->size())), CE_None);
            ASSERT_EQ(CPLCloseFileInZip(zip), CE_None);
        }
        CPLCloseZip(zip);
        Dataset ds;
        std::string name;
        const Status st = open_raster_file(dir + "/" + c.zip, ds, name);
        if (!*c.says) {
            ASSERT_TRUE(st.ok) << st.why;
            EXPECT_EQ(name, "/vsizip/" + dir + "/" + c.zip + "/dem/r");
        } else {
            EXPECT_NE(st.why.find(c.says), std::string::npos) << st.why;
        }
    }
}

}  // namespace
