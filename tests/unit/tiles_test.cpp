// Reading straight into the grid: known answers for each kernel, and tile sets that read like the one file they were cut from.
#include "gdal_rasters.h"
#include "import.h"
#include "inputs.h"
#include "rasters.h"
#include "relief.h"

#include "scratch.h"

#include <gdal.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <functional>
#include <sys/stat.h>

namespace {

using Heightfn = std::function<double(double lon, double lat)>;

// A lonlat raster of `f` at its pixels' centres: w x h pixels of dx x dy degrees from (west, north).
RasterSpec sampled(int w, int h, double west, double north, double dx, double dy, const Heightfn &f) {
    RasterSpec s = lonlat_raster(w, h, west, north, dx, {});
    s.gt[5] = -dy;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) s.values.push_back(f(west + (x + 0.5) * dx, north - (y + 0.5) * dy));
    return s;
}

// Pixels x0 ... x0+w-1, y0 ... y0+h-1 of `s`, georeferenced where they lie.
RasterSpec cut(const RasterSpec &s, int x0, int y0, int w, int h) {
    RasterSpec t = s;
    t.w = w, t.h = h, t.values.clear();
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) t.values.push_back(s.values[static_cast<size_t>(y) * s.w + x]);
    t.gt[0] = s.gt[0] + x0 * s.gt[1], t.gt[3] = s.gt[3] + y0 * s.gt[5];
    return t;
}

double relief(double lon, double lat) { return 900 * std::sin(lon * 7) * std::cos(lat * 5) + 40 * lon - 25 * lat; }

class Tiles : public Scratch {
protected:
    std::string write(const std::string &name, const RasterSpec &s) {
        const std::string path = dir + "/" + name;
        write_raster(path, "GTiff", s);
        return path;
    }
    Heights read(const std::vector<std::string> &inputs, int gw, int gh, Resampling r = Resampling::automatic,
                 const std::string &list = "") {
        ImportOptions o;
        o.heights = inputs, o.input_list = list, o.fit = FitMode::stretch, o.resample = r;
        Heights h;
        std::vector<std::string> notes;
        const Status st = read_import(o, gw, gh, h, notes);
        EXPECT_TRUE(st.ok) << st.why;
        return h;
    }
};

// A linear ramp, 3 a column and 5 a row, not georeferenced, read by each kernel into grids finer
// and coarser than it; each cell against the answer worked out on paper: the mean of the samples
// under the cell by the integral of floor(), interpolation of a ramp is the ramp (held at the
// edges), the nearest sample is the one under the cell's centre.
TEST_F(Tiles, EachKernelGivesItsKnownAnswer) {
    const int w = 37, h = 23;
    RasterSpec s;
    s.w = w, s.h = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) s.values.push_back(3 * x + 5 * y);
    const std::string path = write("ramp.tif", s);
    // Mean of floor(t) over [a, b).
    auto mean_floor = [](double a, double b) {
        auto F = [](double x) {
            const double n = std::floor(x);
            return n * (n - 1) / 2 + n * (x - n);
        };
        return (F(b) - F(a)) / (b - a);
    };
    const struct {
        const char *what;
        Resampling r;
        int gw, gh;
    } cases[] = {
        {"area average, 37 x 23 into 10 x 7", Resampling::automatic, 10, 7},
        {"area average, by a factor just over one", Resampling::average, 33, 19},
        {"bilinear, 37 x 23 into 100 x 80", Resampling::bilinear, 100, 80},
        {"nearest, into 50 x 9", Resampling::nearest, 50, 9},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const Heights hh = read({path}, c.gw, c.gh, c.r);
        const double kx = static_cast<double>(w) / c.gw, ky = static_cast<double>(h) / c.gh;
        double worst = 0;
        for (int j = 0; j < c.gh; ++j)
            for (int i = 0; i < c.gw; ++i) {
                const double x = (i + 0.5) * kx, y = (j + 0.5) * ky;
                double want = 0;
                if (c.r == Resampling::nearest)
                    want = 3 * std::floor(x) + 5 * std::floor(y);
                else if (kx < 1)
                    want = 3 * std::clamp(x - 0.5, 0.0, w - 1.0) + 5 * std::clamp(y - 0.5, 0.0, h - 1.0);
                else
                    want = 3 * mean_floor(i * kx, (i + 1) * kx) + 5 * mean_floor(j * ky, (j + 1) * ky);
                ASSERT_EQ(hh.field.voids[static_cast<size_t>(j) * c.gw + i], 0);
                worst = std::max(worst, std::fabs(hh.field.z[static_cast<size_t>(j) * c.gw + i] - want));
            }
        EXPECT_LT(worst, 1e-3);
    }
}

