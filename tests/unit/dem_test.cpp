// A real DEM: the 16-bit GeoTIFF that r-cran-terra ships (LZW, NoData), fetched by the test set-up.
#include "import.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {

// Where the set-up put the file, or empty when it could not fetch it.
std::string elev_tif() {
    const char *p = std::getenv("ELEV_TIF");
    struct stat st;
    return p && stat(p, &st) == 0 && st.st_size > 0 ? p : "";
}

// Known from the file's own GDAL statistics (141, 547) and an independent decoding of its LZW strips.
TEST(Dem, TerraElevationReadsWithItsKnownRange) {
    const std::string path = elev_tif();
    if (path.empty()) GTEST_SKIP() << "r-cran-terra's ex/elev.tif was not fetched (no network?)";
    HeightGrid g;
    const Status st = read_heights(path, g);
    ASSERT_TRUE(st.ok) << st.why;
    ASSERT_EQ(g.w, 95);
    ASSERT_EQ(g.h, 90);
    float lo = 1e9f, hi = -1e9f;
    long voids = 0;
    double sum = 0;
    for (size_t i = 0; i < g.z.size(); ++i) {
        if (g.voids[i]) {
            ++voids;
            continue;
        }
        lo = std::min(lo, g.z[i]), hi = std::max(hi, g.z[i]);
        sum += g.z[i];
    }
    EXPECT_EQ(lo, 141);
    EXPECT_EQ(hi, 547);
    EXPECT_EQ(voids, 3942);
    EXPECT_EQ(sum, 1605135);
    // Row 45 starts with a void, then 467, 475, 450.
    EXPECT_EQ(g.voids[45 * 95], 1);
    EXPECT_EQ(std::vector<float>(g.z.begin() + 45 * 95 + 1, g.z.begin() + 45 * 95 + 4), (std::vector<float>{467, 475, 450}));
}

TEST(Dem, TerraElevationImportsOverTheWholeLevelRange) {
    const std::string path = elev_tif();
    if (path.empty()) GTEST_SKIP() << "r-cran-terra's ex/elev.tif was not fetched (no network?)";
    ImportOptions o;
    o.heights = path;
    Map m;
    std::vector<std::string> notes;
    const Status st = import_map(o, m, notes);
    ASSERT_TRUE(st.ok) << st.why;
    int lo = 127, hi = -128;
    for (int8_t h : m.height) lo = std::min<int>(lo, h), hi = std::max<int>(hi, h);
    EXPECT_EQ(lo, -128);
    EXPECT_EQ(hi, 127);
    // 95 × 90 is narrower than 3:2: centred in columns 910 … 5233, void margins at height 0.
    for (int y : {0, 2000, 4095}) {
        EXPECT_EQ(m.height[1LL * y * colonnes + 909], 0);
        EXPECT_EQ(m.height[1LL * y * colonnes + 5234], 0);
    }
    bool told = false;
    for (const std::string &n : notes) told |= n.find("columns 910 to 5233") != std::string::npos;
    EXPECT_TRUE(told);
}

}  // namespace
