// Map exports (previews, 16-bit levels, GeoTIFF heights in metres), the sidecar, and what mvx info reports.
#include "export.h"
#include "gdal_env.h"
#include "import.h"
#include "info.h"
#include "sidecar.h"

#include "scratch.h"

#include <cpl_json.h>
#include <gdal.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

class Files : public Scratch {};

TEST(Export, ColoursSpreadOverEightBitsAndAverageBlocks) {
    Map m;
    m.colour[0] = 0x7fff;
    m.colour[1] = 16 << 10 | 1 << 5;
    // Block (1, 0) at scale 2: cells (2, 0), (3, 0), (2, 1), (3, 1); red 0, 31, 31, 31.
    m.colour[3] = m.colour[colonnes + 2] = m.colour[colonnes + 3] = 31 << 10;
    const std::vector<uint8_t> p1 = preview_rgb(m, 1);
    ASSERT_EQ(p1.size(), 3ULL * cellules);
    EXPECT_EQ(std::vector<uint8_t>(p1.begin(), p1.begin() + 6), (std::vector<uint8_t>{255, 255, 255, 132, 8, 0}));
    const std::vector<uint8_t> p2 = preview_rgb(m, 2);
    ASSERT_EQ(p2.size(), 3ULL * 3072 * 2048);
    EXPECT_EQ(p2[3], 191);  // 23.25 of 31
    EXPECT_EQ(preview_rgb(m, 5).size(), 3ULL * 1229 * 820);  // edge blocks are partial

    Map w;
    w.colour[0] = 0xffff;
    const std::vector<uint8_t> pw = preview_rgb(w, 1);
    EXPECT_EQ(std::vector<uint8_t>(pw.begin(), pw.begin() + 3), (std::vector<uint8_t>{255, 255, 255}));
}

TEST(Export, HeightsAreLevelsTimes257) {
    Map m;
    m.height[0] = -128;
    m.height[1] = 127;
    m.height[2] = 0;
    m.height[3] = -1;
    const std::vector<uint16_t> s = height_samples(m, 1);
    EXPECT_EQ(std::vector<uint16_t>(s.begin(), s.begin() + 4), (std::vector<uint16_t>{0, 65535, 32896, 32639}));
    // Scale 2: block (1, 0) is 0, -1, 0, 0: mean -0.25 rounds to level 0.
    EXPECT_EQ(height_samples(m, 2)[1], 32896);
}

