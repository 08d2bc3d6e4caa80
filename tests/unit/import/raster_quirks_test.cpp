// Raster quirks: rotated georeferencing warped north-up, georeferencing with no size to its pixels refused.
#include "tests/unit/import/heights_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

class RasterQuirks : public HeightFiles {};

TEST_F(RasterQuirks, GeoreferencingRotatedOrUnusable) {
    std::vector<double> v(400, 50);
    RasterSpec rotated = lonlat_raster(20, 20, 10, 45, 0.01, v), flat = rotated;
    const double a = 30 * M_PI / 180;
    rotated.gt = {10, 0.01 * std::cos(a), -0.01 * std::sin(a), 45, -0.01 * std::sin(a), -0.01 * std::cos(a)};
    const Heights h = read_spec(rotated, 30, 20);
    ASSERT_EQ(h.src.notes.size(), 1u);
    EXPECT_NE(h.src.notes[0].find("rotated georeferencing: warped north-up"), std::string::npos);
    EXPECT_EQ(h.field.z[10 * 30 + 15], 50);  // the middle is data, the corners the warp leaves are voids
    EXPECT_EQ(h.field.voids[0], 1);
    // A VRT keeps whatever geotransform it is given, even one with no width to its pixels.
    write_raster(dir + "/flat.tif", "GTiff", flat);
    const std::string vrt = "<VRTDataset rasterXSize=\"20\" rasterYSize=\"20\"><GeoTransform>10, 0, 0, 45, 0, -0.01</GeoTransform>"
                            "<VRTRasterBand dataType=\"Float32\" band=\"1\"><SimpleSource><SourceFilename>" + dir +
                            "/flat.tif</SourceFilename></SimpleSource></VRTRasterBand></VRTDataset>";
    write_bytes(dir + "/zero.vrt", Bytes(vrt.begin(), vrt.end()));
    HeightSource src;
    const Status st = open_heights({dir + "/zero.vrt"}, 0, 0, src);
    EXPECT_EQ(st.why.rfind(dir + "/zero.vrt: unusable georeferencing", 0), 0u) << st.why;
}

}  // namespace
