// The reader: voids (NoData, masks, NaN) left out by every kernel, and a sparse file's empty parts never decoded.
#include "tests/unit/import/heights_fixture.h"

#include "sandbox/gdal_env.h"
#include "sandbox/readable.h"

#include <gdal.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

namespace {

class Reads : public HeightFiles {};

// Shrinking takes area averages with voids left out; enlarging interpolates with voids left out.
TEST_F(Reads, ResamplingKeepsVoidsOut) {
    RasterSpec check;
    check.w = 12, check.h = 8;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) check.values.push_back((x + y) % 2 ? 10 : 0);
    Heights h = read_spec(check, 6, 4);
    EXPECT_EQ(h.field.z, std::vector<float>(24, 5)) << "a checkerboard shrunk 2:1 is flat";

    RasterSpec holes = check;
    holes.has_nodata = true, holes.nodata = -1;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) holes.values[y * 12 + x] = x % 2 == 0 && y % 2 == 0 ? -1 : x + 100 * y;
    holes.values[0] = holes.values[1] = holes.values[12] = holes.values[13] = -1;  // one block all void
    h = read_spec(holes, 6, 4);
    EXPECT_EQ(h.field.voids[0], 1);
    EXPECT_EQ(std::count(h.field.voids.begin(), h.field.voids.end(), 1), 1);
    EXPECT_FLOAT_EQ(h.field.z[1], (3 + 102 + 103) / 3.0f);  // the void left out of the block's mean

    RasterSpec pair;
    pair.w = 3, pair.h = 2, pair.values = {10, 20, -1, 10, 20, -1}, pair.has_nodata = true, pair.nodata = -1;
    h = read_spec(pair, 12, 8, FitMode::pad, nullptr, Resampling::automatic);
    for (int x = 0; x < 12; ++x) {
        EXPECT_EQ(h.field.voids[x], x >= 10) << x;  // only where no valid sample is near
        if (x < 8) {
            EXPECT_LE(h.field.z[x], 20) << x;
        }
    }
    EXPECT_FLOAT_EQ(h.field.z[6], 20);  // next to the void: the valid neighbour alone, not a blend with it
}

// Overlapping tiles fill each other's holes; a hole that nothing else covers stays a void.
TEST_F(Reads, HolesAreVoidsOnlyWhereNothingValidCovers) {
    auto with_holes = [](RasterSpec s, std::initializer_list<std::array<int, 4>> holes) {
        s.has_nodata = true, s.nodata = -9999;
        for (const auto &[x0, y0, x1, y1] : holes)
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) s.values[static_cast<size_t>(y) * s.w + x] = -9999;
        return s;
    };
    const RasterSpec whole = sampled(30, 20, 6, 46, 0.01, 0.01, relief);
    // West covers columns 0-19 with a hole at 12-15; east covers 10-29 with holes at 14-17
    // (west has data there but for 14 and 15) and at 22-25 (nothing else there).
    const std::string west = write("w.tif", with_holes(cut(whole, 0, 0, 20, 20), {{12, 5, 16, 10}}));
    const std::string east = write("e.tif", with_holes(cut(whole, 10, 0, 20, 20), {{4, 8, 8, 14}, {12, 2, 16, 5}}));
    const Heights h = read({west, east}, 30, 20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) {
            const size_t k = static_cast<size_t>(y) * 30 + x;
            const bool no_west = x >= 20 || (x >= 12 && x < 16 && y >= 5 && y < 10);
            const bool no_east = x < 10 || (x >= 14 && x < 18 && y >= 8 && y < 14) || (x >= 22 && x < 26 && y >= 2 && y < 5);
            ASSERT_EQ(h.field.voids[k], no_west && no_east) << x << "," << y;
            if (!h.field.voids[k]) {
                ASSERT_NEAR(h.field.z[k], whole.values[k], 1e-3) << x << "," << y;
            }
        }
}

// More samples than 2^33: a sparse GeoTIFF of 10^10 whose one written block
// is all there is to read.
TEST_F(Reads, SparseFileBeyondTwoToThe33IsRead) {
    const std::string path = dir + "/sparse.tif";
    const char *opts[] = {"SPARSE_OK=TRUE", "TILED=YES", "BLOCKXSIZE=512", "BLOCKYSIZE=512", "BIGTIFF=YES", nullptr};
    gdal_setup();
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), 100000, 100000, 1, GDT_Int16,
                                 const_cast<char **>(opts));
    ASSERT_NE(ds, nullptr);
    GDALRasterBandH b = GDALGetRasterBand(ds, 1);
    GDALSetRasterNoDataValue(b, -32768);
    std::vector<int16_t> block(512 * 512, 42);
    ASSERT_EQ(GDALRasterIO(b, GF_Write, 51200, 51200, 512, 512, block.data(), 512, 512, GDT_Int16, 0, 0), CE_None);
    GDALClose(ds);
    const Heights h = read({path}, 50, 50);
    EXPECT_EQ(std::count(h.field.voids.begin(), h.field.voids.end(), 0), 1);
    EXPECT_EQ(h.field.z[25 * 50 + 25], 42);
}

// Tiles alike the first, read by libtiff alone, give the field GDAL gives to the bit: whole ones,
// one no block of which the file holds, and one with a block left out (GDAL's to read).
TEST_F(Reads, TilesAloneReadAsGdalReads) {
    const RasterSpec whole = sampled(48, 16, 6, 46, 0.01, 0.01, relief);
    std::vector<std::string> tiles;
    for (int k = 0; k < 4; ++k) {
        RasterSpec t = cut(whole, 12 * k, 0, 12, 16);
        t.has_nodata = true, t.nodata = -9999;
        t.options = {"COMPRESS=DEFLATE", "PREDICTOR=3", "BLOCKYSIZE=3", "SPARSE_OK=TRUE"};
        // A block of NoData alone is left out of the file: all of tile 2's, all but the top of 3's.
        if (k >= 2) std::fill(t.values.begin() + (k == 3 ? 12 * 3 : 0), t.values.end(), -9999);
        tiles.push_back(write("t" + std::to_string(k) + ".tif", t));
    }
    const Heights gdal = read(tiles, 40, 14);
    Siblings siblings;
    readable_for(tiles, &siblings);
    set_siblings(siblings);
    HeightSource src;
    ASSERT_TRUE(open_heights(tiles, 0, 0, src).ok);
    const long alone = std::count_if(src.tiles.begin(), src.tiles.end(), [](const Tile &t) { return t.opened && t.opened->take().tiff; });
    const Heights known = read(tiles, 40, 14);
    set_siblings({});
    EXPECT_EQ(alone, 3);
    ASSERT_EQ(known.field.z.size(), gdal.field.z.size());
    EXPECT_EQ(std::memcmp(known.field.z.data(), gdal.field.z.data(), gdal.field.z.size() * sizeof(float)), 0);
    EXPECT_EQ(known.field.voids, gdal.field.voids);
    EXPECT_GT(std::count(gdal.field.voids.begin(), gdal.field.voids.end(), 0), 14 * 20);
    EXPECT_GT(std::count(gdal.field.voids.begin(), gdal.field.voids.end(), 1), 14 * 5);
}

}  // namespace
