// Importing: level scales, placement on the ground, resampling with voids, and the whole pipeline.
#include "export.h"
#include "gdal_rasters.h"
#include "imagery.h"
#include "import.h"
#include "import_report.h"
#include "info.h"
#include "rasters.h"

#include "scratch.h"

#include <gdal.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

TEST(LevelScale, EndsMapToTheExtremeLevels) {
    const struct {
        const char *what;
        LevelScale s;
        double in, want;
    } cases[] = {
        {"minimum", {141, 547, false, 0}, 141, -128},
        {"maximum", {141, 547, false, 0}, 547, 127},
        {"between", {141, 547, false, 0}, 344, -128 + 203 * 255.0 / 406},
        {"below the range is clamped", {0, 1000, false, 0}, -50, -128},
        {"above the range is clamped", {0, 1000, false, 0}, 2000, 127},
        {"the sea level is the boundary of -1 and 0", {0, 1000, true, 200}, 200, -0.5},
        {"halfway under the sea", {0, 1000, true, 200}, 100, -64.25},
        {"halfway above the sea", {0, 1000, true, 200}, 600, 63.25},
        {"lowest with a sea level", {0, 1000, true, 200}, 0, -128},
        {"highest with a sea level", {0, 1000, true, 200}, 1000, 127},
        {"sea below everything: no water", {100, 500, true, 50}, 100, -0.5 + 127.5 * 50 / 450},
        {"sea above everything: all water", {100, 500, true, 900}, 500, -128 + 127.5 * 400 / 800},
        {"the sea at the bottom of the range", {0, 1000, false, 0, 0, true, -128}, 0, -128},
        {"land just above it", {0, 1000, false, 0, 0, true, -128}, 1000 / 254.5, -126.5},
        {"flat input is level 0", {7, 7, false, 0}, 7, 0},
    };
    for (const auto &c : cases) EXPECT_NEAR(c.s(c.in), c.want, 1e-4) << c.what;
}

// However the levels are chosen, a height at or below the sea level gets a level that info calls
// sea and that exports at or below the sea level, and a height above it one that is land: the
// sea lies on a level boundary.
TEST(LevelScale, SeaAndLandKeepToTheirOwnLevels) {
    const struct {
        const char *what;
        double lo, hi, sea;
        bool given;
        double per_level;
        int first_land;  // the lowest land level
    } cases[] = {
        {"bathymetry and land", -5000, 3000, 0, false, 0, 0},
        {"shallow sea beside high land", -1, 4000, 0, false, 0, 0},
        {"a sea level given", 0, 1000, 200, true, 0, 0},
        {"the sea is the lowest height", 0, 2500, 0, false, 0, -127},
        {"all land", 20, 900, 0, false, 0, -128},
        {"exaggerated across the sea", -200, 300, 0, false, 3, 0},
        {"sea given above the heights", 100, 500, 900, true, 0, 128},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        LevelScale s{c.lo, c.hi};
        s.per_level = c.per_level;
        place_sea(s, c.sea, c.given, false);
        Sidecar sc;
        s.mapping(sc);
        sc.sea_level = c.sea;
        const double span = c.hi - c.lo;
        std::vector<double> heights = {c.sea, std::nextafter(c.sea, 1e9), std::nextafter(c.sea, -1e9), c.lo, c.hi};
        for (int i = 0; i <= 10000; ++i) heights.push_back(c.lo + span * i / 10000);
        int lowest_land = 128;
        for (double v : heights) {
            if (v < c.lo || v > c.hi) continue;
            const int level = s.level(v);
            ASSERT_EQ(is_sea_level(sc, level), v <= c.sea) << v << " at level " << level;
            ASSERT_EQ(height_of_level(sc, level) <= c.sea, v <= c.sea) << v;
            if (v > c.sea) lowest_land = std::min(lowest_land, level);
        }
        if (c.first_land < 128) {
            EXPECT_EQ(lowest_land, c.first_land);
        }
    }
}

