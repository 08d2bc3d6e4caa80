// The kernels' weight tables: the same weights looked up by cell and by sample, and each kernel's known sums.
#include "kernels.h"

#include <gtest/gtest.h>

#include <cmath>
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

}  // namespace
