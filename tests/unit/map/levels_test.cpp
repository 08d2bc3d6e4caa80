// Height levels: scales that map the heights' ends to the level range's, the sea on a level boundary, the sidecar's inverse.
#include "map/levels.h"

#include "map/info.h"
#include "map/sidecar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

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
    EXPECT_EQ(st.why.rfind("all.tif: no heights", 0), 0u) << st.why;
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

TEST(Quantise, RoundsToNearestLevelAndClamps) {
    const std::pair<float, int> table[] = {{0.0f, 0},    {0.49f, 0},   {0.5f, 1},      {-0.5f, -1},   {-0.49f, 0},
                                           {126.6f, 127}, {127.0f, 127}, {1e9f, 127},   {-128.0f, -128},
                                           {-1e9f, -128}, {NAN, -128},   {INFINITY, 127}, {-INFINITY, -128}};
    for (auto [z, q] : table) EXPECT_EQ(quantise(z), q) << z;
}

}  // namespace
