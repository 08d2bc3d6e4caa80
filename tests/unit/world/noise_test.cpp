// Gradient noise: derivatives that match the values, zero at the lattice points, values over the whole range.
#include "world/noise.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

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

}  // namespace
