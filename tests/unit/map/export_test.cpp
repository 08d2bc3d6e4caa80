// Map exports: previews, 16-bit levels, GeoTIFF heights in metres, and voids through all of them.
#include "import/import.h"
#include "map/export.h"
#include "map/info.h"
#include "map/sidecar.h"
#include "sandbox/gdal_env.h"

#include "tests/unit/map/utm_sidecar.h"
#include "tests/unit/scratch.h"

#include <cpl_json.h>
#include <gdal.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

class ExportFiles : public Scratch {};

TEST(Export, ColoursSpreadOverEightBitsAndAverageBlocks) {
    Map m;
    m.colour[0] = 0x7fff;
    m.colour[1] = 16 << 10 | 1 << 5;
    // Block (1, 0) at scale 2: cells (2, 0), (3, 0), (2, 1), (3, 1); red 0, 31, 31, 31.
    m.colour[3] = m.colour[grid_columns + 2] = m.colour[grid_columns + 3] = 31 << 10;
    const std::vector<uint8_t> p1 = preview_rgb(m, 1);
    ASSERT_EQ(p1.size(), 3ULL * grid_cells);
    EXPECT_EQ(std::vector<uint8_t>(p1.begin(), p1.begin() + 6), (std::vector<uint8_t>{255, 255, 255, 132, 8, 0}));
    const std::vector<uint8_t> p2 = preview_rgb(m, 2);
    ASSERT_EQ(p2.size(), 3ULL * 3072 * 2048);
    EXPECT_EQ(p2[3], 191);  // 23.25 of 31
    EXPECT_EQ(preview_rgb(m, 5).size(), 3ULL * 1229 * 820);  // edge blocks are partial

    Map w;
    w.colour[0] = 0xffff;
    const std::vector<uint8_t> pw = preview_rgb(w, 1);
    EXPECT_EQ(std::vector<uint8_t>(pw.begin(), pw.begin() + 3), (std::vector<uint8_t>{255, 255, 255}));
}

TEST(Export, HeightsAreLevelsTimes257) {
    Map m;
    m.height[0] = -128;
    m.height[1] = 127;
    m.height[2] = 0;
    m.height[3] = -1;
    const std::vector<uint16_t> s = height_samples(m, 1);
    EXPECT_EQ(std::vector<uint16_t>(s.begin(), s.begin() + 4), (std::vector<uint16_t>{0, 65535, 32896, 32639}));
    // Scale 2: block (1, 0) is 0, -1, 0, 0: mean -0.25 rounds to level 0.
    EXPECT_EQ(height_samples(m, 2)[1], 32896);
}