TEST(LevelScale, QuantisedLevelsNeverDecrease) {
    for (const LevelScale s : {LevelScale{-431.5, 8848, false, 0}, LevelScale{-431.5, 8848, true, 0}, LevelScale{0, 65535, true, 30000}}) {
        int prev = -129;
        for (double v = s.lo - 10; v <= s.hi + 10; v += (s.hi - s.lo) / 100003) {
            const int q = quantise(s(v));
            ASSERT_GE(q, prev) << v;
            prev = q;
        }
        EXPECT_EQ(quantise(s(s.lo)), -128);
        EXPECT_EQ(quantise(s(s.hi)), 127);
    }
}

TEST(LevelScale, ExportedLevelsComeBackExactly) {
    const LevelScale s{0, 65535, false, 0};
    for (int h = -128; h <= 127; ++h) EXPECT_EQ(s((h + 128) * 257), static_cast<float>(h)) << h;
}

TEST(LevelScale, ChosenFromGivenDeclaredOrDataRange) {
    const std::vector<float> z = {150, 0, -20, 900};
    std::vector<uint8_t> voids = {0, 1, 0, 0};
    LevelScale s;
    ASSERT_TRUE(choose_scale(z, voids, {}, "x", s).ok);
    EXPECT_EQ(s.lo, -20);  // the void's 0 is not a height
    EXPECT_EQ(s.hi, 900);
    ASSERT_TRUE(choose_scale(z, voids, {false, 0, 0, true}, "x", s).ok);
    EXPECT_EQ(s.hi, 65535);
    ASSERT_TRUE(choose_scale(z, voids, {true, -1, 1, true}, "x", s).ok);
    EXPECT_EQ(s.lo, -1);
    EXPECT_EQ(s.hi, 1);
    voids.assign(4, 1);
    const Status st = choose_scale(z, voids, {}, "all.tif", s);
    EXPECT_FALSE(st.ok);
    EXPECT_EQ(st.why, "all.tif: no heights: every sample is a void");
}

// The sidecar's heights for each level invert the scale: a level's height maps back to that level.
TEST(LevelScale, MappingInvertsEveryKind) {
    LevelScale with_sea{0, 1000, true, 200}, exaggerated{100, 500, false, 0, 2.5}, sea_exaggerated{-50, 50, true, 10, 0.5};
    for (const LevelScale &s : {LevelScale{141, 547}, with_sea, exaggerated, sea_exaggerated}) {
        Sidecar sc;
        s.mapping(sc);
        for (int level : {-128, -77, -1, 0, 1, 64, 127}) {
            const float back = s(height_of_level(sc, level));
            if (back > -128 && back < 127) {
                EXPECT_NEAR(back, level, 1e-4) << level;
            }
        }
    }
    EXPECT_NEAR(exaggerated(300), -0.5, 1e-9);  // the middle of the range sits between levels
    EXPECT_EQ(exaggerated.unclamped(1000), -0.5 + 700 / 2.5);
    EXPECT_EQ(exaggerated(1000), 127);
}

class Imports : public Scratch {
protected:
    // Reads `s` written as GeoTIFF into a grid_w x grid_h grid, as import places it.
    Heights read(const RasterSpec &s, int grid_w, int grid_h, FitMode fit = FitMode::pad, const Bounds *b = nullptr,
                 Resampling r = Resampling::automatic) {
        const std::string path = dir + "/r" + std::to_string(files++) + ".tif";
        write_raster(path, "GTiff", s);
        ImportOptions o;
        o.heights = {path};
        o.fit = fit;
        o.resample = r;
        if (b) o.has_bounds = true, o.bounds = *b;
        Heights h;
        std::vector<std::string> notes;
        const Status st = read_import(o, grid_w, grid_h, h, notes);
        EXPECT_TRUE(st.ok) << st.why;
        return h;
    }
    int files = 0;
};

