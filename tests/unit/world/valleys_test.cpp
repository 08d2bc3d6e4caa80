// The river valleys' phases: the flood, the areas drained, the floor rivers leave, and the cuts widened, rounded and capped.
#include "world/worldgen_stages.h"

#include "world/noise.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

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

}  // namespace
