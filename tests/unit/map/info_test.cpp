// What mvx info reports: statistics over the present cells, what the sidecar adds, and the JSON for scripts.
#include "map/info.h"
#include "map/mapfile.h"
#include "map/sidecar.h"

#include "tests/unit/map/utm_sidecar.h"

#include <cpl_json.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

TEST(Info, StatisticsOverThePresentCells) {
    Map m;
    for (int i = 0; i < 10; ++i) m.height[100 + i] = -5;
    for (int i = 0; i < 3; ++i) m.height[50000 + i] = 100;
    for (int i = 0; i < 7; ++i) m.colour[9000 + i] = 0x8000;
    MapStats s = map_stats(m, grid_bytes);
    EXPECT_TRUE(s.complete());
    EXPECT_EQ(s.cells, grid_cells);
    EXPECT_EQ(s.lo, -5);
    EXPECT_EQ(s.hi, 100);
    EXPECT_EQ(s.water, 10);
    EXPECT_EQ(s.bit15, 7);
    EXPECT_EQ(s.count[-5 + 128], 10);
    EXPECT_EQ(s.count[128], grid_cells - 13);
    const std::string r = format_info(info_facts("m.mvx", s));
    EXPECT_EQ(r.rfind("m.mvx: 75,497,472 bytes, complete (6144 x 4096 cells)\nheights: -5 to 100\n", 0), 0u) << r;
    EXPECT_NE(r.find("colour bit 15: set in 7 cells"), std::string::npos) << r;

    // A short file: only its whole cells count (two rows and a bit).
    s = map_stats(m, 3LL * grid_columns * 2 + 2);
    EXPECT_FALSE(s.complete());
    EXPECT_EQ(s.cells, 2LL * grid_columns);
    EXPECT_EQ(s.hi, 0);
    EXPECT_EQ(s.water, 10);
    EXPECT_NE(format_info(info_facts("m.mvx", s)).find("incomplete: 12,288 of 25,165,824 cells (2 whole rows of 4096)"),
              std::string::npos);
    EXPECT_NE(format_info(info_facts("m.mvx", map_stats(m, grid_bytes + 5))).find("5 more than a map"), std::string::npos);
}

TEST(Info, SidecarAddsSourcePlaceScaleAndSea) {
    Map m;
    for (int i = 0; i < 1000; ++i) m.height[i] = -3;
    for (int i = 1000; i < 1500; ++i) m.colour[i] = void_cell_colour;
    const Sidecar sc = utm_sidecar();
    const std::string r = format_info(info_facts("m.mvx", map_stats(m, grid_bytes), &sc));
    for (const char *line : {"voids: 0.0% of cells\n", "source: dem.tif (mvx import), EPSG:32633\n",
                             "bounds: 13.7000 E to 13.7200 E, 45.1000 N to 45.1100 N\n",
                             "data: columns 100 to 139, rows 200 to 219\n",
                             "scale: 30 m per cell across, 30 m down; 1 m per level below level 0, 2 above; the viewer "
                             "shows the relief 5 times exaggerated\n"})
        EXPECT_NE(r.find(line), std::string::npos) << line << " in\n" << r;
    // Level 0 is at the sea level, so sea is every cell at level 0 or below, less the voids.
    const double sea = 100.0 * (grid_cells - 500) / grid_cells;
    char want[64];
    std::snprintf(want, sizeof want, "sea (at or below 0 m): %.1f%% of cells\n", sea);
    EXPECT_NE(r.find(want), std::string::npos) << r;
    // A stranger's bytes in names and the sidecar's strings stay on their line, escaped.
    Sidecar odd = sc;
    odd.sources = {"a\x1b[2Jb.tif", "c\nsource: forged"};
    InfoFacts f = info_facts("m\r.mvx", map_stats(m, grid_bytes), &odd);
    f.sidecar_error = "x\x07";
    const std::string e = format_info(f);
    EXPECT_EQ(e.rfind("m\\r.mvx: 75,497,472 bytes", 0), 0u) << e;
    EXPECT_NE(e.find("\nsource: a\\x1b[2Jb.tif, c\\nsource: forged (mvx import)"), std::string::npos) << e;
    EXPECT_NE(e.find("\nsidecar ignored: x\\x07\n"), std::string::npos) << e;
    EXPECT_EQ(e.find_first_of("\x1b\r\x07"), std::string::npos) << e;
}

