// Looks at an image's pixels: all of a small image, a bounded sample of a large one.
#include "import/pixel_sample.h"

#include "sandbox/gdal_env.h"

#include "tests/unit/scratch.h"

#include <gdal.h>
#include <gtest/gtest.h>

#include <string>

namespace {

class PixelSample : public Scratch {};

// Looks at an image's content stay within their budget: all of a small image, a sample of a large one.
TEST_F(PixelSample, SamplesAreBounded) {
    gdal_setup();
    const char *sparse[] = {"SPARSE_OK=TRUE", "TILED=YES", "BLOCKXSIZE=512", "BLOCKYSIZE=512", nullptr};
    const struct {
        int w, h;
        const char **options;
        bool whole;
    } cases[] = {{300, 200, nullptr, true}, {40000, 30000, sparse, false}};
    for (const auto &c : cases) {
        const std::string path = dir + "/s" + std::to_string(c.w) + ".tif";
        GDALClose(GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), c.w, c.h, 3, GDT_Byte, const_cast<char **>(c.options)));
        Dataset ds = open_dataset(path);
        ASSERT_TRUE(ds);
        double seen = 0;
        bool whole = !c.whole;
        const Status st = sample_pixels(path, ds.get(), 3, false, [&](const double *, size_t n) {
            seen += n;
            return true;
        }, whole);
        ASSERT_TRUE(st.ok) << st.why;
        EXPECT_EQ(whole, c.whole);
        EXPECT_LE(seen, max_sample_pixels);
        EXPECT_EQ(seen == static_cast<double>(c.w) * c.h, c.whole);
    }
}

}  // namespace
