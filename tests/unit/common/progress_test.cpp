// The progress line's estimate of the time left.
#include "common/progress.h"

#include <gtest/gtest.h>

namespace {

TEST(Progress, TimeLeftOnceItCanBeTold) {
    const struct {
        double elapsed, fraction;
        const char *says;
    } cases[] = {
        {2, 0.5, ""},                                // too soon
        {10, 0.01, ""},                              // too little done
        {10, 1, ""},                                 // done
        {5, 0.5, "about 5 s left"},
        {30, 0.25, "about 1 min 30 s left"},         // 90 s
        {100, 0.2, "about 6 min 40 s left"},         // 400 s, to ten seconds
        {60, 0.05, "about 19 min left"},             // 1140 s, to the minute
        {600, 0.1, "about 1 h 30 min left"},
    };
    for (const auto &c : cases) EXPECT_EQ(time_left(c.elapsed, c.fraction), c.says) << c.elapsed << " " << c.fraction;
}

}  // namespace