// The box has the input's proportions on the ground, however its pixels are shaped.
TEST_F(Imports, PlacementFollowsTheGround) {
    const double metres_per_degree = 6378137 * M_PI / 180, cos_36_5 = std::cos(36.5 * M_PI / 180);
    const int tile_w = static_cast<int>(std::lround(4096 * cos_36_5));  // 89.5 km wide, 111.3 km long
    RasterSpec utm;
    utm.w = 300, utm.h = 200, utm.values.assign(300 * 200, 1), utm.gt = {500000, 10, 0, 5000000, 0, -10}, utm.epsg = 32633;
    RasterSpec plain;
    plain.w = 64, plain.h = 64, plain.values.assign(64 * 64, 1);
    const struct {
        const char *what;
        RasterSpec s;
        FitMode fit;
        int x0, y0, w, h;
        double cell_x;
    } cases[] = {
        {"60 N: square pixels in degrees are half as wide", lonlat_raster(200, 100, 10, 60.5, 0.01, std::vector<double>(20000, 1)),
         FitMode::pad, 1024, 0, 4096, 4096, metres_per_degree * 2 * 0.5 / 4096},
        {"a 1 degree tile at 36 N is 89 x 111 km", lonlat_raster(10, 10, -85, 37, 0.1, std::vector<double>(100, 1)),
         FitMode::pad, (6144 - tile_w) / 2, 0, tile_w, 4096, metres_per_degree * cos_36_5 / tile_w},
        {"projected units as they are: 3:2 fills the map", utm, FitMode::pad, 0, 0, 6144, 4096, 3000.0 / 6144},
        {"not georeferenced: pixel proportions", plain, FitMode::pad, 1024, 0, 4096, 4096, 0},
        {"crop fills the map", plain, FitMode::crop, 0, 0, 6144, 4096, 0},
        {"stretch fills the map", plain, FitMode::stretch, 0, 0, 6144, 4096, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const Heights h = read(c.s, colonnes, lignes, c.fit);
        EXPECT_EQ(h.place.x0, c.x0);
        EXPECT_EQ(h.place.y0, c.y0);
        EXPECT_NEAR(h.place.w, c.w, 1);
        EXPECT_EQ(h.place.h, c.h);
        EXPECT_NEAR(h.place.cell_x, c.cell_x, 0.002 * c.cell_x + 1e-9);
    }
    // Crop keeps the middle two thirds of the square's rows.
    const Heights crop = read(plain, colonnes, lignes, FitMode::crop);
    EXPECT_NEAR(crop.place.sy, 64 / 6.0, 1e-9);
    EXPECT_NEAR(crop.place.sh, 64 * 2 / 3.0, 1e-9);
}

TEST_F(Imports, BoundsPickTheirRegion) {
    std::vector<double> v(200 * 200);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x) v[y * 200 + x] = x + 1000 * y;
    const RasterSpec s = lonlat_raster(200, 200, 10, 46, 0.01, v);
    const Bounds b{10.5, 44.5, 10.8, 44.7};
    const Heights h = read(s, 30, 20, FitMode::stretch, &b);
    EXPECT_NEAR(h.place.sx, 50, 1e-6);
    EXPECT_NEAR(h.place.sy, 130, 1e-6);
    EXPECT_NEAR(h.place.sw, 30, 1e-6);
    EXPECT_NEAR(h.place.sh, 20, 1e-6);
    EXPECT_NEAR(h.field.z[0], 50 + 1000 * 130, 0.01);  // one input pixel a cell: the region's corner
    EXPECT_NEAR(h.field.z[30 * 20 - 1], 79 + 1000 * 149, 0.01);
    write_raster(dir + "/b.tif", "GTiff", s);
    ImportOptions o;
    o.heights = {dir + "/b.tif"};
    o.has_bounds = true, o.bounds = {20, 10, 21, 11};
    Heights out;
    std::vector<std::string> notes;
    const Status st = read_import(o, 30, 20, out, notes);
    EXPECT_FALSE(st.ok);
    EXPECT_NE(st.why.find("lies outside"), std::string::npos) << st.why;
}