TEST_F(Files, ExportedPreviewReadsBack) {
    Map m;
    for (long long i = 0; i < cellules; ++i) m.colour[i] = static_cast<uint16_t>(i % 32 << 10 | (i / colonnes) % 32);
    ASSERT_TRUE(export_png(m, dir + "/p.png", 4, false).ok);
    gdal_setup();
    GDALDatasetH ds = GDALOpen((dir + "/p.png").c_str(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    ASSERT_EQ(GDALGetRasterXSize(ds), 1536);
    ASSERT_EQ(GDALGetRasterYSize(ds), 1024);
    std::vector<uint8_t> rgb(3ULL * 1536 * 1024);
    ASSERT_EQ(GDALDatasetRasterIO(ds, GF_Read, 0, 0, 1536, 1024, rgb.data(), 1536, 1024, GDT_Byte, 3, nullptr, 3, 3 * 1536, 1),
              CE_None);
    GDALClose(ds);
    EXPECT_EQ(rgb, preview_rgb(m, 4));
    const Status st = export_png(m, dir + "/nowhere/p.png", 4, false);
    EXPECT_FALSE(st.ok);
    EXPECT_NE(st.why.find(dir + "/nowhere/p.png"), std::string::npos) << st.why;
}
TEST(Info, StatisticsOverThePresentCells) {
    Map m;
    for (int i = 0; i < 10; ++i) m.height[100 + i] = -5;
    for (int i = 0; i < 3; ++i) m.height[50000 + i] = 100;
    for (int i = 0; i < 7; ++i) m.colour[9000 + i] = 0x8000;
    MapStats s = map_stats(m, taille_grille);
    EXPECT_TRUE(s.complete());
    EXPECT_EQ(s.cells, cellules);
    EXPECT_EQ(s.lo, -5);
    EXPECT_EQ(s.hi, 100);
    EXPECT_EQ(s.water, 10);
    EXPECT_EQ(s.bit15, 7);
    EXPECT_EQ(s.count[-5 + 128], 10);
    EXPECT_EQ(s.count[128], cellules - 13);
    const std::string r = format_info(info_facts("m.mvx", s));
    EXPECT_EQ(r.rfind("m.mvx: 75,497,472 bytes, complete (6144 x 4096 cells)\nheights: -5 to 100\n", 0), 0u) << r;
    EXPECT_NE(r.find("colour bit 15: set in 7 cells"), std::string::npos) << r;

    // A short file: only its whole cells count (two rows and a bit).
    s = map_stats(m, 3LL * colonnes * 2 + 2);
    EXPECT_FALSE(s.complete());
    EXPECT_EQ(s.cells, 2LL * colonnes);
    EXPECT_EQ(s.hi, 0);
    EXPECT_EQ(s.water, 10);
    EXPECT_NE(format_info(info_facts("m.mvx", s)).find("incomplete: 12,288 of 25,165,824 cells (2 whole rows of 4096)"),
              std::string::npos);
    EXPECT_NE(format_info(info_facts("m.mvx", map_stats(m, taille_grille + 5))).find("5 more than a map"), std::string::npos);
}


// A map of an imported area: a 40 x 20 box at (100, 200) in UTM 33N, 30 m cells, 2 m a level
// above 0 and 1 m below, sea at 0 m; a void in it.
Sidecar utm_sidecar() {
    Sidecar s;
    s.written_by = "mvx import";
    s.sources = {"dem.tif"};
    s.crs_name = "EPSG:32633";
    s.crs = "PROJCS[\"WGS 84 / UTM zone 33N\",GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],"
            "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],"
            "PARAMETER[\"latitude_of_origin\",0],PARAMETER[\"central_meridian\",15],PARAMETER[\"scale_factor\",0.9996],"
            "PARAMETER[\"false_easting\",500000],PARAMETER[\"false_northing\",0],UNIT[\"metre\",1],AUTHORITY[\"EPSG\",\"32633\"]]";
    s.georeferenced = true;
    const double gt[6] = {400000 - 100 * 30.0, 30, 0, 5000000 + 200 * 30.0, 0, -30};
    std::copy(gt, gt + 6, s.gt);
    s.has_bounds = true, s.west = 13.7, s.south = 45.1, s.east = 13.72, s.north = 45.11;
    s.box_x0 = 100, s.box_y0 = 200, s.box_w = 40, s.box_h = 20;
    s.cell_x = s.cell_y = 30;
    s.metres = true;
    s.height_at_0 = 0, s.height_at_m1 = -1, s.per_level_below = 1, s.per_level_above = 2;
    s.sea_level = 0;
    return s;
}

TEST(Sidecar, JsonRoundTripAndLevelHeights) {
    const Sidecar s = utm_sidecar();
    Sidecar back;
    ASSERT_TRUE(parse_sidecar(sidecar_json(s), "m.json", back).ok);
    EXPECT_EQ(sidecar_json(back), sidecar_json(s));
    EXPECT_EQ(back.crs, s.crs);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(back.gt[k], s.gt[k]);
    EXPECT_EQ(back.box_w, 40);
    const std::pair<int, double> levels[] = {{-128, -128}, {-1, -1}, {0, 0}, {1, 2}, {127, 254}};
    for (auto [level, metres] : levels) EXPECT_EQ(height_of_level(back, level), metres) << level;
    EXPECT_TRUE(is_sea_level(back, 0));
    EXPECT_FALSE(is_sea_level(back, 1));
    const struct {
        const char *text, *says;
    } bad[] = {{"{", "not JSON"}, {"{\"format\":\"other\"}", "not an mvx map sidecar"}};
    for (const auto &b : bad) {
        const Status st = parse_sidecar(b.text, "m.json", back);
        EXPECT_FALSE(st.ok);
        EXPECT_EQ(st.why, std::string("m.json: ") + b.says);
    }
}

// A sidecar is input: what would take export outside the map, or is not a number, is refused
// naming the sidecar, both when it is read and when export --heights would use it.
TEST_F(Files, HostileSidecarsAreRefusedNamingThem) {
    using Edit = std::function<void(CPLJSONObject &)>;
    auto set = [](const char *key, auto v) { return Edit([=](CPLJSONObject &r) { r.Set(key, v); }); };
    auto gt = [](std::vector<double> v, bool text = false) {
        return Edit([=](CPLJSONObject &r) {
            CPLJSONArray a;
            for (double x : v) a.Add(x);
            if (text) a.Add("north");
            r.Delete("geotransform");
            r.Add("geotransform", a);
        });
    };
    const std::string outside = ", is not within the 6144 x 4096 map";
    const std::string beyond_float = ", beyond what a float32 GeoTIFF holds (3.4e+38)";
    const struct {
        Edit edit;
        std::string says;
        bool reads = false;  // a sidecar info may use, that export --heights may not
    } bad[] = {
        {set("box/x0", -2000000000), "its box, columns -2000000000 to -1999999961 and rows 200 to 219" + outside},
        {set("box/x0", 6110), "its box, columns 6110 to 6149 and rows 200 to 219" + outside},
        {set("box/h", 0), "its box of 40 x 0 cells is empty"},
        {set("box/w", "40"), "box/w is not a whole number"},
        {set("box/x0", GInt64(1) << 40), "box/x0 is out of range: 1099511627776"},
        {set("sea_level", NAN), "sea_level holds a number that is not finite"},
        {set("metres_per_cell/down", -30.0), "metres_per_cell/down is negative"},
        {gt({}), "a geotransform of 0 numbers, not 6"},
        {gt({0, 30, 0, 0, 0, 0}), "its geotransform gives cells no area"},
        {gt({0, 1e200, 0, 0, 0, -1e200}), "its geotransform gives cells an infinite area"},
        {gt({0, 30, 0, 0, 0}, true), "geotransform holds something that is not a number"},
        {set("levels/per_level_above_0", 1e307), "levels/per_level_above_0 of 1e+307 takes level 127 beyond any number"},
        {set("levels/per_level_below_0", 1e307), "levels/per_level_below_0 of 1e+307 takes level -128 beyond any number"},
        {gt({0, 1e305, 0, 0, 0, -30}), "its geotransform takes the map's corner at column 6144, row 0 beyond any number"},
        {gt({0, 30, 0, 0, 0, -1e305}), "its geotransform takes the map's corner at column 0, row 4096 beyond any number"},
        {set("levels/per_level_above_0", 1e37), "level 127 stands for 1.27e+39" + beyond_float, true},
        {set("levels/height_at_0", -1e39), "level 0 stands for -1e+39" + beyond_float, true},
    };
    const std::string map = dir + "/m.mvx";
    for (const auto &b : bad) {
        CPLJSONDocument doc;
        ASSERT_TRUE(doc.LoadMemory(sidecar_json(utm_sidecar())));
        CPLJSONObject root = doc.GetRoot();
        b.edit(root);
        const std::string text = doc.SaveAsString();
        Sidecar s;
        EXPECT_EQ(parse_sidecar(text, "m.json", s).why, b.reads ? "" : "m.json: " + b.says) << text;
        ASSERT_TRUE(write_file(sidecar_path(map), reinterpret_cast<const uint8_t *>(text.data()), text.size()).ok);
        ExportOptions o;
        o.map = map, o.out = dir + "/h.tif", o.heights = true;
        std::string done;
        EXPECT_EQ(export_map(o, done).why, sidecar_path(map) + ": " + b.says);
    }
    // Nor can a sidecar made in memory take export_geotiff outside the map.
    Sidecar s = utm_sidecar();
    s.box_x0 = 6110;
    EXPECT_FALSE(export_geotiff(Map(), s, dir + "/h.tif", 1).ok);
}

// The box's heights go out in metres, in the place the sidecar gives, voids as NoData, and blocks
// averaged over their non-void cells.
TEST_F(Files, HeightsGoToGeoTiffInMetresInPlace) {
    const Sidecar s = utm_sidecar();
    Map m;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) m.height[(200LL + y) * colonnes + 100 + x] = static_cast<int8_t>(x - 20);
    m.colour[200LL * colonnes + 100] = void_cell_colour, m.height[200LL * colonnes + 100] = 0;
    ASSERT_TRUE(export_geotiff(m, s, dir + "/h.tif", 1).ok);
    GDALDatasetH ds = GDALOpen((dir + "/h.tif").c_str(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    ASSERT_EQ(GDALGetRasterXSize(ds), 40);
    ASSERT_EQ(GDALGetRasterYSize(ds), 20);
    double gt[6];
    ASSERT_EQ(GDALGetGeoTransform(ds, gt), CE_None);
    EXPECT_EQ(gt[0], 400000);
    EXPECT_EQ(gt[3], 5000000);
    EXPECT_EQ(gt[1], 30);
    EXPECT_NE(std::string(GDALGetProjectionRef(ds)).find("UTM zone 33N"), std::string::npos);
    GDALRasterBandH b = GDALGetRasterBand(ds, 1);
    int has = 0;
    EXPECT_EQ(GDALGetRasterNoDataValue(b, &has), -32768);
    std::vector<float> z(40 * 20);
    ASSERT_EQ(GDALRasterIO(b, GF_Read, 0, 0, 40, 20, z.data(), 40, 20, GDT_Float32, 0, 0), CE_None);
    GDALClose(ds);
    EXPECT_EQ(z[0], -32768);
    EXPECT_EQ(z[1], -19);    // level -19, 1 m each below 0
    EXPECT_EQ(z[39], 38);    // level 19, 2 m each above
    EXPECT_EQ(z[40 + 25], 10);
    // At 1/2: the first block is three cells of -19, -20, -19 around the void.
    const std::vector<float> half = box_heights(m, s, 2, -32768);
    ASSERT_EQ(half.size(), 20u * 10);
    EXPECT_FLOAT_EQ(half[0], (-19 - 20 - 19) / 3.0f);
}

TEST_F(Files, GeoTiffNeedsTheSidecarAndHeights) {
    Map m;
    ASSERT_TRUE(write_map(dir + "/m.mvx", m).ok);
    ExportOptions o;
    o.map = dir + "/m.mvx";
    o.out = dir + "/h.tif";
    std::string done;
    Status st = export_map(o, done);
    EXPECT_EQ(st.why, dir + "/h.tif: colours are written as PNG; add --heights for a GeoTIFF of the heights");
    o.heights = true;
    st = export_map(o, done);
    EXPECT_EQ(st.why.rfind(dir + "/m.mvx: no " + dir + "/m.mvx.json says what its levels stand for", 0), 0u) << st.why;
}

TEST(Info, SidecarAddsSourcePlaceScaleAndSea) {
    Map m;
    for (int i = 0; i < 1000; ++i) m.height[i] = -3;
    for (int i = 1000; i < 1500; ++i) m.colour[i] = void_cell_colour;
    const Sidecar sc = utm_sidecar();
    const std::string r = format_info(info_facts("m.mvx", map_stats(m, taille_grille), &sc));
    for (const char *line : {"voids: 0.0% of cells\n", "source: dem.tif (mvx import), EPSG:32633\n",
                             "bounds: 13.7000 E to 13.7200 E, 45.1000 N to 45.1100 N\n",
                             "data: columns 100 to 139, rows 200 to 219\n",
                             "scale: 30 m per cell across, 30 m down; 1 m per level below level 0, 2 above; the viewer "
                             "shows the relief 5 times exaggerated\n"})
        EXPECT_NE(r.find(line), std::string::npos) << line << " in\n" << r;
    // Level 0 is at the sea level, so sea is every cell at level 0 or below, less the voids.
    const double sea = 100.0 * (cellules - 500) / cellules;
    char want[64];
    std::snprintf(want, sizeof want, "sea (at or below 0 m): %.1f%% of cells\n", sea);
    EXPECT_NE(r.find(want), std::string::npos) << r;
    // A stranger's bytes in names and the sidecar's strings stay on their line, escaped.
    Sidecar odd = sc;
    odd.sources = {"a\x1b[2Jb.tif", "c\nsource: forged"};
    InfoFacts f = info_facts("m\r.mvx", map_stats(m, taille_grille), &odd);
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
    const InfoFacts f = info_facts("m.mvx", map_stats(m, taille_grille), &sc);
    CPLJSONDocument doc;
    ASSERT_TRUE(doc.LoadMemory(info_json(f))) << info_json(f);
    const CPLJSONObject r = doc.GetRoot();
    const struct {
        const char *key;
        double want;
    } numbers[] = {
        {"bytes", taille_grille}, {"cells", cellules}, {"heights/min", -3}, {"heights/max", 90},
        {"water/cells", 1000}, {"water/share", 1000.0 / cellules}, {"voids/cells", 507}, {"bit15/cells", 7},
        {"sidecar/bounds/west", 13.7}, {"sidecar/bounds/north", 45.11}, {"sidecar/box/x0", 100},
        {"sidecar/box/height", 20}, {"sidecar/metres_per_cell/across", 30}, {"sidecar/per_level/below_0", 1},
        {"sidecar/per_level/above_0", 2}, {"sidecar/exaggeration", 5}, {"sidecar/sea_level", 0},
        {"sidecar/sea/cells", cellules - 7 - 500},  // all but the voids
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
        EXPECT_EQ(bins[b].GetLong("cells"), b == 7 ? 1000 : b == 13 ? 7 : b == 8 ? cellules - 1007 : 0) << b;
    }
    EXPECT_EQ(r.GetObj("sidecar_error").GetType(), CPLJSONObject::Type::Null);
}

// Voids as maps mark them (bit 15, whatever the colour and height) and as maps without the mark
// have them (magenta at height 0), counted alike by info, left out of the water and the sea, NoData
// in the GeoTIFF's heights, transparent in the 16-bit PNG, and voids again when that PNG is read back.
TEST_F(Files, VoidsOfEitherKindAreKnownByInfoExportAndImport) {
    const struct {
        const char *what;
        uint16_t colour;
        int8_t height;
        bool is_void;
    } cases[] = {
        {"marked grey at the nearest data's height", void_cell_colour, 37, true},
        {"marked, any colour, below 0", void_mark | 0x1234, -50, true},
        {"unmarked magenta at 0", unmarked_void_colour, 0, true},
        {"unmarked magenta off 0: data", unmarked_void_colour, 5, false},
    };
    // Rows 0 ... 255: four rows of 64-cell blocks; the sidecar's box has its top 6 rows in them.
    const long long band = 256LL * colonnes;
    Sidecar sc = utm_sidecar();
    sc.box_y0 = 250;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Map m;
        for (long long i = 0; i < band; ++i) m.colour[i] = c.colour, m.height[i] = c.height;
        const InfoFacts f = info_facts("m.mvx", map_stats(m, taille_grille), &sc);
        EXPECT_EQ(f.stats.voids, c.is_void ? band : 0);
        EXPECT_EQ(f.stats.water, !c.is_void && c.height < 0 ? band : 0);
        EXPECT_EQ(f.sea, cellules - band);  // level 0, the sea's, elsewhere

        const std::vector<float> box = box_heights(m, sc, 1, -32768);
        EXPECT_EQ(std::count(box.begin(), box.end(), -32768.0f), c.is_void ? 6 * 40 : 0);

        ASSERT_TRUE(export_png(m, dir + "/h.png", 64, true).ok);
        ImportOptions o;
        o.heights = {dir + "/h.png"};
        o.fit = FitMode::stretch;
        Heights back;
        std::vector<std::string> notes;
        ASSERT_TRUE(read_import(o, 96, 64, back, notes).ok);
        EXPECT_EQ(std::count(back.field.voids.begin(), back.field.voids.end(), 1), c.is_void ? 4 * 96 : 0);
        EXPECT_EQ(back.field.voids[4 * 96], 0);
    }
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
    InfoFacts f = info_facts("m.mvx", map_stats(m, taille_grille), &sc);
    f.sidecar_error = "m.mvx.json: not JSON";
    ASSERT_TRUE(doc.LoadMemory(info_json(f))) << info_json(f);
    for (const char *key : {"sidecar/crs", "sidecar/bounds", "sidecar/exaggeration"})
        EXPECT_EQ(doc.GetRoot()[key].GetType(), CPLJSONObject::Type::Null) << key << "\n" << info_json(f);
    EXPECT_EQ(doc.GetRoot().GetString("sidecar_error"), "m.mvx.json: not JSON");
}

}  // namespace