TEST_F(ExportFiles, ExportedPreviewReadsBack) {
    Map m;
    for (long long i = 0; i < grid_cells; ++i) m.colour[i] = static_cast<uint16_t>(i % 32 << 10 | (i / grid_columns) % 32);
    ASSERT_TRUE(export_png(m, dir + "/p.png", 4, false).ok);
    gdal_setup();
    GDALDatasetH ds = GDALOpen((dir + "/p.png").c_str(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    ASSERT_EQ(GDALGetRasterXSize(ds), 1536);
    ASSERT_EQ(GDALGetRasterYSize(ds), 1024);
    std::vector<uint8_t> rgb(3ULL * 1536 * 1024);
    ASSERT_EQ(GDALDatasetRasterIO(ds, GF_Read, 0, 0, 1536, 1024, rgb.data(), 1536, 1024, GDT_Byte, 3, nullptr, 3, 3 * 1536, 1),
              CE_None);
    GDALClose(ds);
    EXPECT_EQ(rgb, preview_rgb(m, 4));
    const Status st = export_png(m, dir + "/nowhere/p.png", 4, false);
    EXPECT_FALSE(st.ok);
    EXPECT_NE(st.why.find(dir + "/nowhere/p.png"), std::string::npos) << st.why;
}

// The box's heights go out in metres, in the place the sidecar gives, voids as NoData, and blocks
// averaged over their non-void cells.
TEST_F(ExportFiles, HeightsGoToGeoTiffInMetresInPlace) {
    const Sidecar s = utm_sidecar();
    Map m;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) m.height[(200LL + y) * grid_columns + 100 + x] = static_cast<int8_t>(x - 20);
    m.colour[200LL * grid_columns + 100] = void_cell_colour, m.height[200LL * grid_columns + 100] = 0;
    ASSERT_TRUE(export_geotiff(m, s, dir + "/h.tif", 1).ok);
    GDALDatasetH ds = GDALOpen((dir + "/h.tif").c_str(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    ASSERT_EQ(GDALGetRasterXSize(ds), 40);
    ASSERT_EQ(GDALGetRasterYSize(ds), 20);
    double gt[6];
    ASSERT_EQ(GDALGetGeoTransform(ds, gt), CE_None);
    EXPECT_EQ(gt[0], 400000);
    EXPECT_EQ(gt[3], 5000000);
    EXPECT_EQ(gt[1], 30);
    EXPECT_NE(std::string(GDALGetProjectionRef(ds)).find("UTM zone 33N"), std::string::npos);
    GDALRasterBandH b = GDALGetRasterBand(ds, 1);
    int has = 0;
    EXPECT_EQ(GDALGetRasterNoDataValue(b, &has), -32768);
    std::vector<float> z(40 * 20);
    ASSERT_EQ(GDALRasterIO(b, GF_Read, 0, 0, 40, 20, z.data(), 40, 20, GDT_Float32, 0, 0), CE_None);
    GDALClose(ds);
    EXPECT_EQ(z[0], -32768);
    EXPECT_EQ(z[1], -19);    // level -19, 1 m each below 0
    EXPECT_EQ(z[39], 38);    // level 19, 2 m each above
    EXPECT_EQ(z[40 + 25], 10);
    // At 1/2: the first block is three cells of -19, -20, -19 around the void.
    const std::vector<float> half = box_heights(m, s, 2, -32768);
    ASSERT_EQ(half.size(), 20u * 10);
    EXPECT_FLOAT_EQ(half[0], (-19 - 20 - 19) / 3.0f);
}

TEST_F(ExportFiles, GeoTiffNeedsTheSidecarAndHeights) {
    Map m;
    ASSERT_TRUE(write_map(dir + "/m.mvx", m).ok);
    ExportOptions o;
    o.map = dir + "/m.mvx";
    o.out = dir + "/h.tif";
    std::string done;
    Status st = export_map(o, done);
    EXPECT_EQ(st.why, dir + "/h.tif: colours are written as PNG; add --heights for a GeoTIFF of the heights");
    o.heights = true;
    st = export_map(o, done);
    EXPECT_EQ(st.why.rfind(dir + "/m.mvx: no " + dir + "/m.mvx.json says what its levels stand for", 0), 0u) << st.why;
}

// Voids as maps mark them (bit 15, whatever the colour and height) and as maps without the mark
// have them (magenta at height 0), counted alike by info, left out of the water and the sea, NoData
// in the GeoTIFF's heights, transparent in the 16-bit PNG, and voids again when that PNG is read back.
TEST_F(ExportFiles, VoidsOfEitherKindAreKnownByInfoExportAndImport) {
    const struct {
        const char *what;
        uint16_t colour;
        int8_t height;
        bool is_void;
    } cases[] = {
        {"marked grey at the nearest data's height", void_cell_colour, 37, true},
        {"marked, any colour, below 0", void_mark | 0x1234, -50, true},
        {"unmarked magenta at 0", unmarked_void_colour, 0, true},
        {"unmarked magenta off 0: data", unmarked_void_colour, 5, false},
    };
    // Rows 0 ... 255: four rows of 64-cell blocks; the sidecar's box has its top 6 rows in them.
    const long long band = 256LL * grid_columns;
    Sidecar sc = utm_sidecar();
    sc.box_y0 = 250;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Map m;
        for (long long i = 0; i < band; ++i) m.colour[i] = c.colour, m.height[i] = c.height;
        const InfoFacts f = info_facts("m.mvx", map_stats(m, grid_bytes), &sc);
        EXPECT_EQ(f.stats.voids, c.is_void ? band : 0);
        EXPECT_EQ(f.stats.water, !c.is_void && c.height < 0 ? band : 0);
        EXPECT_EQ(f.sea, grid_cells - band);  // level 0, the sea's, elsewhere

        const std::vector<float> box = box_heights(m, sc, 1, -32768);
        EXPECT_EQ(std::count(box.begin(), box.end(), -32768.0f), c.is_void ? 6 * 40 : 0);

        ASSERT_TRUE(export_png(m, dir + "/h.png", 64, true).ok);
        ImportOptions o;
        o.heights = {dir + "/h.png"};
        o.fit = FitMode::stretch;
        Heights back;
        std::vector<std::string> notes;
        ASSERT_TRUE(read_import(o, 96, 64, back, notes).ok);
        EXPECT_EQ(std::count(back.field.voids.begin(), back.field.voids.end(), 1), c.is_void ? 4 * 96 : 0);
        EXPECT_EQ(back.field.voids[4 * 96], 0);
    }
}

}  // namespace