// Rows running south to north, or columns east to west, are read in the ground's order: the same
// heights as the north-up twin, to the bit, whatever the pixels' shape and however the grid scales.
TEST_F(Imports, SouthUpOrMirroredRasterEqualsNorthUp) {
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
            const Heights a = read(north, gw, gh), b = read(twin, gw, gh);
            EXPECT_EQ(a.place.w, b.place.w);
            EXPECT_EQ(a.field.z, b.field.z) << gw;
            EXPECT_EQ(a.field.voids, b.field.voids) << gw;
            EXPECT_EQ(b.src.notes.size(), c.notes);
        }
    }
}

TEST_F(Imports, GeoreferencingRotatedOrUnusable) {
    std::vector<double> v(400, 50);
    RasterSpec rotated = lonlat_raster(20, 20, 10, 45, 0.01, v), flat = rotated;
    const double a = 30 * M_PI / 180;
    rotated.gt = {10, 0.01 * std::cos(a), -0.01 * std::sin(a), 45, -0.01 * std::sin(a), -0.01 * std::cos(a)};
    const Heights h = read(rotated, 30, 20);
    ASSERT_EQ(h.src.notes.size(), 1u);
    EXPECT_NE(h.src.notes[0].find("rotated georeferencing: warped north-up"), std::string::npos);
    EXPECT_EQ(h.field.z[10 * 30 + 15], 50);  // the middle is data, the corners the warp leaves are voids
    EXPECT_EQ(h.field.voids[0], 1);
    // A VRT keeps whatever geotransform it is given, even one with no width to its pixels.
    write_raster(dir + "/flat.tif", "GTiff", flat);
    const std::string vrt = "<VRTDataset rasterXSize=\"20\" rasterYSize=\"20\"><GeoTransform>10, 0, 0, 45, 0, -0.01</GeoTransform>"
                            "<VRTRasterBand dataType=\"Float32\" band=\"1\"><SimpleSource><SourceFilename>" + dir +
                            "/flat.tif</SourceFilename></SimpleSource></VRTRasterBand></VRTDataset>";
    write_bytes(dir + "/zero.vrt", Bytes(vrt.begin(), vrt.end()));
    HeightSource src;
    const Status st = open_heights({dir + "/zero.vrt"}, 0, 0, src);
    EXPECT_EQ(st.why, dir + "/zero.vrt: unusable georeferencing: its pixels have no size (the geotransform has no inverse)");
}

// Shrinking takes area averages with voids left out; enlarging interpolates with voids left out.
TEST_F(Imports, ResamplingKeepsVoidsOut) {
    RasterSpec check;
    check.w = 12, check.h = 8;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) check.values.push_back((x + y) % 2 ? 10 : 0);
    Heights h = read(check, 6, 4);
    EXPECT_EQ(h.field.z, std::vector<float>(24, 5)) << "a checkerboard shrunk 2:1 is flat";

    RasterSpec holes = check;
    holes.has_nodata = true, holes.nodata = -1;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) holes.values[y * 12 + x] = x % 2 == 0 && y % 2 == 0 ? -1 : x + 100 * y;
    holes.values[0] = holes.values[1] = holes.values[12] = holes.values[13] = -1;  // one block all void
    h = read(holes, 6, 4);
    EXPECT_EQ(h.field.voids[0], 1);
    EXPECT_EQ(std::count(h.field.voids.begin(), h.field.voids.end(), 1), 1);
    EXPECT_FLOAT_EQ(h.field.z[1], (3 + 102 + 103) / 3.0f);  // the void left out of the block's mean

    RasterSpec pair;
    pair.w = 3, pair.h = 2, pair.values = {10, 20, -1, 10, 20, -1}, pair.has_nodata = true, pair.nodata = -1;
    h = read(pair, 12, 8, FitMode::pad, nullptr, Resampling::automatic);
    for (int x = 0; x < 12; ++x) {
        EXPECT_EQ(h.field.voids[x], x >= 10) << x;  // only where no valid sample is near
        if (x < 8) {
            EXPECT_LE(h.field.z[x], 20) << x;
        }
    }
    EXPECT_FLOAT_EQ(h.field.z[6], 20);  // next to the void: the valid neighbour alone, not a blend with it
}

