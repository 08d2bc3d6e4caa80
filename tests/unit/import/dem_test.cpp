// Real DEMs that Debian packages ship, fetched by the test set-up: r-cran-terra's 16-bit GeoTIFF
// (LZW, NoData, EPSG:4326), and python-matplotlib-data's NumPy DEM of a ridge-and-valley region.
#include "import/import.h"
#include "tests/unit/import/heights_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {

// Where the set-up put the DEM `name`, or empty when it could not fetch it.
std::string dem(const char *name) {
    const char *d = std::getenv("DEM_DIR");
    const std::string p = d ? std::string(d) + "/" + name : "";
    struct stat st;
    return d && stat(p.c_str(), &st) == 0 && st.st_size > 0 ? p : "";
}
std::string elev_tif() { return dem("elev.tif"); }

// Known from the file's own GDAL statistics (141, 547) and an independent decoding of its LZW strips.
TEST(Dem, TerraElevationReadsWithItsKnownRange) {
    const std::string path = elev_tif();
    if (path.empty()) GTEST_SKIP() << "r-cran-terra's ex/elev.tif was not fetched (no network?)";
    // Read as import reads it, into a grid of the file's own size: every sample as it is.
    Heights h;
    const Status st = read_native({path}, h);
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
    std::vector<uint8_t> map(grid_bytes);
    Sidecar sc;
    std::vector<std::string> notes;
    const Status st = import_map(o, map.data(), sc, notes);
    ASSERT_TRUE(st.ok) << st.why;
    int lo = 127, hi = -128;
    for (size_t i = 0; i < grid_cells; ++i) lo = std::min<int>(lo, height_of(&map[3 * i])), hi = std::max<int>(hi, height_of(&map[3 * i]));
    EXPECT_EQ(lo, -128);
    EXPECT_EQ(hi, 127);
    // 0.79 x 0.75 degrees at 49.8 N is 56.9 x 83.5 km: centred in columns 1677 ... 4466, void margins.
    EXPECT_EQ(sc.box_x0, 1677);
    EXPECT_EQ(sc.box_w, 2790);
    for (int y : {0, 2000, 4095})
        for (int x : {1676, 4467}) {
            const uint8_t *cell = &map[(1LL * y * grid_columns + x) * cell_bytes];
            EXPECT_TRUE(is_void(colour_of(cell), height_of(cell))) << x << "," << y;
        }
    EXPECT_NEAR(sc.cell_x, 20.38, 0.01);
    EXPECT_NEAR(sc.west, 5.7417, 1e-4);
    EXPECT_NEAR(sc.north, 50.1917, 1e-4);
    // Inland: no sea at all.
    bool no_sea = false;
    for (const std::string &n : notes) no_sea |= n.rfind("sea: 0.0% of the map", 0) == 0;
    EXPECT_TRUE(no_sea);
}

// 403 x 344 samples of 3 arc-seconds from 84.41375 W, 36.732917 N; 236 to 1076 m (the .npy's own
// samples, decoded apart from GDAL).
TEST(Dem, JacksboroReadsInPlaceWithItsKnownRange) {
    const std::string path = dem("jacksboro.tif");
    if (path.empty()) GTEST_SKIP() << "python-matplotlib-data's jacksboro_fault_dem.npz was not fetched (no network?)";
    Heights h;
    const Status st = read_native({path}, h);
    ASSERT_TRUE(st.ok) << st.why;
    ASSERT_EQ(h.src.w, 403);
    ASSERT_EQ(h.src.h, 344);
    EXPECT_NEAR(h.src.gt[0], -84.41375, 1e-9);
    EXPECT_NEAR(h.src.gt[3], 36.732917, 1e-6);
    EXPECT_NEAR(h.src.gt[1], 1 / 1200.0, 1e-12);
    const auto [lo, hi] = std::minmax_element(h.field.z.begin(), h.field.z.end());
    EXPECT_EQ(*lo, 236);
    EXPECT_EQ(*hi, 1076);
    EXPECT_EQ(std::count(h.field.voids.begin(), h.field.voids.end(), 1), 0);
}

}  // namespace
