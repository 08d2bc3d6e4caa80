// The default world and its colouring: noise, determinism, statistics of the terrain, river carving, colours.
#include "levels.h"
#include "mapfile.h"
#include "noise.h"
#include "parallel.h"
#include "relief.h"
#include "worldgen.h"
#include "worldgen_stages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <set>
#include <vector>

namespace {

// A reduced run: the whole world at 1/16 of its size in each direction.
constexpr int small_w = colonnes / 16, small_h = lignes / 16;

uint64_t fnv(const void *p, size_t n, uint64_t h = 1469598103934665603ULL) {
    const auto *b = static_cast<const uint8_t *>(p);
    for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ULL;
    return h;
}

// Hash of what a map file would hold: quantised heights and colours.
uint64_t map_hash(const std::vector<float> &z, int w, int h) {
    std::vector<int8_t> q(z.size());
    std::vector<uint16_t> c(z.size());
    for (size_t i = 0; i < z.size(); ++i) q[i] = quantise(z[i]);
    colour_relief(z.data(), w, h, c.data());
    return fnv(c.data(), c.size() * 2, fnv(q.data(), q.size()));
}

// Land slopes in degrees on the viewer's scale (a cell is as wide as 3 levels are high), from
// central differences inside the field.
std::vector<float> land_slopes(const std::vector<float> &z, int w, int h, float cell_width) {
    std::vector<float> s;
    for (int y = 1; y + 1 < h; ++y)
        for (int x = 1; x + 1 < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            if (z[i] < 0) continue;
            const float dx = (z[i + 1] - z[i - 1]) / (2 * 3 * cell_width), dy = (z[i + w] - z[i - w]) / (2 * 3 * cell_width);
            s.push_back(std::atan(std::hypot(dx, dy)) * 180 / 3.14159265f);
        }
    return s;
}

TEST(Noise, DerivativeMatchesFiniteDifferencesAndLatticePointsAreZero) {
    const float e = 1e-3f;
    for (uint32_t seed : {1u, 77u, 0xdeadbeefu})
        for (float y = -3.3f; y < 3.0f; y += 0.37f)
            for (float x = -2.9f; x < 3.0f; x += 0.41f) {
                const Noise n = gradient_noise(x, y, seed);
                const float fx = (gradient_noise(x + e, y, seed).v - gradient_noise(x - e, y, seed).v) / (2 * e);
                const float fy = (gradient_noise(x, y + e, seed).v - gradient_noise(x, y - e, seed).v) / (2 * e);
                EXPECT_NEAR(n.dx, fx, 0.02f) << x << "," << y;
                EXPECT_NEAR(n.dy, fy, 0.02f) << x << "," << y;
                EXPECT_LE(std::fabs(n.v), 1.0f);
            }
    for (int i = -3; i <= 3; ++i) EXPECT_EQ(gradient_noise(static_cast<float>(i), static_cast<float>(2 - i), 5).v, 0.0f);
}

TEST(Noise, ValuesSpreadOverTheRangeAndSeedsDiffer) {
    float lo = 0, hi = 0;
    int same = 0;
    for (int k = 0; k < 20000; ++k) {
        const float x = 0.173f * k, y = 0.071f * k;
        const float v = gradient_noise(x, y, 3).v;
        lo = std::min(lo, v), hi = std::max(hi, v);
        same += v == gradient_noise(x, y, 4).v;
    }
    EXPECT_LT(lo, -0.6f);
    EXPECT_GT(hi, 0.6f);
    EXPECT_LT(same, 200);  // only near lattice points, where every seed gives 0
}

TEST(ParallelRows, EveryRowOnceForAnyThreadCountWithProgressFromTheCaller) {
    for (int n : {0, 1, 7, 100, 1000})
        for (int threads : {1, 2, 3, 8}) {
            std::vector<std::atomic<int>> seen(n);
            std::vector<int> ticks;
            parallel_rows(n, [&](int y0, int y1) {
                ASSERT_LE(0, y0);
                ASSERT_LT(y0, y1);
                ASSERT_LE(y1, n);
                for (int y = y0; y < y1; ++y) seen[y]++;
            }, threads, [&](int done) { ticks.push_back(done); });
            for (int y = 0; y < n; ++y) EXPECT_EQ(seen[y].load(), 1) << "n " << n << " threads " << threads;
            if (n > 0) {
                ASSERT_FALSE(ticks.empty());
                EXPECT_EQ(ticks.back(), n);
                EXPECT_TRUE(std::is_sorted(ticks.begin(), ticks.end()));
            }
        }
}

TEST(World, SameSeedSameBytesWhateverTheThreadCountOtherSeedAnother) {
    const std::vector<float> a = world_heights(small_w, small_h, default_seed, 2);
    const std::vector<float> b = world_heights(small_w, small_h, default_seed, 3);
    const std::vector<float> c = world_heights(small_w, small_h, default_seed + 1, 2);
    ASSERT_EQ(a.size(), static_cast<size_t>(small_w) * small_h);
    EXPECT_EQ(a, b);
    // The default world as it was made on purpose: a change here changes every user's first map,
    // so update the value only with the new world's previews in docs/.
    EXPECT_EQ(map_hash(a, small_w, small_h), 0x5583fbe3f97296d1ULL);
    size_t differ = 0;
    for (size_t i = 0; i < a.size(); ++i) differ += quantise(a[i]) != quantise(c[i]);
    EXPECT_GT(differ, a.size() * 9 / 10);
}

TEST(World, ReducedRunHasTheWholeMapsStatistics) {
    const std::vector<float> z = world_heights(small_w, small_h, default_seed);
    std::set<int> levels;
    size_t water = 0;
    for (float v : z) {
        ASSERT_TRUE(std::isfinite(v));
        levels.insert(quantise(v));
        water += quantise(v) < 0;
    }
    const double wet = static_cast<double>(water) / static_cast<double>(z.size());
    EXPECT_GE(wet, 0.30);
    EXPECT_LE(wet, 0.40);
    // The whole level range; the last level up comes from the finest octaves, which a reduced run
    // leaves out.
    EXPECT_EQ(*levels.begin(), -128);
    EXPECT_GE(*levels.rbegin(), 126);
    EXPECT_GE(levels.size(), 250u);
}

TEST(World, AnySizeGivesFiniteHeightsInRange) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{97, 301}}) {
        const std::vector<float> z = world_heights(w, h, 7);
        ASSERT_EQ(z.size(), static_cast<size_t>(w) * h);
        for (float v : z) {
            ASSERT_TRUE(std::isfinite(v)) << w << "x" << h;
            ASSERT_GE(v, -128.0f);
            ASSERT_LE(v, 127.0f);
        }
    }
    EXPECT_TRUE(world_heights(0, 10, 7).empty());
}

