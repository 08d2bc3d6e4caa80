// Placement: the box keeps the input's proportions on the ground, and a region picks its part.
#include "tests/unit/import/heights_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

class Place : public HeightFiles {};

// The box has the input's proportions on the ground, however its pixels are shaped.
TEST_F(Place, PlacementFollowsTheGround) {
    const double metres_per_degree = 6378137 * M_PI / 180, cos_36_5 = std::cos(36.5 * M_PI / 180);
    const int tile_w = static_cast<int>(std::lround(4096 * cos_36_5));  // 89.5 km wide, 111.3 km long
    RasterSpec utm;
    utm.w = 300, utm.h = 200, utm.values.assign(300 * 200, 1), utm.gt = {500000, 10, 0, 5000000, 0, -10}, utm.epsg = 32633;
    RasterSpec plain;
    plain.w = 64, plain.h = 64, plain.values.assign(64 * 64, 1);
    const struct {
        const char *what;
        RasterSpec s;
        FitMode fit;
        int x0, y0, w, h;
        double cell_x;
    } cases[] = {
        {"60 N: square pixels in degrees are half as wide", lonlat_raster(200, 100, 10, 60.5, 0.01, std::vector<double>(20000, 1)),
         FitMode::pad, 1024, 0, 4096, 4096, metres_per_degree * 2 * 0.5 / 4096},
        {"a 1 degree tile at 36 N is 89 x 111 km", lonlat_raster(10, 10, -85, 37, 0.1, std::vector<double>(100, 1)),
         FitMode::pad, (6144 - tile_w) / 2, 0, tile_w, 4096, metres_per_degree * cos_36_5 / tile_w},
        {"projected units as they are: 3:2 fills the map", utm, FitMode::pad, 0, 0, 6144, 4096, 3000.0 / 6144},
        {"not georeferenced: pixel proportions", plain, FitMode::pad, 1024, 0, 4096, 4096, 0},
        {"crop fills the map", plain, FitMode::crop, 0, 0, 6144, 4096, 0},
        {"stretch fills the map", plain, FitMode::stretch, 0, 0, 6144, 4096, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const Heights h = read_spec(c.s, grid_columns, grid_rows, c.fit);
        EXPECT_EQ(h.place.x0, c.x0);
        EXPECT_EQ(h.place.y0, c.y0);
        EXPECT_NEAR(h.place.w, c.w, 1);
        EXPECT_EQ(h.place.h, c.h);
        EXPECT_NEAR(h.place.cell_x, c.cell_x, 0.002 * c.cell_x + 1e-9);
    }
    // Crop keeps the middle two thirds of the square's rows.
    const Heights crop = read_spec(plain, grid_columns, grid_rows, FitMode::crop);
    EXPECT_NEAR(crop.place.sy, 64 / 6.0, 1e-9);
    EXPECT_NEAR(crop.place.sh, 64 * 2 / 3.0, 1e-9);
}

TEST_F(Place, BoundsPickTheirRegion) {
    std::vector<double> v(200 * 200);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x) v[y * 200 + x] = x + 1000 * y;
    const RasterSpec s = lonlat_raster(200, 200, 10, 46, 0.01, v);
    const Bounds b{10.5, 44.5, 10.8, 44.7};
    const Heights h = read_spec(s, 30, 20, FitMode::stretch, &b);
    EXPECT_NEAR(h.place.sx, 50, 1e-6);
    EXPECT_NEAR(h.place.sy, 130, 1e-6);
    EXPECT_NEAR(h.place.sw, 30, 1e-6);
    EXPECT_NEAR(h.place.sh, 20, 1e-6);
    EXPECT_NEAR(h.field.z[0], 50 + 1000 * 130, 0.01);  // one input pixel a cell: the region's corner
    EXPECT_NEAR(h.field.z[30 * 20 - 1], 79 + 1000 * 149, 0.01);
    write_raster(dir + "/b.tif", "GTiff", s);
    ImportOptions o;
    o.heights = {dir + "/b.tif"};
    o.has_bounds = true, o.bounds = {20, 10, 21, 11};
    Heights out;
    std::vector<std::string> notes;
    const Status st = read_import(o, 30, 20, out, notes);
    EXPECT_FALSE(st.ok);
    EXPECT_NE(st.why.find("lies outside"), std::string::npos) << st.why;
}

}  // namespace
