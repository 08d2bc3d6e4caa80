// The read as the summary tells it: how large a sample is in cells, and the kernel that spreads it.
#include "tests/unit/import/heights_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class ReadField : public HeightFiles {};

// The summary says how large a sample is in cells and which kernel spread it.
TEST_F(ReadField, SummaryNamesTheKernel) {
    const std::string path = write("ramp.tif", sampled(20, 10, 6, 46, 0.01, 0.01, relief));
    const struct {
        int gw, gh;
        Resampling r;
        const char *says;
    } cases[] = {
        {10, 5, Resampling::automatic, "resampling: a sample is 0.5 x 0.5 cells; the area average"},
        {80, 40, Resampling::automatic, "resampling: a sample is 4 x 4 cells; cubic interpolation (Keys)"},
        {80, 40, Resampling::bilinear, "bilinear interpolation (--resample)"},
        {10, 5, Resampling::nearest, "the nearest sample (--resample)"},
    };
    for (const auto &c : cases) {
        ImportOptions o;
        o.heights = {path}, o.fit = FitMode::stretch, o.resample = c.r;
        Heights h;
        std::vector<std::string> notes;
        ASSERT_TRUE(read_import(o, c.gw, c.gh, h, notes).ok);
        EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [&](const std::string &n) { return n.find(c.says) != std::string::npos; }))
            << c.says;
    }
}

}  // namespace
