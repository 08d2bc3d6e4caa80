// The sidecar: its JSON read back, its per-level heights, and hostile ones refused naming the sidecar.
#include "map/export.h"
#include "map/mapfile.h"
#include "map/sidecar.h"

#include "tests/unit/map/utm_sidecar.h"
#include "tests/unit/scratch.h"

#include <cpl_json.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>

namespace {

class SidecarFiles : public Scratch {};

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

// A map filled in place (its file's bytes, mapped) reads back as written, beside its sidecar;
// one never committed leaves nothing.
TEST_F(SidecarFiles, MapFilledInPlaceReadsBackOrLeavesNothing) {
    Map m;
    for (long long i = 0; i < grid_cells; ++i)
        m.colour[i] = static_cast<uint16_t>((i * 2654435761ULL) & 0x7FFF), m.height[i] = static_cast<int8_t>(i * 7);
    for (const bool commit : {false, true}) {
        MapOutput out(dir + "/m.mvx", Links::follow);
        ASSERT_TRUE(out.open().ok);
        for (long long i = 0; i < grid_cells; ++i) put_cell(out.bytes() + 3 * i, m.colour[i], m.height[i]);
        if (commit) {
            ASSERT_TRUE(out.commit(utm_sidecar()).ok);
        }
    }
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"m.mvx", "m.mvx.json"}));
    Map back;
    long long bytes = 0;
    ASSERT_TRUE(read_map(dir + "/m.mvx", back, bytes).ok);
    EXPECT_EQ(bytes, grid_bytes);
    EXPECT_EQ(back.colour, m.colour);
    EXPECT_EQ(back.height, m.height);
}

// A sidecar is input: what would take export outside the map, or is not a number, is refused
// naming the sidecar, both when it is read and when export --heights would use it.
TEST_F(SidecarFiles, HostileSidecarsAreRefusedNamingThem) {
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

}  // namespace