// Full-size cells around the initial view, which the viewer starts on: columns 1294 … 1444 and
// rows 1552 … 1702.
class Surroundings : public ::testing::Test {
protected:
    static constexpr int x0 = 1130, y0 = 1440, w = 480, h = 360;
    std::vector<float> z = world_window(x0, y0, w, h, default_seed);
    float at(int x, int y) const { return z[static_cast<size_t>(y - y0) * w + (x - x0)]; }
};

TEST_F(Surroundings, InitialViewShowsCoastValleyAndPeaks) {
    size_t water = 0, lowland = 0, high = 0, n = 0;
    float top = -128;
    for (int y = 1552; y <= 1702; ++y)
        for (int x = 1294; x <= 1444; ++x, ++n) {
            const float v = at(x, y);
            ASSERT_TRUE(std::isfinite(v));
            water += v < 0, lowland += v >= 0 && v < 30, high += v >= 90;
            top = std::max(top, v);
        }
    EXPECT_GT(water, n / 20) << "no coast";
    EXPECT_GT(lowland, n / 20) << "no valley floor";
    EXPECT_GT(high, n / 50) << "no peaks";
    EXPECT_GT(top, 100.0f);
}

TEST_F(Surroundings, SlopesAreMostlyGentleWithSteepRock) {
    std::vector<float> s = land_slopes(z, w, h, 1);
    ASSERT_GT(s.size(), z.size() / 3);
    std::sort(s.begin(), s.end());
    const float median = s[s.size() / 2];
    const double steep = static_cast<double>(s.end() - std::upper_bound(s.begin(), s.end(), rock_slope_deg)) / s.size();
    EXPECT_GT(median, 5.0f);
    EXPECT_LT(median, 30.0f);
    EXPECT_GT(steep, 0.01);
    EXPECT_LT(steep, 0.30);
    EXPECT_LT(s.back(), 80.0f);  // no cliffs or spikes
}

