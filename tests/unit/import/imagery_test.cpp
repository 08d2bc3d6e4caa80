// Imagery: an image's colours placed by its georeferencing or stretched, from any depth and kind, tints where it has none.
#include "import/imagery.h"

#include "tests/unit/import/heights_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class Imagery : public HeightFiles {};

// A georeferenced image half outside the heights is placed by its coordinates; tints fill the rest.
TEST_F(Imagery, ImageryPlacedByItsGeoreferencing) {
    RasterSpec heights = lonlat_raster(30, 20, 10, 45, 0.05, std::vector<double>(600, 300));
    write_raster(dir + "/h.tif", "GTiff", heights);
    RasterSpec image = lonlat_raster(30, 20, 10.75, 45, 0.05, std::vector<double>(1800, 0));
    image.bands = 3, image.type = "Byte";
    for (int i = 0; i < 600; ++i) image.values[i] = 255;  // pure red
    write_raster(dir + "/img.tif", "GTiff", image);
    ImportOptions o;
    o.heights = {dir + "/h.tif"};
    o.colour = dir + "/img.tif";
    o.fit = FitMode::stretch;
    Map m;
    Sidecar sc;
    std::vector<std::string> notes;
    ASSERT_TRUE(import(o, m, sc, notes).ok);
    const long long row = 2048LL * grid_columns;
    EXPECT_EQ(channel_r(m.colour[row + 5000]), 31);   // east half: the image
    EXPECT_EQ(channel_g(m.colour[row + 5000]), 0);
    EXPECT_LT(channel_r(m.colour[row + 1000]), 31);   // west half: the land tint
    EXPECT_GT(channel_g(m.colour[row + 1000]), 8);
    EXPECT_TRUE(said(notes, "covers 50.0% of the heights' area"));
}

// Images of any depth and kind give their colours, scaled to 5 bits: the three bands chosen,
// 16-bit samples from 0 to their largest, a palette expanded, one grey band as grey.
TEST_F(Imagery, ImageryOfEachKind) {
    RasterSpec heights;
    heights.w = 3, heights.h = 2, heights.values.assign(6, 1);
    write_raster(dir + "/h.tif", "GTiff", heights);
    RasterSpec rgb16 = heights, grey = heights;
    rgb16.bands = 3, rgb16.type = "UInt16";
    rgb16.values = {4000, 4000, 4000, 4000, 4000, 4000, 0, 0, 0, 0, 0, 0, 2000, 2000, 2000, 2000, 2000, 2000};
    grey.type = "Byte", grey.values.assign(6, 128);
    write_raster(dir + "/rgb16.tif", "GTiff", rgb16);
    write_raster(dir + "/grey.tif", "GTiff", grey);
    write_bytes(dir + "/pal.png", png_file({3, 2, 8, 3, false, {0, 0, 0, 0, 0, 0}, {0, 248, 8}, {}}));
    const struct {
        const char *image;
        std::vector<int> bands;
        int r, g, b;
    } cases[] = {
        {"rgb16.tif", {}, 31, 0, 15},  // 2000 of 4000 is half: 15.9 in 5 bits, dithered to 15 or 16
        {"rgb16.tif", {3, 2, 1}, 15, 0, 31},
        {"grey.tif", {}, 16, 16, 16},
        {"pal.png", {}, 0, 31, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.image);
        ImportOptions o;
        o.heights = {dir + "/h.tif"};
        Heights h;
        std::vector<std::string> notes;
        ASSERT_TRUE(read_import(o, 30, 20, h, notes).ok);
        std::vector<uint16_t> colour(600, 0);
        std::vector<uint8_t> covered(600, 0);
        ASSERT_TRUE(read_imagery(dir + "/" + c.image, c.bands, h.src, h.place, colour, covered, notes).ok);
        EXPECT_EQ(std::count(covered.begin(), covered.end(), 1), 600);
        for (int i : {0, 317, 599}) {
            EXPECT_NEAR(channel_r(colour[i]), c.r, 1) << i;
            EXPECT_NEAR(channel_g(colour[i]), c.g, 1) << i;
            EXPECT_NEAR(channel_b(colour[i]), c.b, 1) << i;
        }
    }
}

TEST_F(Imagery, ColourImageStretchedAndVoidsKeepTheirOwn) {
    write_bytes(dir + "/h.png", png_file({2, 2, 8, 0, false, {0, 50, 100, 150}, {}, {}}));
    write_bytes(dir + "/c.png", png_file({3, 2, 8, 2, false, Bytes{255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0}, {}, {}}));
    ImportOptions o;
    o.heights = {dir + "/h.png"};
    o.colour = dir + "/c.png";
    Map m;
    Sidecar sc;
    std::vector<std::string> notes;
    ASSERT_TRUE(import(o, m, sc, notes).ok);
    // Square heights: columns 1024 … 5119 hold them, the rest is void, in the voids' grey, at the
    // height of the nearest data: the edge column on the same row.
    for (const long long i : {2048LL * grid_columns + 1024, 0LL * grid_columns + 5119, 4095LL * grid_columns + 3000}) {
        EXPECT_EQ(channel_r(m.colour[i]), 31) << i;
        EXPECT_EQ(channel_g(m.colour[i]) + channel_b(m.colour[i]), 0) << i;
    }
    const struct {
        int x, y, data_x;
    } margin[] = {{0, 0, 1024}, {1023, 2048, 1024}, {5120, 2048, 5119}, {6143, 4095, 5119}, {700, 3000, 1024}};
    for (const auto &c : margin) {
        const long long i = 1LL * c.y * grid_columns + c.x;
        EXPECT_EQ(m.colour[i], void_cell_colour) << c.x << ", " << c.y;
        EXPECT_EQ(m.height[i], m.height[1LL * c.y * grid_columns + c.data_x]) << c.x << ", " << c.y;
    }
    EXPECT_NE(m.height[0], m.height[4095LL * grid_columns]);  // the data is not flat: the margin follows it
    EXPECT_TRUE(said(notes, "stretched over the heights' 2 x 2"));
    o.colour = dir + "/none.png";
    const Status st = import(o, m, sc, notes);
    EXPECT_EQ(st.why.rfind(dir + "/none.png: cannot open", 0), 0u) << st.why;
}

}  // namespace