// The default kernel enlarging 5 times (each sample's centre the centre of a cell): exact at the
// samples; inside (two samples from the edges) a ramp and a quadratic come back as they are, which
// Keys' cubic reproduces; beside a cliff no height lies beyond the samples around the cell, which
// the cubic alone overshoots.
TEST_F(Tiles, CubicIsExactAtSamplesSmoothBetweenAndHeldBesideCliffs) {
    const int w = 24, h = 17, k = 5;
    const struct {
        const char *what;
        std::function<double(double x, double y)> f;  // in samples, from the raster's corner
        bool reproduced;
    } cases[] = {
        {"ramp", [](double x, double y) { return 3 * x - 5 * y; }, true},
        {"quadratic", [](double x, double y) { return (x + 3) * (x + 3) + 2 * (y + 1) * (y + 1) + x * y; }, true},
        {"cliff", [](double x, double) { return x < 11 ? 0 : 100; }, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RasterSpec s;
        s.w = w, s.h = h;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) s.values.push_back(c.f(x + 0.5, y + 0.5));
        const Heights got = read({write(std::string(c.what) + ".tif", s)}, k * w, k * h);
        double worst = 0, lo = 1e9, hi = -1e9;
        int between = 0;
        for (int j = 0; j < k * h; ++j)
            for (int i = 0; i < k * w; ++i) {
                const float z = got.field.z[static_cast<size_t>(j) * k * w + i];
                lo = std::min<double>(lo, z), hi = std::max<double>(hi, z);
                const double x = (i + 0.5) / k, y = (j + 0.5) / k, want = c.f(x, y);
                if (i % k == k / 2 && j % k == k / 2) {
                    EXPECT_NEAR(z, want, 1e-4 * (1 + std::fabs(want))) << i << "," << j;
                }
                between += z > 0 && z < 100;
                if (c.reproduced && x > 2 && x < w - 2 && y > 2 && y < h - 2) worst = std::max(worst, std::fabs(z - want));
            }
        EXPECT_LT(worst, 1e-3);
        if (!c.reproduced) {
            EXPECT_GE(lo, 0);
            EXPECT_LE(hi, 100);
            EXPECT_GT(between, 2 * k * h);  // interpolated across the cliff, not stepped
        }
    }
}

// The summary says how large a sample is in cells and which kernel spread it.
TEST_F(Tiles, SummaryNamesTheKernel) {
    const std::string path = write("ramp.tif", sampled(20, 10, 6, 46, 0.01, 0.01, relief));
    const struct {
        int gw, gh;
        Resampling r;
        const char *says;
    } cases[] = {
        {10, 5, Resampling::automatic, "resampling: a sample is 0.5 x 0.5 cells; the area average"},
        {80, 40, Resampling::automatic, "resampling: a sample is 4 x 4 cells; cubic interpolation (Keys)"},
        {80, 40, Resampling::bilinear, "bilinear interpolation (--resample)"},
        {10, 5, Resampling::nearest, "the nearest sample (--resample)"},
    };
    for (const auto &c : cases) {
        ImportOptions o;
        o.heights = {path}, o.fit = FitMode::stretch, o.resample = c.r;
        Heights h;
        std::vector<std::string> notes;
        ASSERT_TRUE(read_import(o, c.gw, c.gh, h, notes).ok);
        EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [&](const std::string &n) { return n.find(c.says) != std::string::npos; }))
            << c.says;
    }
}

