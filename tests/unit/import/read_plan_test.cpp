// The read plan: each tile at its own level and resolution, in the order of the ground, overlaps counted once.
#include "tests/unit/import/heights_fixture.h"

#include <gdal.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

class ReadPlan : public HeightFiles {};

// Overviews count: a file too large to read whole at the sample limit is read from the overview
// that still has a sample for every cell.
TEST_F(ReadPlan, OverviewsBringAFileUnderTheLimit) {
    RasterSpec s;
    s.w = 1200, s.h = 800, s.values.assign(1200 * 800, 7);
    // The same raster twice, once with overviews. Their reads go through a VRT (the file's samples
    // are floats with no NoData value), where GDAL 3.6 lost the first band read through overviews.
    write_raster(dir + "/plain.tif", "GTiff", s);
    write_raster(dir + "/ovr.tif", "GTiff", s);
    GDALDatasetH ds = GDALOpen((dir + "/ovr.tif").c_str(), GA_Update);
    int levels[] = {2, 4, 8};
    ASSERT_EQ(GDALBuildOverviews(ds, "AVERAGE", 3, levels, 0, nullptr, nullptr, nullptr), CE_None);
    GDALClose(ds);
    ImportOptions o;
    o.max_samples = 100000;  // the grid below needs 150 x 100 cells; the files have 960,000 samples
    o.heights = {dir + "/plain.tif"};
    Heights h;
    std::vector<std::string> notes;
    const Status refused = read_import(o, 150, 100, h, notes);
    EXPECT_NE(refused.why.find("build overviews first (gdaladdo -r average"), std::string::npos) << refused.why;
    o.heights = {dir + "/ovr.tif"};
    const Status st = read_import(o, 150, 100, h, notes);
    ASSERT_TRUE(st.ok) << st.why;  // 1/4 has 300 x 200: enough, and 60,000 samples
    EXPECT_EQ(std::count(h.field.z.begin(), h.field.z.end(), 7.0f), 150 * 100);
}

// A tile three times coarser beside a fine one is read at its own resolution: away from the seam,
// its cells are what reading it alone gives, not a blend of its samples repeated at the fine one's.
TEST_F(ReadPlan, CoarserTileIsReadAtItsOwnResolution) {
    const std::string fine = write("fine.tif", sampled(30, 30, 6, 46, 0.01, 0.01, relief));
    const std::string coarse = write("coarse.tif", sampled(10, 10, 6.3, 46, 0.03, 0.03, relief));
    const Heights both = read({fine, coarse}, 40, 20);
    ASSERT_EQ(both.src.w, 60);  // the union at the finest resolution
    HeightSource alone;
    ASSERT_TRUE(open_heights({coarse}, 0, 0, alone).ok);
    Field f;
    ASSERT_TRUE(read_field(alone, both.place, Resampling::automatic, f).ok);
    int compared = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 24; x < 40; ++x) {  // the seam is at column 20; a coarse sample is 2 cells
            const size_t k = static_cast<size_t>(y) * 40 + x;
            ASSERT_FALSE(f.voids[k]);
            EXPECT_FLOAT_EQ(both.field.z[k], f.z[k]) << x << "," << y;
            ++compared;
        }
    EXPECT_EQ(compared, 320);
}

// Rows running south to north, or columns east to west, are read in the ground's order: the same
// heights as the north-up twin, to the bit, whatever the pixels' shape and however the grid scales.
TEST_F(ReadPlan, SouthUpOrMirroredRasterEqualsNorthUp) {
    const int w = 120, h = 91;
    const double dx = 0.0333, dy = 0.0219;
    std::vector<double> v(w * h);
    for (int i = 0; i < w * h; ++i) v[i] = i * 7 % 101 + 0.25 * (i % 13);
    RasterSpec north = lonlat_raster(w, h, 0, 1, dx, v);
    north.gt[5] = -dy;
    const struct {
        const char *what;
        bool flip_rows, flip_columns;
        size_t notes;
    } cases[] = {{"south up", true, false, 1}, {"east to west", false, true, 1}, {"both", true, true, 2}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RasterSpec twin = north;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                twin.values[(c.flip_rows ? h - 1 - y : y) * w + (c.flip_columns ? w - 1 - x : x)] = v[y * w + x];
        if (c.flip_rows) twin.gt[3] = 1 - h * dy, twin.gt[5] = dy;
        if (c.flip_columns) twin.gt[0] = w * dx, twin.gt[1] = -dx;
        for (const auto &[gw, gh] : {std::pair{120, 91}, std::pair{90, 60}, std::pair{300, 200}}) {
            const Heights a = read_spec(north, gw, gh), b = read_spec(twin, gw, gh);
            EXPECT_EQ(a.place.w, b.place.w);
            EXPECT_EQ(a.field.z, b.field.z) << gw;
            EXPECT_EQ(a.field.voids, b.field.voids) << gw;
            EXPECT_EQ(b.src.notes.size(), c.notes);
        }
    }
}

// The same raster cut into tiles, edge to edge, overlapping as 3DEP's do, or ragged, reads as the
// whole file does, shrunk by a factor that is not whole and enlarged.
TEST_F(ReadPlan, CutTilesReadLikeTheWholeFile) {
    const RasterSpec whole = sampled(97, 61, 6, 46, 0.01, 0.015, relief);
    const std::string one = write("whole.tif", whole);
    const struct {
        const char *what;
        std::vector<int> xs, ys;  // the cuts
        int overlap;
    } cuts[] = {
        {"4 x 3 tiles edge to edge", {0, 25, 50, 75, 97}, {0, 20, 40, 61}, 0},
        {"4 x 3 tiles overlapping by 3 pixels", {0, 25, 50, 75, 97}, {0, 20, 40, 61}, 3},
        {"2 x 2 ragged tiles", {0, 13, 97}, {0, 44, 61}, 0},
    };
    int n = 0;
    for (const auto &c : cuts) {
        std::vector<std::string> tiles;
        for (size_t j = 0; j + 1 < c.ys.size(); ++j)
            for (size_t i = 0; i + 1 < c.xs.size(); ++i) {
                const int x0 = std::max(0, c.xs[i] - c.overlap), x1 = std::min(97, c.xs[i + 1] + c.overlap);
                const int y0 = std::max(0, c.ys[j] - c.overlap), y1 = std::min(61, c.ys[j + 1] + c.overlap);
                tiles.push_back(write("t" + std::to_string(n++) + ".tif", cut(whole, x0, y0, x1 - x0, y1 - y0)));
            }
        for (const auto &[gw, gh] : {std::pair{41, 23}, std::pair{230, 150}}) {
            SCOPED_TRACE(std::string(c.what) + ", grid " + std::to_string(gw) + " x " + std::to_string(gh));
            const Heights a = read({one}, gw, gh), b = read(tiles, gw, gh);
            ASSERT_EQ(a.field.voids, b.field.voids);
            for (size_t k = 0; k < a.field.z.size(); ++k) ASSERT_NEAR(a.field.z[k], b.field.z[k], 1e-3) << k;
        }
    }
}

}  // namespace
