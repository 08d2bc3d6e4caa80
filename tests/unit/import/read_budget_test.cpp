// The read budget: reads over the sample limit, of blocks too large, of tiles over and over, refused before they start.
#include "import/read_budget.h"
#include "tests/unit/import/heights_fixture.h"

#include "sandbox/gdal_env.h"

#include <gdal.h>
#include <gtest/gtest.h>

namespace {

class ReadBudget : public HeightFiles {};

// Tiles that cover every cell hundreds of times over (one tile named again and again) are refused
// before any is read, naming the input; up to the bound they are read, overlaps counted once.
TEST_F(ReadBudget, TilesCoveringTheMapOverAndOverAreRefused) {
    const Heights one = read({write("one.tif", sampled(4, 4, 6, 46, 0.01, 0.01, relief))}, 16, 16);
    for (const int copies : {static_cast<int>(max_cell_passes), static_cast<int>(max_cell_passes) + 1}) {
        HeightSource src;
        src.label = "one.tif and " + std::to_string(copies - 1) + " more tiles";
        src.tiles.assign(static_cast<size_t>(copies), one.src.tiles[0]);
        src.w = one.src.w, src.h = one.src.h;
        std::copy(one.src.gt, one.src.gt + 6, src.gt);
        Field f;
        const Status st = read_field(src, one.place, Resampling::automatic, f);
        if (copies <= max_cell_passes) {
            ASSERT_TRUE(st.ok) << st.why;
            EXPECT_EQ(f.z, one.field.z);
        } else {
            EXPECT_EQ(st.why.rfind(src.label + ": ", 0), 0u) << st.why;
            EXPECT_NE(st.why.find("cover the map 257 times over"), std::string::npos) << st.why;
        }
    }
}

// A read over the sample limit, or of blocks too large to decode, is refused before it starts.
TEST_F(ReadBudget, ReadsCheckedBeforeTheyStart) {
    TiffSpec tile;
    tile.w = tile.h = tile.tile = 12000, tile.bits = 16, tile.samples = {};  // one tile of 275 MiB, left out
    write_bytes(dir + "/tile.tif", tiff_file(tile));
    write_raster(dir + "/small.tif", "GTiff", lonlat_raster(4, 4, 0, 1, 0.25, std::vector<double>(16, 1)));
    gdal_setup();
    Dataset big = open_dataset(dir + "/tile.tif"), small = open_dataset(dir + "/small.tif");
    ASSERT_TRUE(big && small);
    GDALRasterBandH b = GDALGetRasterBand(small.get(), 1);
    const struct {
        const char *label;
        GDALRasterBandH band;
        double samples;
        const char *cause, *advice;  // empty: allowed
    } cases[] = {
        {"small.tif", b, samples_at_resolution(b, 4, 4, 2, 2), "", ""},
        {"small.tif", b, 17, "17 samples to read", "hint"},
        {"tile.tif", GDALGetRasterBand(big.get(), 1), 1, "blocks of 12000 x 12000 samples take 275 MiB", "TILED=YES"},
    };
    for (const auto &c : cases) {
        const Status st = check_read(c.label, c.band, c.samples, 16, "hint");
        EXPECT_EQ(st.ok, !*c.cause) << st.why;
        if (!*c.cause) continue;
        EXPECT_EQ(st.why.rfind(std::string(c.label) + ": ", 0), 0u) << st.why;
        EXPECT_NE(st.why.find(c.cause), std::string::npos) << st.why;
        EXPECT_NE(st.why.find(c.advice), std::string::npos) << st.why;
    }
}

}  // namespace