// Ridges 16 samples apart with smaller ones across them, enlarged 8 times and shaded as an import
// colours them: with the default
// kernel the light changes from cell to cell as much across a sample's centre as between (no grid
// shows up close); the bilinear surface bends at every sample, and the light jumps there.
TEST_F(Tiles, EnlargedReliefShowsNoGridInItsLight) {
    const int w = 28, h = 28, k = 8;  // square, so that rows and columns take the same loops
    RasterSpec s;
    s.w = w, s.h = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            s.values.push_back(40 * std::sin(0.4 * x + 0.15 * y) + 15 * std::sin(0.23 * y - 0.1 * x) + 4 * std::sin(1.1 * x + 0.7 * y));
    const std::string path = write("ridges.tif", s);
    Relief light;
    light.sea = -1000, light.land_span = 200, light.cell_x = light.cell_y = 2.0f / k;
    const struct {
        Resampling r;
        double lo, hi;  // the ratio of the jumps
    } cases[] = {{Resampling::automatic, 0.85, 1.15}, {Resampling::bilinear, 1.3, 10}};
    for (const auto &c : cases) {
        const Heights got = read({path}, k * w, k * h, c.r);
        std::vector<uint16_t> colour(got.field.z.size());
        colour_relief(got.field.z.data(), k * w, k * h, colour.data(), nullptr, light, 1);
        auto luminance = [&](int i, int j) {
            const uint16_t v = colour[static_cast<size_t>(j) * k * w + i];
            return 0.299 * (v >> 10 & 31) + 0.587 * (v >> 5 & 31) + 0.114 * (v & 31);
        };
        // Jumps between neighbours whose centres lie either side of a sample's centre, and between
        // the others, away from the edges; each over four cells along their edge, where the
        // ordered dither's thresholds sum alike and its own steps cancel.
        double at = 0, off = 0;
        int n_at = 0, n_off = 0;
        for (int j = 2 * k; j < k * (h - 2); j += 4)
            for (int i = 2 * k; i < k * (w - 2); ++i)
                for (const bool down : {false, true}) {
                    double jump = 0;
                    for (int r = 0; r < 4; ++r)
                        jump += down ? luminance(j + r, i + 1) - luminance(j + r, i) : luminance(i + 1, j + r) - luminance(i, j + r);
                    const bool across = (i + 1) % k == k / 2;
                    (across ? at : off) += std::fabs(jump), ++(across ? n_at : n_off);
                }
        const double ratio = (at / n_at) / (off / n_off);
        EXPECT_GT(ratio, c.lo) << static_cast<int>(c.r);
        EXPECT_LT(ratio, c.hi) << static_cast<int>(c.r);
    }
}

