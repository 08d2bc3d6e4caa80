// Parallel loops: every row once, whatever the thread count, with progress from the calling thread.
#include "common/parallel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <vector>

namespace {

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

}  // namespace
