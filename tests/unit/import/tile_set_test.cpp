// The tile set: tiles in other systems and units brought to the first's, one raster of their union however they are named.
#include "tests/unit/import/heights_fixture.h"

#include "import/inputs.h"
#include "map/export.h"
#include "sandbox/readable.h"

#include <cpl_conv.h>
#include <gdal.h>
#include <gdal_utils.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace {

class TileSet : public HeightFiles {};

// A tile in Web Mercator beside one in longitude and latitude is warped into the first's system,
// said so, and lands where it belongs.
TEST_F(TileSet, TileInAnotherSystemIsWarpedIntoTheFirsts) {
    const auto ramp = [](double lon, double lat) { return 1000 * lon + 400 * lat; };
    const std::string west = write("w.tif", sampled(40, 40, 6, 46, 0.01, 0.01, ramp));
    // The eastern neighbour, 6.4 to 6.8 E, sampled on a Web Mercator grid.
    const double r = 6378137, rad = M_PI / 180;
    const double mx0 = 6.4 * rad * r, mx1 = 6.8 * rad * r;
    const double my0 = r * std::log(std::tan(M_PI / 4 + 45.6 * rad / 2)), my1 = r * std::log(std::tan(M_PI / 4 + 46 * rad / 2));
    RasterSpec merc;
    merc.w = 50, merc.h = 60, merc.epsg = 3857;
    merc.gt = {mx0, (mx1 - mx0) / 50, 0, my1, 0, -(my1 - my0) / 60};
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 50; ++x) {
            const double mx = mx0 + (x + 0.5) * merc.gt[1], my = my1 + (y + 0.5) * merc.gt[5];
            merc.values.push_back(ramp(mx / r / rad, (2 * std::atan(std::exp(my / r)) - M_PI / 2) / rad));
        }
    const std::string east = write("e.tif", merc);
    ImportOptions o;
    o.heights = {west, east}, o.fit = FitMode::stretch;
    Heights h;
    std::vector<std::string> notes;
    const Status st = read_import(o, 80, 40, h, notes);
    ASSERT_TRUE(st.ok) << st.why;
    EXPECT_NE(std::find(notes.begin(), notes.end(), east + ": in EPSG:3857: warped into EPSG:4326 (bilinear)"), notes.end());
    int checked = 0;
    for (int y = 1; y < 39; ++y)
        for (int x = 44; x < 79; ++x) {  // inside the eastern tile
            const size_t k = static_cast<size_t>(y) * 80 + x;
            const double lon = h.place.gt[0] + (x + 0.5) * h.place.gt[1], lat = h.place.gt[3] + (y + 0.5) * h.place.gt[5];
            ASSERT_FALSE(h.field.voids[k]) << x << "," << y;
            EXPECT_NEAR(h.field.z[k], ramp(lon, lat), 1.0) << x << "," << y;
            ++checked;
        }
    EXPECT_EQ(checked, 38 * 35);
}

// Each tile read in its own terms: packed with its own scale and offset (Int16), or in feet
// beside metres; the heights come out whole, in the first tile's unit.
TEST_F(TileSet, EachTileUnpackedInItsOwnScaleAndUnit) {
    const struct {
        const char *unit;
        double scale, offset, per_metre;
    } tiles[] = {{"m", 0.5, 100, 1}, {"ft", 2, -50, 1 / 0.3048}};
    std::vector<std::string> files;
    for (int k = 0; k < 2; ++k) {
        const auto &c = tiles[k];
        RasterSpec s = lonlat_raster(10, 8, 6 + k * 0.1, 46, 0.01, {});
        s.type = "Int16", s.unit = c.unit, s.scale = c.scale, s.offset = c.offset;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 10; ++x)
                s.values.push_back(std::round(((200 + 4 * (10 * k + x) + 2 * y) * c.per_metre - c.offset) / c.scale));
        files.push_back(write("t" + std::to_string(k) + ".tif", s));
    }
    const Heights h = read(files, 20, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 20; ++x)
            EXPECT_NEAR(h.field.z[static_cast<size_t>(y) * 20 + x], 200 + 4 * x + 2 * y, x < 10 ? 0 : 0.31) << x << "," << y;
}

// Packed samples stand for sample × scale + offset, as netCDF and GeoTIFF say.
TEST_F(TileSet, PackedSamplesAreUnpacked) {
    RasterSpec s = lonlat_raster(3, 1, 6, 50, 0.5, {0, 10, -32768});
    s.type = "Int16", s.has_nodata = true, s.nodata = -32768, s.scale = 0.5, s.offset = -100;
    for (const char *driver : {"GTiff", "netCDF"}) {
        const std::string path = dir + "/p." + (std::string(driver) == "GTiff" ? "tif" : "nc");
        write_raster(path, driver, s);
        Heights h;
        ASSERT_TRUE(read_native({path}, h).ok) << driver;
        EXPECT_EQ(h.field.z, (std::vector<float>{-100, -95, 0})) << driver;
        EXPECT_EQ(h.field.voids, (std::vector<uint8_t>{0, 0, 1})) << driver;
    }
}

