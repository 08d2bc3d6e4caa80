// The kernels: their weight tables (by cell and by sample, each kernel's sums), and what each gives read into a grid.
#include "import/kernels.h"

#include "tests/unit/import/heights_fixture.h"
#include "world/relief.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <utility>

namespace {

// The nonzero weights of a table, by (sample, cell).
std::map<std::pair<long long, long long>, double> weights_of(const Taps &t, bool by_cell) {
    std::map<std::pair<long long, long long>, double> out;
    for (size_t i = 0; i < t.from.size(); ++i)
        for (int k = 0; k < t.count[i]; ++k) {
            const double w = t.w[t.at[i] + k];
            if (w == 0) continue;
            const long long row = by_cell ? t.c0 + static_cast<long long>(i) : t.g0 + static_cast<long long>(i);
            const long long col = by_cell ? t.g0 + t.from[i] + k : t.c0 + t.from[i] + k;
            out[by_cell ? std::pair{col, row} : std::pair{row, col}] = w;
        }
    return out;
}

// Every kernel on axes that shrink, keep and enlarge: both tables hold the same weights; inside,
// each cell's weights sum to 1 (the box's, its width in cells; an interpolation's, where samples
// are no closer than cells), so that a constant comes back as it is; the box spreads each sample
// over exactly its width; nearest gives each cell one sample.
TEST(Kernels, TablesAgreeAndSumAsEachKernelShould) {
    const struct {
        Kernel kernel;
        double a, b;
    } cases[] = {
        {Kernel::box, 0.3, 0.37},     {Kernel::box, -0.25, 1.0},    {Kernel::tent, 0.3, 0.37},
        {Kernel::tent, -1.2, 2.6},    {Kernel::cubic, -1.2, 2.6},   {Kernel::cubic, 0.0, 5.0},
        {Kernel::cubic, 0.3, 0.37},   {Kernel::nearest, -1.2, 2.6}, {Kernel::nearest, 0.3, 0.37},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kernel) * 1000 + c.b);
        const Axis ax{c.a, c.b, c.kernel};
        const int n = 40, c0 = 0, c1 = static_cast<int>(c.a + c.b * n);
        long long g0, g1;
        reaching(ax, n, c0, c1, g0, g1);
        Taps by_cell, by_sample;
        taps_by_cell(ax, g0, g1, c0, c1, by_cell);
        taps_by_sample(ax, g0, g1, c0, c1, by_sample);
        const auto cells = weights_of(by_cell, true), samples = weights_of(by_sample, false);
        ASSERT_EQ(cells, samples);
        for (const auto &[gc, w] : cells) EXPECT_EQ(w, weight(ax, gc.first, gc.second));
        // Cells whose kernel lies wholly over the samples.
        const double margin = reach(ax) + 2;
        for (int cell = c0; cell < c1; ++cell) {
            if (cell < c.a + margin || cell + 1 > c.a + c.b * n - margin) continue;
            double sum = 0;
            int taken = 0;
            for (const auto &[gc, w] : cells)
                if (gc.second == cell) sum += w, ++taken;
            if (c.kernel == Kernel::box || c.kernel == Kernel::nearest || c.b >= 1) {
                EXPECT_NEAR(sum, 1.0, 1e-12) << cell;
            }
            if (c.kernel == Kernel::nearest) {
                EXPECT_EQ(taken, 1) << cell;
            }
        }
        if (c.kernel == Kernel::box)
            for (long long g = 5; g < n - 5; ++g) {
                double spread = 0;
                for (const auto &[gc, w] : cells)
                    if (gc.first == g) spread += w;
                EXPECT_NEAR(spread, c.b, 1e-12) << g;
            }
    }
}

class KernelReads : public HeightFiles {};

// A linear ramp, 3 a column and 5 a row, not georeferenced, read by each kernel into grids finer
// and coarser than it; each cell against the answer worked out on paper: the mean of the samples
// under the cell by the integral of floor(), interpolation of a ramp is the ramp (held at the
// edges), the nearest sample is the one under the cell's centre.
TEST_F(KernelReads, EachKernelGivesItsKnownAnswer) {
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
TEST_F(KernelReads, CubicIsExactAtSamplesSmoothBetweenAndHeldBesideCliffs) {
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

// Ridges 16 samples apart with smaller ones across them, enlarged 8 times and shaded as an import
// colours them: with the default
// kernel the light changes from cell to cell as much across a sample's centre as between (no grid
// shows up close); the bilinear surface bends at every sample, and the light jumps there.
TEST_F(KernelReads, EnlargedReliefShowsNoGridInItsLight) {
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

}  // namespace