// The same raster cut into tiles, edge to edge, overlapping as 3DEP's do, or ragged, reads as the
// whole file does, shrunk by a factor that is not whole and enlarged.
TEST_F(Tiles, CutTilesReadLikeTheWholeFile) {
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

// A tile three times coarser beside a fine one is read at its own resolution: away from the seam,
// its cells are what reading it alone gives, not a blend of its samples repeated at the fine one's.
TEST_F(Tiles, CoarserTileIsReadAtItsOwnResolution) {
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

// Overlapping tiles fill each other's holes; a hole that nothing else covers stays a void.
TEST_F(Tiles, HolesAreVoidsOnlyWhereNothingValidCovers) {
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

// A tile in Web Mercator beside one in longitude and latitude is warped into the first's system,
// said so, and lands where it belongs.
TEST_F(Tiles, TileInAnotherSystemIsWarpedIntoTheFirsts) {
    const auto ramp = [](double lon, double lat) { return 1000 * lon + 400 * lat; };
    const std::string west = write("w.tif", sampled(40, 40, 6, 46, 0.01, 0.01, ramp));
    // The eastern neighbour, 6.4 to 6.8 E, sampled on a Web Mercator grid.
    const double r = 6378137, rad = M_PI / 180;
    const double mx0 = 6.4 * rad * r, mx1 = 6.8 * rad * r;
    const double my0 = r * std::log(std::tan(M_PI / 4 + 45.6 * rad / 2)), my1 = r * std::log(std::tan(M_PI / 4 + 46 * rad / 2));
    RasterSpec merc;
    merc.w = 50, merc.h = 60, merc.epsg = 3857;
    merc.gt = {mx0, (mx1 - mx0) / 50, 0, my1, 0, -(my1 - my0) / 60};
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 50; ++x) {
            const double mx = mx0 + (x + 0.5) * merc.gt[1], my = my1 + (y + 0.5) * merc.gt[5];
            merc.values.push_back(ramp(mx / r / rad, (2 * std::atan(std::exp(my / r)) - M_PI / 2) / rad));
        }
    const std::string east = write("e.tif", merc);
    ImportOptions o;
    o.heights = {west, east}, o.fit = FitMode::stretch;
    Heights h;
    std::vector<std::string> notes;
    const Status st = read_import(o, 80, 40, h, notes);
    ASSERT_TRUE(st.ok) << st.why;
    EXPECT_NE(std::find(notes.begin(), notes.end(), east + ": in EPSG:3857: warped into EPSG:4326 (bilinear)"), notes.end());
    int checked = 0;
    for (int y = 1; y < 39; ++y)
        for (int x = 44; x < 79; ++x) {  // inside the eastern tile
            const size_t k = static_cast<size_t>(y) * 80 + x;
            const double lon = h.place.gt[0] + (x + 0.5) * h.place.gt[1], lat = h.place.gt[3] + (y + 0.5) * h.place.gt[5];
            ASSERT_FALSE(h.field.voids[k]) << x << "," << y;
            EXPECT_NEAR(h.field.z[k], ramp(lon, lat), 1.0) << x << "," << y;
            ++checked;
        }
    EXPECT_EQ(checked, 38 * 35);
}

// Each tile read in its own terms: packed with its own scale and offset (Int16), or in feet
// beside metres; the heights come out whole, in the first tile's unit.
TEST_F(Tiles, EachTileUnpackedInItsOwnScaleAndUnit) {
    const struct {
        const char *unit;
        double scale, offset, per_metre;
    } tiles[] = {{"m", 0.5, 100, 1}, {"ft", 2, -50, 1 / 0.3048}};
    std::vector<std::string> files;
    for (int k = 0; k < 2; ++k) {
        const auto &c = tiles[k];
        RasterSpec s = lonlat_raster(10, 8, 6 + k * 0.1, 46, 0.01, {});
        s.type = "Int16", s.unit = c.unit, s.scale = c.scale, s.offset = c.offset;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 10; ++x)
                s.values.push_back(std::round(((200 + 4 * (10 * k + x) + 2 * y) * c.per_metre - c.offset) / c.scale));
        files.push_back(write("t" + std::to_string(k) + ".tif", s));
    }
    const Heights h = read(files, 20, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 20; ++x)
            EXPECT_NEAR(h.field.z[static_cast<size_t>(y) * 20 + x], 200 + 4 * x + 2 * y, x < 10 ? 0 : 0.31) << x << "," << y;
}

// A directory (companions, hidden files and notes left out, tiles below it found), a list in
// another order, and the files named in a third order all give the same heights.
TEST_F(Tiles, DirectoryListAndNamesGiveTheSameHeights) {
    const RasterSpec whole = sampled(60, 40, 6, 46, 0.01, 0.01, relief);
    ASSERT_EQ(mkdir((dir + "/set").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/set/south").c_str(), 0755), 0);
    std::vector<std::string> files;
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 3; ++i)
            files.push_back(write(std::string(j ? "set/south/" : "set/") + "t" + std::to_string(i) + ".tif",
                                  cut(whole, 20 * i, 20 * j, 20, 20)));
    for (const char *other : {"set/t0.tif.aux.xml", "set/notes.txt", "set/.hidden.tif", "set/t1.prj"})
        std::ofstream(dir + "/" + other) << "not a raster\n";
    std::ofstream(dir + "/list") << "# the tiles, south first\n\n" << files[5] << "\n" << files[3] << "\n  " << files[4]
                                 << "  \n" << files[0] << "\n" << files[2] << "\n" << files[1] << "\n";
    const Heights by_dir = read({dir + "/set"}, 45, 30);
    const Heights by_list = read({}, 45, 30, Resampling::automatic, dir + "/list");
    const Heights by_name = read({files[4], files[1], files[0], files[5], files[3], files[2]}, 45, 30);
    EXPECT_EQ(by_dir.src.tiles.size(), 6u);
    EXPECT_EQ(by_dir.field.z, by_name.field.z);
    EXPECT_EQ(by_list.field.z, by_name.field.z);
    EXPECT_EQ(by_dir.field.voids, by_name.field.voids);
    std::vector<std::string> none, notes;
    EXPECT_FALSE(expand_inputs({dir + "/set/south/.."}, dir + "/missing", none, notes).ok);
}

// Tiles that cover every cell hundreds of times over (one tile named again and again) are refused
// before any is read, naming the input; up to the bound they are read, overlaps counted once.
TEST_F(Tiles, TilesCoveringTheMapOverAndOverAreRefused) {
    const Heights one = read({write("one.tif", sampled(4, 4, 6, 46, 0.01, 0.01, relief))}, 16, 16);
    for (const int copies : {static_cast<int>(max_cell_passes), static_cast<int>(max_cell_passes) + 1}) {
        HeightSource src;
        src.label = "one.tif and " + std::to_string(copies - 1) + " more tiles";
        src.tiles.assign(static_cast<size_t>(copies), one.src.tiles[0]);
        src.w = one.src.w, src.h = one.src.h;
        std::copy(one.src.gt, one.src.gt + 6, src.gt);
        Field f;
        const Status st = read_field(src, one.place, Resampling::automatic, f);
        if (copies <= max_cell_passes) {
            ASSERT_TRUE(st.ok) << st.why;
            EXPECT_EQ(f.z, one.field.z);
        } else {
            EXPECT_EQ(st.why.rfind(src.label + ": ", 0), 0u) << st.why;
            EXPECT_NE(st.why.find("cover the map 257 times over"), std::string::npos) << st.why;
        }
    }
}

// More samples than 2^33: a sparse GeoTIFF of 10^10 whose one written block
// is all there is to read.
TEST_F(Tiles, SparseFileBeyondTwoToThe33IsRead) {
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

}  // namespace