// Four tiles sharing edges make the same map as the VRT mosaic GDAL's own tool would build.
TEST_F(TileSet, TilesMakeOneMosaicLikeTheirVrt) {
    std::vector<std::string> tiles;
    for (int k = 0; k < 4; ++k) {
        std::vector<double> v;
        for (int i = 0; i < 16; ++i) v.push_back(k * 100 + i);
        RasterSpec s = lonlat_raster(4, 4, 10 + (k % 2), 45 - (k / 2), 0.25, v);
        tiles.push_back(dir + "/t" + std::to_string(k) + ".tif");
        write_raster(tiles.back(), "GTiff", s);
    }
    Heights from_tiles;
    ASSERT_TRUE(read_native(tiles, from_tiles).ok);
    ASSERT_EQ(from_tiles.field.w, 8);
    ASSERT_EQ(from_tiles.field.h, 8);
    // Tile 3 is the south-east one: its first sample lands at column 4, row 4.
    EXPECT_EQ(from_tiles.field.z[4 * 8 + 4], 300);
    EXPECT_EQ(from_tiles.field.z[7], 103);
    EXPECT_EQ(std::count(from_tiles.field.voids.begin(), from_tiles.field.voids.end(), 1), 0);
    std::vector<const char *> names;
    for (const std::string &t : tiles) names.push_back(t.c_str());
    GDALDatasetH vrt = GDALBuildVRT((dir + "/all.vrt").c_str(), 4, nullptr, names.data(), nullptr, nullptr);
    ASSERT_NE(vrt, nullptr);
    GDALClose(vrt);
    for (FitMode fit : {FitMode::pad, FitMode::stretch}) {
        ImportOptions a, b;
        a.heights = tiles, b.heights = {dir + "/all.vrt"};
        a.fit = b.fit = fit;
        Heights ha, hb;
        std::vector<std::string> notes;
        ASSERT_TRUE(read_import(a, 60, 40, ha, notes).ok);
        ASSERT_TRUE(read_import(b, 60, 40, hb, notes).ok);
        EXPECT_EQ(ha.field.z, hb.field.z);
        EXPECT_EQ(ha.field.voids, hb.field.voids);
    }
}

// Tiles alike the first (one image, no companion, the same keys, NoData and cell size) take what
// GDAL read from it, but where they lie: the same as GDAL reads from each, to the bit, tie points
// at cells' corners or at their centres; those whose blocks mvx decodes itself are opened by
// libtiff alone. Any other is read by GDAL: overviews or a mask inside, a mask beside it, another
// NoData.
TEST_F(TileSet, AlikeTilesAreReadAsGdalReadsThem) {
    for (const char *raster : {"Area", "Point", "Packed"}) {
        SCOPED_TRACE(raster);
        const bool packed = raster == std::string("Packed");
        std::vector<std::string> tiles;
        for (int k = 0; k < 6; ++k) {
            RasterSpec s = lonlat_raster(8, 8, 10.1 + 2 * k, 45.3 - 0.7 * k, 0.1, std::vector<double>(64, k));
            s.has_nodata = true, s.nodata = k == 5 ? -1 : -9999;
            if (packed) s.options = {"COMPRESS=DEFLATE", "PREDICTOR=3", "BLOCKYSIZE=3"};
            tiles.push_back(write(std::string(raster) + std::to_string(k) + ".tif", s));
            GDALDatasetH ds = GDALOpen(tiles.back().c_str(), GA_Update);
            ASSERT_NE(ds, nullptr);
            GDALSetMetadataItem(ds, "AREA_OR_POINT", packed ? "Point" : raster, nullptr);
            if (k == 2) {
                const int two = 2;
                EXPECT_EQ(GDALBuildOverviews(ds, "AVERAGE", 1, &two, 0, nullptr, nullptr, nullptr), CE_None);
            }
            if (k == 3 || k == 4) {  // tile 3's mask inside it, tile 4's beside it (.msk)
                CPLSetConfigOption("GDAL_TIFF_INTERNAL_MASK", k == 3 ? "YES" : "NO");
                EXPECT_EQ(GDALCreateDatasetMaskBand(ds, GMF_PER_DATASET), CE_None);
                CPLSetConfigOption("GDAL_TIFF_INTERNAL_MASK", nullptr);
            }
            GDALClose(ds);
        }
        HeightSource asked, known;
        ASSERT_TRUE(open_heights(tiles, 0, 0, asked).ok);
        Siblings siblings;
        readable_for(tiles, &siblings);
        set_siblings(siblings);
        const Status st = open_heights(tiles, 0, 0, known);
        set_siblings({});
        ASSERT_TRUE(st.ok) << st.why;
        ASSERT_EQ(known.tiles.size(), tiles.size());
        for (size_t i = 0; i < tiles.size(); ++i) {
            const Tile &a = asked.tiles[i], &k = known.tiles[i];
            SCOPED_TRACE(k.path);
            EXPECT_EQ(std::memcmp(k.gt, a.gt, sizeof k.gt), 0);
            EXPECT_EQ(k.nodata, a.nodata);
            EXPECT_EQ(k.masked, a.masked);
            EXPECT_EQ(k.overviews, a.overviews);
            EXPECT_EQ(k.masked, k.path == tiles[3] || k.path == tiles[4]);
            EXPECT_EQ(k.overviews.empty(), k.path != tiles[2]);
            EXPECT_EQ(std::make_pair(k.w, k.h), std::make_pair(a.w, a.h));
            EXPECT_EQ(std::make_pair(k.block_w, k.block_h), std::make_pair(a.block_w, a.block_h));
            EXPECT_EQ(k.opened && k.opened->take().tiff, packed && k.path == tiles[1]);
        }
        EXPECT_EQ(std::memcmp(known.gt, asked.gt, sizeof known.gt), 0);
        EXPECT_EQ(known.wkt, asked.wkt);
    }
}

