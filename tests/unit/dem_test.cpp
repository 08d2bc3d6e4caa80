// A real DEM: the 16-bit GeoTIFF that r-cran-terra ships (LZW, NoData, EPSG:4326), fetched by the test set-up.
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
    // Read as import reads it, into a grid of the file's own size: every sample as it is.
    ImportOptions o;
    o.heights = {path};
    o.fit = FitMode::stretch;
    Heights h;
    std::vector<std::string> notes;
    const Status st = read_import(o, 95, 90, h, notes);
    ASSERT_TRUE(st.ok) << st.why;
    const Field &g = h.field;
    ASSERT_EQ(h.src.w, 95);
    ASSERT_EQ(h.src.h, 90);
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
    o.heights = {path};
    Map m;
    Sidecar sc;
    std::vector<std::string> notes;
    const Status st = import_map(o, m, sc, notes);
    ASSERT_TRUE(st.ok) << st.why;
    int lo = 127, hi = -128;
    for (int8_t h : m.height) lo = std::min<int>(lo, h), hi = std::max<int>(hi, h);
    EXPECT_EQ(lo, -128);
    EXPECT_EQ(hi, 127);
    // 0.79 x 0.75 degrees at 49.8 N is 56.9 x 83.5 km: centred in columns 1677 ... 4466, void margins.
    EXPECT_EQ(sc.box_x0, 1677);
    EXPECT_EQ(sc.box_w, 2790);
    for (int y : {0, 2000, 4095}) {
        EXPECT_TRUE(is_void(m.colour[1LL * y * colonnes + 1676], m.height[1LL * y * colonnes + 1676]));
        EXPECT_TRUE(is_void(m.colour[1LL * y * colonnes + 4467], m.height[1LL * y * colonnes + 4467]));
    }
    EXPECT_NEAR(sc.cell_x, 20.38, 0.01);
    EXPECT_NEAR(sc.west, 5.7417, 1e-4);
    EXPECT_NEAR(sc.north, 50.1917, 1e-4);
    // Inland: no sea at all.
    bool no_sea = false;
    for (const std::string &n : notes) no_sea |= n.rfind("sea: 0.0% of the map", 0) == 0;
    EXPECT_TRUE(no_sea);
}

}  // namespace
