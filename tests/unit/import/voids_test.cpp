// Voids filled with the height of the nearest data: a known field, and random ones against a search of every cell.
#include "import/voids.h"

#include <gtest/gtest.h>

#include <random>

namespace {

Field field(int w, int h, const std::vector<float> &z, const std::vector<uint8_t> &voids) {
    Field f;
    f.w = w, f.h = h, f.z = z, f.voids = voids;
    return f;
}

// Data A (10) at column 2, row 2, and B (20) at column 3, row 0. The top-left corner is nearer A
// (√8 against 3), which a city-block distance (4 against 3) would get wrong.
TEST(Voids, KnownFieldTakesTheEuclideanNearest) {
    const std::vector<uint8_t> voids = {1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 0, 1};
    std::vector<float> z(12, 0);
    z[3] = 20, z[10] = 10;
    Field f = field(4, 3, z, voids);
    fill_voids_from_nearest(f);
    EXPECT_EQ(f.z, (std::vector<float>{10, 20, 20, 20, 10, 10, 10, 20, 10, 10, 10, 10}));
    EXPECT_EQ(f.voids, voids);
}

TEST(Voids, FieldsWithoutDataOrWithoutVoidsStayAsTheyAre) {
    const struct {
        const char *what;
        std::vector<uint8_t> voids;
    } cases[] = {{"all void", {1, 1, 1, 1, 1, 1}}, {"no void", {0, 0, 0, 0, 0, 0}}};
    for (const auto &c : cases) {
        Field f = field(3, 2, {1, 2, 3, 4, 5, 6}, c.voids);
        fill_voids_from_nearest(f);
        EXPECT_EQ(f.z, (std::vector<float>{1, 2, 3, 4, 5, 6})) << c.what;
    }
}

// Each data cell has a height of its own, so the height a void gets names the cell it came from:
// that cell must be as near as the nearest found by looking at every data cell.
TEST(Voids, RandomFieldsMatchASearchOfEveryCell) {
    const struct {
        int w, h;
        double data;  // share of cells with data (at 0.97, a third of the rows have no void)
    } cases[] = {{37, 23, 0.03}, {1, 50, 0.05}, {50, 1, 0.05}, {64, 64, 0.001}, {300, 2, 0.01}, {29, 31, 0.5}, {40, 30, 0.97}};
    std::mt19937 rng(7);
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
        const int n = c.w * c.h;
        std::vector<float> z(n, 0);
        std::vector<uint8_t> voids(n, 1);
        std::bernoulli_distribution has_data(c.data);
        for (int i = 0; i < n; ++i)
            if (has_data(rng) || i == n / 3) voids[i] = 0, z[i] = static_cast<float>(i);
        Field f = field(c.w, c.h, z, voids);
        fill_voids_from_nearest(f);
        auto d2 = [&](int a, int b) {
            const long dx = a % c.w - b % c.w, dy = a / c.w - b / c.w;
            return dx * dx + dy * dy;
        };
        for (int i = 0; i < n; ++i) {
            long best = -1;
            for (int j = 0; j < n; ++j)
                if (!voids[j] && (best < 0 || d2(i, j) < best)) best = d2(i, j);
            const int from = static_cast<int>(f.z[i]);
            ASSERT_FALSE(voids[from]) << i;
            ASSERT_EQ(d2(i, from), best) << i;
        }
    }
}

}  // namespace