TEST_F(Surroundings, AnyWindowIsTheSameWorldWhateverTheThreadCount) {
    const int px = 1250, py = 1530, pw = 40, ph = 30;
    const std::vector<float> part = world_window(px, py, pw, ph, default_seed, 1);
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x) ASSERT_EQ(part[static_cast<size_t>(y) * pw + x], at(px + x, py + y)) << x << "," << y;
}

// A valley draining west to the sea, with a pit at cell 10, between ridges on the lattice's edge.
constexpr int vx = 7, vy = 3;
const std::vector<float> valley = {-1, 9, 9, 9, 9, 9, 9,  //
                                   -1, 1, 2, 0.5f, 4, 5, 9,  //
                                   -1, 9, 9, 9, 9, 9, 9};

TEST(ValleyPhases, FloodFillsOnlyThePitAndAreasCountTheCellsUpstream) {
    const worldgen::Drainage d = worldgen::flood(valley, vx, vy);
    const std::vector<float> area = worldgen::drainage_areas(d);
    // The valley floor, cells 8 … 12, drains down itself into the sea.
    for (int p = 8; p <= 12; ++p) EXPECT_EQ(area[p], 13 - p) << p;
    for (int p = 9; p <= 12; ++p) EXPECT_EQ(d.parent[p], p - 1) << p;
    const int sea = d.parent[8];
    ASSERT_TRUE(sea >= 0 && valley[sea] < 0);
    EXPECT_EQ(area[sea], 6);
    EXPECT_FLOAT_EQ(d.fill[10], 2.001f);
    std::vector<float> raised = valley;
    raised[10] = d.fill[10];
    EXPECT_EQ(d.fill, raised);
}

TEST(ValleyPhases, FloorRangesFromTheFilledValleyToSeaLevelAndPlainsAreCutLess) {
    const worldgen::Drainage d = worldgen::flood(valley, vx, vy);
    const std::vector<float> area = worldgen::drainage_areas(d), mountain(valley.size(), 1), plain(valley.size(), 0);
    for (float steepest : {100.0f, 0.0f}) {
        const std::vector<float> low = worldgen::river_floor(d, area, vx, steepest);
        const std::vector<float> hard = worldgen::river_cuts(d, low, mountain), soft = worldgen::river_cuts(d, low, plain);
        for (int p = 8; p <= 12; ++p) {
            EXPECT_EQ(low[p], steepest > 0 ? d.fill[p] : 0.0f) << p;
            EXPECT_FLOAT_EQ(hard[p], low[p] - d.fill[p]) << p;
            EXPECT_TRUE(steepest > 0 || (hard[p] < soft[p] && soft[p] < 0)) << p;
        }
    }
}

