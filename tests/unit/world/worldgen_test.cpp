// The default world: the same bytes for a seed on any thread count, the whole map's statistics at any size, its first view.
#include "map/levels.h"
#include "map/mapfile.h"
#include "world/relief.h"
#include "world/worldgen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

namespace {

// A reduced run: the whole world at 1/16 of its size in each direction.
constexpr int small_w = grid_columns / 16, small_h = grid_rows / 16;

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

}  // namespace
