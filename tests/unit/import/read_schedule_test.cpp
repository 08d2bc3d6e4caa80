// The read's schedule: while the field is not ready, readers are given reads before the bands that are in.
#include "import/read_schedule.h"

#include "tests/unit/import/heights_fixture.h"

#include <gtest/gtest.h>

namespace {

class ReadSchedule : public HeightFiles {};

// Two tiles, one over the other, each a band of the grid's rows: once the first is read its band
// is in, but a reader told the field is not ready gets the second read first, and the band only
// when no read is left.
TEST_F(ReadSchedule, ReadsComeBeforeBandsUntilTheFieldIsReady) {
    using namespace engine;
    const std::string north = write("n.tif", sampled(10, band_rows, 6, 46, 0.01, 0.01, relief));
    const std::string south = write("s.tif", sampled(10, band_rows, 6, 46 - 0.01 * band_rows, 0.01, 0.01, relief));
    const Heights h = read({north, south}, 10, 2 * band_rows);
    Reads reads;
    ASSERT_TRUE(plan_reads(h.src, h.place, Resampling::automatic, 1e9, reads).ok);
    ASSERT_EQ(reads.units.size(), 2u);
    for (const bool ready : {false, true}) {
        SCOPED_TRACE(ready ? "field ready" : "field not ready");
        Schedule sch(h.place, reads);
        std::pair<int, int> job{0, 0};
        Task t;
        ASSERT_TRUE(sch.next(job, t, ready));
        ASSERT_GE(t.unit, 0);
        sch.read_done(t.unit, Part());
        ASSERT_TRUE(sch.next(job, t, ready));
        EXPECT_EQ(t.band >= 0, ready);
        if (ready) continue;
        sch.read_done(t.unit, Part());
        int bands = 0;
        for (; sch.next(job, t, false); sch.band_done(t.band)) bands += t.band >= 0;
        EXPECT_EQ(bands, 2);
    }
}

}  // namespace