TEST(ValleyPhases, OnRoughTerrainRiversRunToAnOutletAndTheirFloorNeverClimbsDownstream) {
    const int nx = 24, ny = 16;
    const float steepest = 0.8f;
    std::vector<float> z(nx * ny);
    for (int p = 0; p < nx * ny; ++p) z[p] = 3 + 20 * gradient_noise(0.31f * (p % nx), 0.27f * (p / nx), 9).v;
    const worldgen::Drainage d = worldgen::flood(z, nx, ny);
    const std::vector<float> area = worldgen::drainage_areas(d), low = worldgen::river_floor(d, area, nx, steepest);
    size_t outflow = 0, springs[2] = {0, 0};
    for (int p : d.order) {
        const int q = d.parent[p];
        EXPECT_TRUE(d.fill[p] >= z[p] && low[p] >= 0 && low[p] <= std::max(d.fill[p], 0.0f)) << p;
        if (q < 0) {
            EXPECT_EQ(d.fill[p], z[p]);
            outflow += static_cast<size_t>(area[p]);
            continue;
        }
        const int di = std::abs(p % nx - q % nx), dj = std::abs(p / nx - q / nx);
        EXPECT_TRUE(std::max(di, dj) == 1 && d.fill[p] > d.fill[q] && low[p] >= low[q]) << p;
        // A river no bigger than its spring climbs the full limit per step's length.
        const float limit = (di && dj ? 1.41421356f : 1.0f) * steepest;
        EXPECT_LE(low[p] - low[q], limit * 1.0001f) << p;
        if (area[p] == 1 && low[p] < d.fill[p]) {
            EXPECT_FLOAT_EQ(low[p] - low[q], limit) << p;
            springs[di && dj]++;
        }
    }
    EXPECT_EQ(outflow, d.order.size());
    EXPECT_TRUE(springs[0] > 0 && springs[1] > 0);
}

// A cut widens by `spread` per orthogonal step and √2 times that per diagonal one, sparing the
// sea (the middle of the last row); rounding twice by [1 2 1] / 4 is [1 4 6 4 1] / 16; caps clear the sea.
TEST(ValleyPhases, ACutWidensIntoAConeRoundsByTheBinomialKernelAndCapsClearTheSea) {
    const int n = 9;
    std::vector<float> fill(n * n, 5.0f), cut(n * n, 0.0f), spike(n * n, 0.0f);
    fill[n * n - 5] = -1, cut[4 * n + 4] = -10, spike[4 * n + 4] = -256;
    worldgen::widen_cuts(cut, fill, n, n, 1.0f);
    worldgen::round_cuts(spike, n, n);
    const float k[] = {6, 4, 1, 0, 0};
    for (int p = 0; p < n * n; ++p) {
        const int a = std::abs(p % n - 4), b = std::abs(p / n - 4);
        const float cone = -10.0f + static_cast<float>(std::abs(a - b)) + 1.41421356f * static_cast<float>(std::min(a, b));
        EXPECT_NEAR(cut[p], p == n * n - 5 ? 0.0f : cone, 1e-4f) << p;
        EXPECT_EQ(spike[p], -k[a] * k[b]) << p;
    }
    std::vector<float> capped = {-5, -1, -2, -2};
    worldgen::cap_cuts(capped, {10, 10, -1, 0}, {-3, -3, -3, -3});
    EXPECT_EQ(capped, (std::vector<float>{-3, -1, 0, 0}));
}

struct Rgb8 {
    int r, g, b;
};
Rgb8 decode(uint16_t c) { return {(c >> 10 & 31) * 8, (c >> 5 & 31) * 8, (c & 31) * 8}; }

// The colour of the middle cell of a 9 × 9 plane through height `z0` with slopes dzdx, dzdy in
// levels per cell, averaged over a 4 × 4 dither tile.
Rgb8 plane_colour(float z0, float dzdx, float dzdy) {
    const int n = 9;
    std::vector<float> z(n * n);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) z[y * n + x] = z0 + dzdx * (x - 4) + dzdy * (y - 4);
    std::vector<uint16_t> c(n * n);
    colour_relief(z.data(), n, n, c.data());
    Rgb8 m = {0, 0, 0};
    for (int y = 2; y < 6; ++y)
        for (int x = 2; x < 6; ++x) {
            const Rgb8 d = decode(c[y * n + x]);
            m.r += d.r, m.g += d.g, m.b += d.b;
        }
    return {m.r / 16, m.g / 16, m.b / 16};
}

int brightness(Rgb8 c) { return c.r + c.g + c.b; }

TEST(Colour, PackedChannelsAreFiveBitsAndTheDitherAveragesToTheInput) {
    for (float v : {-20.0f, 0.0f, 3.0f, 100.0f, 131.3f, 250.0f, 255.0f, 400.0f}) {
        float sum = 0;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const uint16_t c = pack_rgb(v, 255 - v, 77, x + 8, y + 12);
                EXPECT_EQ(c & 0x8000, 0);
                const Rgb8 d = decode(c);
                EXPECT_EQ(d.r % 8 + d.g % 8 + d.b % 8, 0);
                sum += static_cast<float>(d.r);
            }
        // Over one tile the 5-bit steps average back to the 8-bit value, so gradients show no bands.
        EXPECT_NEAR(sum / 16, std::clamp(v, 0.0f, 248.0f), 8.0f / 16 + 0.01f) << v;
    }
}