// Overviews count: a file too large to read whole at the sample limit is read from the overview
// that still has a sample for every cell.
TEST_F(Imports, OverviewsBringAFileUnderTheLimit) {
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

// The light falls on slopes as steep as on the ground: the same heights over cells a hundred times
// wider are gentle hills, not rock.
TEST_F(Imports, HillshadeUsesTheCellsTrueSize) {
    std::vector<double> v;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) v.push_back(10.0 * x);  // rising 10 m a pixel, eastwards: lowland
    RasterSpec steep;
    steep.w = 30, steep.h = 20, steep.values = v, steep.gt = {0, 10, 0, 200, 0, -10}, steep.epsg = 32633;
    RasterSpec gentle = steep;
    gentle.gt = {0, 1000, 0, 20000, 0, -1000};
    auto colour = [&](const RasterSpec &s) {
        const Heights h = read(s, 30, 20);
        LevelScale scale;
        choose_scale(h.field.z, h.field.voids, {}, "x", scale);
        std::vector<uint16_t> c(600);
        colour_relief(h.field.z.data(), 30, 20, c.data(), h.field.voids.data(), relief_for(h, scale, 0));
        return c[10 * 30 + 15];
    };
    const uint16_t rock = colour(steep), hills = colour(gentle);
    EXPECT_LE(std::abs(canal_r(rock) - canal_g(rock)), 1) << "45 degrees: bare rock, grey";
    EXPECT_GT(canal_g(hills), canal_r(hills) + 1) << "0.6 degrees: green";
}

class Pipeline : public Scratch {
protected:
    Status import(ImportOptions o, Map &m, Sidecar &sc, std::vector<std::string> &notes) {
        return import_map(o, m, sc, notes);
    }
    static bool said(const std::vector<std::string> &notes, const std::string &part) {
        return std::any_of(notes.begin(), notes.end(), [&](const std::string &n) { return n.find(part) != std::string::npos; });
    }
    // Heights exported from a map as a GeoTIFF, read back.
    struct Exported {
        std::vector<float> z;
        double gt[6] = {};
        int w = 0, h = 0;
        // The height over a point in the map's coordinates, or NaN outside.
        float at(double x, double y) const {
            const int px = static_cast<int>(std::floor((x - gt[0]) / gt[1])), py = static_cast<int>(std::floor((y - gt[3]) / gt[5]));
            return px >= 0 && px < w && py >= 0 && py < h ? z[static_cast<size_t>(py) * w + px] : NAN;
        }
    };
    // Imports as `o` says into o.out with its sidecar, then exports the heights and reads them back.
    void import_and_export(const ImportOptions &o, Sidecar &sc, std::vector<std::string> &notes, Exported &out) {
        Map m;
        ASSERT_TRUE(import(o, m, sc, notes).ok);
        ASSERT_TRUE(save_map(o.out, m, sc, Links::follow).ok);
        ExportOptions e;
        e.map = o.out, e.out = dir + "/back.tif", e.heights = true;
        std::string done;
        ASSERT_TRUE(export_map(e, done).ok) << done;
        GDALDatasetH ds = GDALOpen(e.out.c_str(), GA_ReadOnly);
        ASSERT_NE(ds, nullptr);
        GDALGetGeoTransform(ds, out.gt);
        out.w = GDALGetRasterXSize(ds), out.h = GDALGetRasterYSize(ds);
        out.z.resize(static_cast<size_t>(out.w) * out.h);
        const CPLErr read = GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, 0, out.w, out.h, out.z.data(), out.w, out.h,
                                         GDT_Float32, 0, 0);
        GDALClose(ds);
        ASSERT_EQ(read, CE_None);
    }
};