// The JSON's facts, read back through a JSON parser (strings of any bytes: the JSON writer's tests).
TEST(Info, JsonGivesTheTextsFactsWithStableKeys) {
    Map m;
    for (int i = 0; i < 1000; ++i) m.height[i] = -3;
    for (int i = 1000; i < 1500; ++i) m.colour[i] = unmarked_void_colour;
    for (int i = 2000; i < 2007; ++i) m.colour[i] = 0x8000, m.height[i] = 90;  // voids too, marked
    Sidecar sc = utm_sidecar();
    sc.sources = {"a.tif", "b.tif"};
    const InfoFacts f = info_facts("m.mvx", map_stats(m, grid_bytes), &sc);
    CPLJSONDocument doc;
    ASSERT_TRUE(doc.LoadMemory(info_json(f))) << info_json(f);
    const CPLJSONObject r = doc.GetRoot();
    const struct {
        const char *key;
        double want;
    } numbers[] = {
        {"bytes", grid_bytes}, {"cells", grid_cells}, {"heights/min", -3}, {"heights/max", 90},
        {"water/cells", 1000}, {"water/share", 1000.0 / grid_cells}, {"voids/cells", 507}, {"bit15/cells", 7},
        {"sidecar/bounds/west", 13.7}, {"sidecar/bounds/north", 45.11}, {"sidecar/box/x0", 100},
        {"sidecar/box/height", 20}, {"sidecar/metres_per_cell/across", 30}, {"sidecar/per_level/below_0", 1},
        {"sidecar/per_level/above_0", 2}, {"sidecar/exaggeration", 5}, {"sidecar/sea_level", 0},
        {"sidecar/sea/cells", grid_cells - 7 - 500},  // all but the voids
    };
    for (const auto &n : numbers) EXPECT_EQ(r.GetDouble(n.key, -1e9), n.want) << n.key;
    EXPECT_EQ(r.GetString("map"), "m.mvx");
    EXPECT_TRUE(r.GetBool("complete"));
    EXPECT_EQ(r.GetString("sidecar/crs"), "EPSG:32633");
    EXPECT_EQ(r.GetString("sidecar/height_unit"), "metre");
    EXPECT_FALSE(r.GetBool("sidecar/nominal", true));
    const CPLJSONArray src = r.GetArray("sidecar/sources");
    ASSERT_EQ(src.Size(), 2);
    EXPECT_EQ(src[1].ToString(), "b.tif");
    const CPLJSONArray bins = r.GetArray("histogram");
    ASSERT_EQ(bins.Size(), 16);
    for (int b = 0; b < 16; ++b) {
        EXPECT_EQ(bins[b].GetInteger("from"), b * 16 - 128);
        EXPECT_EQ(bins[b].GetInteger("to"), b * 16 - 113);
        EXPECT_EQ(bins[b].GetLong("cells"), b == 7 ? 1000 : b == 13 ? 7 : b == 8 ? grid_cells - 1007 : 0) << b;
    }
    EXPECT_EQ(r.GetObj("sidecar_error").GetType(), CPLJSONObject::Type::Null);
}

// What is not known is null: no cells, no sidecar, a scale too small to give a finite exaggeration.
TEST(Info, JsonHasNullsForWhatIsNotKnown) {
    Map m;
    CPLJSONDocument doc;
    ASSERT_TRUE(doc.LoadMemory(info_json(info_facts("e.mvx", map_stats(m, 2)))));
    EXPECT_FALSE(doc.GetRoot().GetBool("complete", true));
    EXPECT_EQ(doc.GetRoot().GetLong("cells", -1), 0);
    for (const char *key : {"heights", "sidecar", "sidecar_error"})
        EXPECT_EQ(doc.GetRoot()[key].GetType(), CPLJSONObject::Type::Null) << key;

    Sidecar sc = utm_sidecar();
    sc.has_bounds = false;
    sc.crs_name.clear();
    sc.per_level_above = 1e-320;
    InfoFacts f = info_facts("m.mvx", map_stats(m, grid_bytes), &sc);
    f.sidecar_error = "m.mvx.json: not JSON";
    ASSERT_TRUE(doc.LoadMemory(info_json(f))) << info_json(f);
    for (const char *key : {"sidecar/crs", "sidecar/bounds", "sidecar/exaggeration"})
        EXPECT_EQ(doc.GetRoot()[key].GetType(), CPLJSONObject::Type::Null) << key << "\n" << info_json(f);
    EXPECT_EQ(doc.GetRoot().GetString("sidecar_error"), "m.mvx.json: not JSON");
}

}  // namespace