TEST_F(TileSet, TilesMustBePlacedByTheirGeoreferencing) {
    write_raster(dir + "/a.tif", "GTiff", lonlat_raster(2, 2, 0, 1, 1, {1, 2, 3, 4}));
    write_bytes(dir + "/plain.png", png_file({2, 1, 8, 0, false, {1, 2}, {}, {}}));
    const struct {
        std::vector<std::string> tiles;
        std::string says;
    } cases[] = {
        {{dir + "/a.tif", dir + "/plain.png"}, dir + "/plain.png: not georeferenced"},
        {{dir + "/plain.png", dir + "/a.tif"}, dir + "/plain.png: not georeferenced"},
    };
    for (const auto &c : cases) {
        HeightSource src;
        const Status st = open_heights(c.tiles, 0, 0, src);
        EXPECT_FALSE(st.ok);
        EXPECT_EQ(st.why.rfind(c.says, 0), 0u) << st.why;
    }
}

TEST_F(TileSet, ExportMarkDeclaresMapLevels) {
    const std::string key(levels_key), value(levels_value);
    auto text = [](const std::string &k, const std::string &v) {
        Bytes d(k.begin(), k.end());
        d.push_back(0);
        d.insert(d.end(), v.begin(), v.end());
        return png_chunk("tEXt", d);
    };
    write_bytes(dir + "/l.png", png_file({1, 1, 16, 0, false, be16({257}), {}, text(key, value)}));
    write_bytes(dir + "/m.png", png_file({1, 1, 16, 0, false, be16({257}), {}, text(key, "metres")}));
    HeightSource marked, other;
    ASSERT_TRUE(open_heights({dir + "/l.png"}, 0, 0, marked).ok);
    ASSERT_TRUE(open_heights({dir + "/m.png"}, 0, 0, other).ok);
    EXPECT_TRUE(marked.map_levels);
    EXPECT_FALSE(other.map_levels);  // the same key with another value is not the mark
}

// A directory (companions, hidden files and notes left out, tiles below it found), a list in
// another order, and the files named in a third order all give the same heights.
TEST_F(TileSet, DirectoryListAndNamesGiveTheSameHeights) {
    const RasterSpec whole = sampled(60, 40, 6, 46, 0.01, 0.01, relief);
    ASSERT_EQ(mkdir((dir + "/set").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/set/south").c_str(), 0755), 0);
    std::vector<std::string> files;
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 3; ++i)
            files.push_back(write(std::string(j ? "set/south/" : "set/") + "t" + std::to_string(i) + ".tif",
                                  cut(whole, 20 * i, 20 * j, 20, 20)));
    for (const char *other : {"set/t0.tif.aux.xml", "set/notes.txt", "set/.hidden.tif", "set/t1.prj"})
        std::ofstream(dir + "/" + other) << "not a raster\n";
    std::ofstream(dir + "/list") << "# the tiles, south first\n\n" << files[5] << "\n" << files[3] << "\n  " << files[4]
                                 << "  \n" << files[0] << "\n" << files[2] << "\n" << files[1] << "\n";
    const Heights by_dir = read({dir + "/set"}, 45, 30);
    const Heights by_list = read({}, 45, 30, Resampling::automatic, dir + "/list");
    const Heights by_name = read({files[4], files[1], files[0], files[5], files[3], files[2]}, 45, 30);
    EXPECT_EQ(by_dir.src.tiles.size(), 6u);
    EXPECT_EQ(by_dir.field.z, by_name.field.z);
    EXPECT_EQ(by_list.field.z, by_name.field.z);
    EXPECT_EQ(by_dir.field.voids, by_name.field.voids);
    std::vector<std::string> none, notes;
    EXPECT_FALSE(expand_inputs({dir + "/set/south/.."}, dir + "/missing", none, notes).ok);
}

}  // namespace