TEST_F(Pipeline, RawHeightsFillTheMap) {
    // 6 × 4, rising to the right and downwards: lowest at the top-left corner, highest at the bottom-right.
    Bytes r16;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const int v = 1000 + 100 * x + 7 * y;
            r16.push_back(static_cast<uint8_t>(v)), r16.push_back(static_cast<uint8_t>(v >> 8));
        }
    write_bytes(dir + "/h.r16", r16);
    ImportOptions o;
    o.heights = {dir + "/h.r16"};
    o.size_w = 6, o.size_h = 4;
    Map m;
    Sidecar sc;
    std::vector<std::string> notes;
    ASSERT_TRUE(import(o, m, sc, notes).ok);
    EXPECT_EQ(m.height[0], -128);
    EXPECT_EQ(m.height[cellules - 1], 127);
    for (int x = 1; x < colonnes; ++x) ASSERT_GE(m.height[2000LL * colonnes + x], m.height[2000LL * colonnes + x - 1]) << x;
    EXPECT_EQ(std::count_if(m.colour.begin(), m.colour.end(), [](uint16_t c) { return c >> 15; }), 0);
    EXPECT_TRUE(said(notes, "6 x 4, heights 1000 to 1521 mapped onto levels -128 to 127"));
    EXPECT_TRUE(said(notes, "sea: 0.0% of the map"));
}

// Sea only at or below the sea level: none on land that is all above it, the real coastline on
// a grid of both signs.
TEST_F(Pipeline, SeaFollowsTheRealHeights) {
    std::vector<double> v(60 * 40);
    for (int i = 0; i < 2400; ++i) v[i] = (i % 60) * 10 - 150;  // -150 ... 440: a quarter at or below 0
    const struct {
        const char *what;
        double offset;
        const char *share;
    } cases[] = {{"all above", 1000, "sea: 0.0% of the map"}, {"both signs", 0, "sea: 26.7% of the map"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<double> z = v;
        for (double &x : z) x += c.offset;
        RasterSpec s;
        s.w = 60, s.h = 40, s.values = z, s.gt = {0, 100, 0, 4000, 0, -100}, s.epsg = 32633;
        write_raster(dir + "/s.tif", "GTiff", s);
        ImportOptions o;
        o.heights = {dir + "/s.tif"};
        o.resample = Resampling::nearest;  // 16 columns in 60 at or below 0: 26.7 %
        Map m;
        Sidecar sc;
        std::vector<std::string> notes;
        ASSERT_TRUE(import(o, m, sc, notes).ok);
        EXPECT_TRUE(said(notes, c.share)) << notes.back();
        long long water_tint = 0;
        for (long long i = 0; i < cellules; ++i) water_tint += canal_b(m.colour[i]) > canal_r(m.colour[i]) + 4;
        EXPECT_EQ(water_tint > 0, c.offset == 0);
    }
}

// Shallow sea a metre deep beside deep sea and land: the summary, info and the exported heights
// agree on the sea, and the shallow sea comes back at or below the sea level.
TEST_F(Pipeline, SeaAgreesInSummaryInfoAndExport) {
    RasterSpec s;
    s.w = 60, s.h = 40, s.gt = {400000, 250, 0, 5010000, 0, -250}, s.epsg = 32633, s.unit = "m";
    auto height = [](int x) { return x < 10 ? -3000.0 : x < 20 ? -1.0 : 0.5 + 100.0 * (x - 20); };
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) s.values.push_back(height(x));
    write_raster(dir + "/coast.tif", "GTiff", s);
    ImportOptions o;
    o.heights = {dir + "/coast.tif"};
    o.out = dir + "/coast.mvx";
    o.resample = Resampling::nearest;
    Sidecar sc;
    std::vector<std::string> notes;
    Exported back;
    ASSERT_NO_FATAL_FAILURE(import_and_export(o, sc, notes, back));
    EXPECT_TRUE(said(notes, "sea: 33.3% of the map")) << notes.back();
    InfoOptions i;
    i.map = o.out;
    std::string report;
    ASSERT_TRUE(map_info(i, report).ok);
    EXPECT_NE(report.find("sea (at or below 0 m): 33.3% of cells"), std::string::npos) << report;
    for (int x = 0; x < 60; ++x) {
        const float z = back.at(400000 + 250 * (x + 0.5), 5010000 - 250 * 20);
        EXPECT_EQ(z <= 0, height(x) <= 0) << x << ": " << z;
        EXPECT_NEAR(z, height(x), (z <= 0 ? sc.per_level_below : sc.per_level_above) / 2 + 1e-3) << x;
    }
}

