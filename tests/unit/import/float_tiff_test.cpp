// Float GeoTIFF blocks read by mvx: the same floats as GDAL's own read, for every layout; other files left to GDAL.
#include "import/float_tiff.h"

#include "sandbox/gdal_env.h"
#include "tests/unit/scratch.h"

#include <gdal.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

class FloatTiff : public Scratch {
protected:
    // A w x h raster of `type` written by GDAL's GTiff driver with `options`: float noise with
    // NaN, infinities, zeros of both signs and subnormals among it.
    std::string write(const std::string &name, int w, int h, std::vector<const char *> options,
                      GDALDataType type = GDT_Float32, int bands = 1) {
        gdal_setup();
        const std::string path = dir + "/" + name;
        options.push_back(nullptr);
        GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), w, h, bands, type,
                                     const_cast<char **>(options.data()));
        EXPECT_NE(ds, nullptr) << name;
        if (!ds) return path;
        std::mt19937 rng(static_cast<unsigned>(w * 131 + h));
        std::uniform_real_distribution<float> terrain(-500, 4000);
        const float odd[] = {std::numeric_limits<float>::quiet_NaN(), INFINITY, -INFINITY, 0.0f, -0.0f,
                             std::numeric_limits<float>::denorm_min(), -3.4e38f};
        std::vector<float> v(static_cast<size_t>(w) * h);
        for (size_t i = 0; i < v.size(); ++i) v[i] = i % 97 < 7 ? odd[i % 97] : terrain(rng);
        for (int b = 1; b <= bands; ++b)
            EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(ds, b), GF_Write, 0, 0, w, h, v.data(), w, h, GDT_Float32, 0, 0), CE_None);
        GDALClose(ds);
        return path;
    }
};

// Reads the window both ways and compares the bits.
void expect_as_gdal(GDALDatasetH ds, FloatTiffBlocks &blocks, int x0, int y0, int nx, int ny, const std::string &what) {
    std::vector<float> ours(static_cast<size_t>(nx) * ny, 1234.5f), gdal(ours.size());
    ASSERT_TRUE(blocks.read(x0, y0, nx, ny, ours.data())) << what;
    ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, x0, y0, nx, ny, gdal.data(), nx, ny, GDT_Float32, 0, 0), CE_None);
    for (size_t i = 0; i < ours.size(); ++i) {
        uint32_t a, b;
        std::memcpy(&a, &ours[i], 4), std::memcpy(&b, &gdal[i], 4);
        ASSERT_EQ(a, b) << what << ": sample " << i % nx << "," << i / nx;
    }
}

// Tiles cut by the image's edge, strips with a short last one, one strip, rows shorter than a
// vector, the other byte order; windows whole and across blocks.
TEST_F(FloatTiff, ReadsWhatGdalReads) {
    struct Case {
        const char *name;
        int w, h;
        std::vector<const char *> options;
    } cases[] = {
        {"tiled.tif", 37, 23, {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"}},
        {"strips.tif", 45, 17, {"BLOCKYSIZE=5"}},
        {"one_strip.tif", 33, 9, {"BLOCKYSIZE=9"}},
        {"narrow.tif", 3, 2, {}},
        {"big_endian.tif", 40, 30, {"ENDIANNESS=BIG", "TILED=YES", "BLOCKXSIZE=32", "BLOCKYSIZE=16"}},
        {"bigtiff.tif", 21, 19, {"BIGTIFF=YES", "BLOCKYSIZE=4"}},
    };
    for (Case &c : cases) {
        c.options.insert(c.options.end(), {"COMPRESS=DEFLATE", "PREDICTOR=3"});
        const Dataset ds = open_dataset(write(c.name, c.w, c.h, c.options));
        ASSERT_TRUE(ds) << c.name;
        FloatTiffBlocks blocks;
        ASSERT_TRUE(blocks.attach(ds.get())) << c.name;
        expect_as_gdal(ds.get(), blocks, 0, 0, c.w, c.h, c.name);
        expect_as_gdal(ds.get(), blocks, c.w / 3, c.h / 4, c.w - c.w / 3 - 1, c.h / 2 + 1, std::string(c.name) + " inside");
        std::vector<float> out(static_cast<size_t>(c.w) * c.h);
        EXPECT_FALSE(blocks.read(1, 0, c.w, 1, out.data())) << c.name << ": a window past the edge";
    }
}

// Everything else is GDAL's to read: other predictors and compressions, wider samples, bands
// that share their blocks; and a block a sparse file leaves out.
TEST_F(FloatTiff, LeavesOtherFilesToGdal) {
    struct Case {
        const char *name;
        std::vector<const char *> options;
        GDALDataType type;
        int bands;
    } cases[] = {
        {"horizontal.tif", {"COMPRESS=DEFLATE", "PREDICTOR=2"}, GDT_Float32, 1},
        {"plain.tif", {"COMPRESS=DEFLATE"}, GDT_Float32, 1},
        {"lzw.tif", {"COMPRESS=LZW", "PREDICTOR=3"}, GDT_Float32, 1},
        {"none.tif", {}, GDT_Float32, 1},
        {"double.tif", {"COMPRESS=DEFLATE", "PREDICTOR=3"}, GDT_Float64, 1},
        {"half.tif", {"COMPRESS=DEFLATE", "PREDICTOR=3", "NBITS=16"}, GDT_Float32, 1},
        {"pixels.tif", {"COMPRESS=DEFLATE", "PREDICTOR=3", "INTERLEAVE=PIXEL"}, GDT_Float32, 2},
    };
    for (const Case &c : cases) {
        const Dataset ds = open_dataset(write(c.name, 20, 10, c.options, c.type, c.bands));
        ASSERT_TRUE(ds) << c.name;
        FloatTiffBlocks blocks;
        EXPECT_FALSE(blocks.attach(ds.get())) << c.name;
    }

    const std::string path = dir + "/sparse.tif";
    const char *opts[] = {"SPARSE_OK=TRUE", "TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16", "COMPRESS=DEFLATE", "PREDICTOR=3", nullptr};
    GDALDatasetH w = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), 32, 16, 1, GDT_Float32, const_cast<char **>(opts));
    ASSERT_NE(w, nullptr);
    std::vector<float> v(16 * 16, 7.5f);
    ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(w, 1), GF_Write, 0, 0, 16, 16, v.data(), 16, 16, GDT_Float32, 0, 0), CE_None);
    GDALClose(w);
    const Dataset ds = open_dataset(path);
    FloatTiffBlocks blocks;
    ASSERT_TRUE(blocks.attach(ds.get()));
    expect_as_gdal(ds.get(), blocks, 0, 0, 16, 16, "the written block");
    std::vector<float> both(32 * 16);
    EXPECT_FALSE(blocks.read(0, 0, 32, 16, both.data())) << "the block left out";
}

}  // namespace