TEST(Colour, TintsFollowHeightSlopeAndLight) {
    const float steep = 3 * std::tan(45 * 3.14159265f / 180), gentle = 3 * std::tan(15 * 3.14159265f / 180);
    const Rgb8 deep = plane_colour(-120, 0, 0), shallow = plane_colour(-3, 0, 0), beach = plane_colour(0.2f, 0, 0);
    const Rgb8 lowland = plane_colour(12, 0, 0), snow = plane_colour(124, 0, 0), rock = plane_colour(60, steep, 0);
    const Rgb8 slope = plane_colour(60, gentle, 0);
    EXPECT_GT(deep.b, deep.r + 40);
    EXPECT_GT(shallow.b, shallow.r + 40);
    EXPECT_GT(brightness(shallow), brightness(deep) + 60);
    EXPECT_GT(beach.r, beach.b + 30);
    EXPECT_GT(lowland.g, lowland.r + 20);
    EXPECT_GT(lowland.g, lowland.b + 40);
    EXPECT_GT(std::min({snow.r, snow.g, snow.b}), 220);
    // Rock is grey whatever the height; a gentle slope at the same height keeps its tint.
    EXPECT_LT(std::max({rock.r, rock.g, rock.b}) - std::min({rock.r, rock.g, rock.b}), 24);
    EXPECT_GT(slope.g - slope.b, 30);
    // The light comes from the north-west: a slope facing it is brighter than flat ground, which is
    // brighter than a slope facing away; the darkest shadow is lifted.
    const Rgb8 flat = plane_colour(20, 0, 0), lit = plane_colour(20, 1.5f, 1.5f), shade = plane_colour(20, -1.5f, -1.5f);
    const Rgb8 black = plane_colour(20, -30, -30);
    EXPECT_GT(brightness(lit), brightness(flat) + 30);
    EXPECT_LT(brightness(shade), brightness(flat) - 30);
    EXPECT_GT(brightness(black), brightness(flat) / 4);
    // Lit from the north-west, slopes facing north-east and south-west are equally lit.
    EXPECT_NEAR(brightness(plane_colour(20, 1.5f, -1.5f)), brightness(plane_colour(20, -1.5f, 1.5f)), 12);
}

// Voids are one neutral grey, marked by bit 15, which no other cell gets; any tint, lit or in the
// deepest shadow, land or sea, is brighter.
TEST(Colour, VoidsAreAQuietGreyMarkedByBit15) {
    const int w = 64, h = 48;
    std::vector<float> z(w * h);
    std::vector<uint8_t> voids(w * h, 0);
    for (int i = 0; i < w * h; ++i) z[i] = static_cast<float>(i % 255) - 128, voids[i] = i % 7 == 0;
    std::vector<uint16_t> c(w * h, 0xFFFF);
    colour_relief(z.data(), w, h, c.data(), voids.data(), {}, 3);
    for (int i = 0; i < w * h; ++i) {
        ASSERT_EQ((c[i] & 0x8000) != 0, voids[i] != 0) << i;
        if (voids[i]) {
            ASSERT_EQ(c[i], void_cell_colour) << i;
        }
    }
    const Rgb8 grey = decode(void_cell_colour);
    EXPECT_EQ(grey.r, grey.g);
    EXPECT_EQ(grey.g, grey.b);
    EXPECT_GT(grey.r, 0);  // not the black around the map
    const float slopes[] = {0, 3, -3, -30};  // flat, lit, facing away, the darkest shadow
    for (float z0 = -128; z0 <= 127; z0 += 5)
        for (float s : slopes) EXPECT_GT(brightness(plane_colour(z0, s, s)), brightness(grey)) << z0 << " " << s;
}

}  // namespace