// A georeferenced image half outside the heights is placed by its coordinates; tints fill the rest.
TEST_F(Pipeline, ImageryPlacedByItsGeoreferencing) {
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
    const long long row = 2048LL * colonnes;
    EXPECT_EQ(canal_r(m.colour[row + 5000]), 31);   // east half: the image
    EXPECT_EQ(canal_g(m.colour[row + 5000]), 0);
    EXPECT_LT(canal_r(m.colour[row + 1000]), 31);   // west half: the land tint
    EXPECT_GT(canal_g(m.colour[row + 1000]), 8);
    EXPECT_TRUE(said(notes, "covers 50.0% of the heights' area"));
}

// Images of any depth and kind give their colours, scaled to 5 bits: the three bands chosen,
// 16-bit samples from 0 to their largest, a palette expanded, one grey band as grey.
TEST_F(Pipeline, ImageryOfEachKind) {
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
            EXPECT_NEAR(canal_r(colour[i]), c.r, 1) << i;
            EXPECT_NEAR(canal_g(colour[i]), c.g, 1) << i;
            EXPECT_NEAR(canal_b(colour[i]), c.b, 1) << i;
        }
    }
}

TEST_F(Pipeline, ColourImageStretchedAndVoidsKeepTheirOwn) {
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
    for (const long long i : {2048LL * colonnes + 1024, 0LL * colonnes + 5119, 4095LL * colonnes + 3000}) {
        EXPECT_EQ(canal_r(m.colour[i]), 31) << i;
        EXPECT_EQ(canal_g(m.colour[i]) + canal_b(m.colour[i]), 0) << i;
    }
    const struct {
        int x, y, data_x;
    } margin[] = {{0, 0, 1024}, {1023, 2048, 1024}, {5120, 2048, 5119}, {6143, 4095, 5119}, {700, 3000, 1024}};
    for (const auto &c : margin) {
        const long long i = 1LL * c.y * colonnes + c.x;
        EXPECT_EQ(m.colour[i], void_cell_colour) << c.x << ", " << c.y;
        EXPECT_EQ(m.height[i], m.height[1LL * c.y * colonnes + c.data_x]) << c.x << ", " << c.y;
    }
    EXPECT_NE(m.height[0], m.height[4095LL * colonnes]);  // the data is not flat: the margin follows it
    EXPECT_TRUE(said(notes, "stretched over the heights' 2 x 2"));
    o.colour = dir + "/none.png";
    const Status st = import(o, m, sc, notes);
    EXPECT_EQ(st.why, dir + "/none.png: cannot open: No such file or directory");
}

TEST_F(Pipeline, ExportedHeightsImportBackIdentical) {
    // A map that uses only part of the level range, so a min/max stretch would show.
    Map m;
    for (long long i = 0; i < cellules; ++i) m.height[i] = static_cast<int8_t>((i * 7 + i / colonnes * 13) % 200 - 90);
    ASSERT_TRUE(export_png(m, dir + "/h.png", 1, true).ok);
    ImportOptions o;
    o.heights = {dir + "/h.png"};
    Map back;
    Sidecar sc;
    std::vector<std::string> notes;
    ASSERT_TRUE(import(o, back, sc, notes).ok);
    EXPECT_TRUE(back.height == m.height);
}

// Heights go out to a GeoTIFF in metres and come back within half a level, in the same place.
TEST_F(Pipeline, GeoTiffExportReturnsTheSourceInMetres) {
    RasterSpec s;
    s.w = 60, s.h = 40, s.gt = {400000, 250, 0, 5010000, 0, -250}, s.epsg = 32633, s.unit = "m";
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) s.values.push_back(100 + 20.0 * x - 7.5 * y);
    write_raster(dir + "/ramp.tif", "GTiff", s);
    ImportOptions o;
    o.heights = {dir + "/ramp.tif"};
    o.out = dir + "/ramp.mvx";
    Sidecar sc;
    std::vector<std::string> notes;
    Exported back;
    ASSERT_NO_FATAL_FAILURE(import_and_export(o, sc, notes, back));
    const double half_level = sc.per_level_above / 2;
    for (int y = 2; y < 38; y += 5)
        for (int x = 2; x < 58; x += 5) {
            // Each source pixel's centre, found in the export by its coordinates, within half a
            // level and what the ramp climbs in the half cell between their centres.
            const float z = back.at(400000 + 250 * (x + 0.5), 5010000 - 250 * (y + 0.5));
            EXPECT_NEAR(z, s.values[y * 60 + x], half_level + 0.15) << x << "," << y;
        }
}

TEST_F(Pipeline, ExaggerationSetsMetresPerLevelAndCountsClamps) {
    RasterSpec s;
    s.w = 30, s.h = 20, s.gt = {0, 300, 0, 6000, 0, -300}, s.epsg = 32633;
    for (int i = 0; i < 600; ++i) s.values.push_back(i % 30 < 15 ? 0 : 3000);
    write_raster(dir + "/e.tif", "GTiff", s);
    ImportOptions o;
    o.heights = {dir + "/e.tif"};
    o.exaggeration = 2;
    o.resample = Resampling::nearest;
    Map m;
    Sidecar sc;
    std::vector<std::string> notes;
    ASSERT_TRUE(import(o, m, sc, notes).ok);
    // 9000 m / 6144 cells is 1.46 m a cell; twice the relief puts a level at a sixth of that.
    EXPECT_NEAR(sc.per_level_above, 9000.0 / 6144 / 3 / 2, 1e-9);
    // Centred on the sea: the coast's 0 m is level -1, the heights 3000 m above it clamped.
    EXPECT_TRUE(said(notes, "12582912 cells (50.0%) clamped"));
    EXPECT_EQ(m.height[2048 * colonnes + 10], -1);
}

TEST_F(Pipeline, FirstViewHintOnlyWhenTheViewMissesTheData) {
    const struct {
        int w, h;
        bool hint;
    } cases[] = {{40, 200, true}, {300, 200, false}};
    for (const auto &c : cases) {
        RasterSpec s;
        s.w = c.w, s.h = c.h, s.values.assign(static_cast<size_t>(c.w) * c.h, 5);
        write_raster(dir + "/v.tif", "GTiff", s);
        ImportOptions o;
        o.heights = {dir + "/v.tif"};
        Heights h;
        std::vector<std::string> notes;
        ASSERT_TRUE(read_import(o, colonnes, lignes, h, notes).ok);
        const std::string hint = first_view_hint(h.field);
        EXPECT_EQ(!hint.empty(), c.hint) << hint;
        if (c.hint) {
            EXPECT_NE(hint.find("press 6 about 137 times"), std::string::npos) << hint;
        }
    }
}

}  // namespace
