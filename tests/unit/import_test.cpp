// Level scaling, fitting and resampling, the import pipeline, export and the map statistics.
#include "export.h"
#include "import.h"
#include "info.h"
#include "rasters.h"
#include "resample.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <unistd.h>

namespace {

TEST(LevelScale, EndsMapToTheExtremeLevels) {
    const struct {
        const char *what;
        LevelScale s;
        double in, want;
    } cases[] = {
        {"minimum", {141, 547, false, 0}, 141, -128},
        {"maximum", {141, 547, false, 0}, 547, 127},
        {"between", {141, 547, false, 0}, 344, -128 + 203 * 255.0 / 406},
        {"below the range is clamped", {0, 1000, false, 0}, -50, -128},
        {"above the range is clamped", {0, 1000, false, 0}, 2000, 127},
        {"sea level is 0", {0, 1000, true, 200}, 200, 0},
        {"halfway under the sea", {0, 1000, true, 200}, 100, -64},
        {"halfway above the sea", {0, 1000, true, 200}, 600, 63.5},
        {"lowest with a sea level", {0, 1000, true, 200}, 0, -128},
        {"highest with a sea level", {0, 1000, true, 200}, 1000, 127},
        {"sea below everything: no water", {100, 500, true, 50}, 100, 127.0 * 50 / 450},
        {"sea above everything: all water", {100, 500, true, 900}, 500, -128.0 * 400 / 800},
        {"flat input is level 0", {7, 7, false, 0}, 7, 0},
    };
    for (const auto &c : cases) EXPECT_NEAR(c.s(c.in), c.want, 1e-4) << c.what;
}

TEST(LevelScale, QuantisedLevelsNeverDecrease) {
    for (const LevelScale s : {LevelScale{-431.5, 8848, false, 0}, LevelScale{-431.5, 8848, true, 0}, LevelScale{0, 65535, true, 30000}}) {
        int prev = -129;
        for (double v = s.lo - 10; v <= s.hi + 10; v += (s.hi - s.lo) / 100003) {
            const int q = quantise(s(v));
            ASSERT_GE(q, prev) << v;
            prev = q;
        }
        EXPECT_EQ(quantise(s(s.lo)), -128);
        EXPECT_EQ(quantise(s(s.hi)), 127);
    }
}

TEST(LevelScale, ExportedLevelsComeBackExactly) {
    const LevelScale s{0, 65535, false, 0};
    for (int h = -128; h <= 127; ++h) EXPECT_EQ(s((h + 128) * 257), static_cast<float>(h)) << h;
}

TEST(LevelScale, ChosenFromGivenDeclaredOrDataRange) {
    HeightGrid g;
    g.w = 4, g.h = 1;
    g.z = {150, 0, -20, 900};
    g.voids = {0, 1, 0, 0};
    ImportOptions o;
    LevelScale s;
    ASSERT_TRUE(choose_scale(g, o, "x", s).ok);
    EXPECT_EQ(s.lo, -20);  // the void's 0 is not a height
    EXPECT_EQ(s.hi, 900);
    g.has_range = true, g.range_lo = 0, g.range_hi = 65535;
    ASSERT_TRUE(choose_scale(g, o, "x", s).ok);
    EXPECT_EQ(s.hi, 65535);
    o.has_range = true, o.range_lo = -1, o.range_hi = 1;
    ASSERT_TRUE(choose_scale(g, o, "x", s).ok);
    EXPECT_EQ(s.lo, -1);
    EXPECT_EQ(s.hi, 1);

    g.has_range = false, o.has_range = false;
    g.voids = {1, 1, 1, 1};
    const Status st = choose_scale(g, o, "all.tif", s);
    EXPECT_FALSE(st.ok);
    EXPECT_EQ(st.why, "all.tif: no heights: every sample is a void");
}

TEST(Fit, CentresTheWholeInput) {
    const struct {
        int w, h, x0, y0, fw, fh;
    } cases[] = {
        {6144, 4096, 0, 0, 6144, 4096}, {3, 2, 0, 0, 6144, 4096},     {4096, 4096, 1024, 0, 4096, 4096},
        {95, 90, 910, 0, 4324, 4096},   {8000, 1000, 0, 1664, 6144, 768}, {1, 1, 1024, 0, 4096, 4096},
        {100000, 1, 0, 2047, 6144, 1},
    };
    for (const auto &c : cases) {
        const Fit f = fit_into(c.w, c.h, colonnes, lignes);
        EXPECT_EQ(f.x0, c.x0) << c.w << "x" << c.h;
        EXPECT_EQ(f.y0, c.y0) << c.w << "x" << c.h;
        EXPECT_EQ(f.w, c.fw) << c.w << "x" << c.h;
        EXPECT_EQ(f.h, c.fh) << c.w << "x" << c.h;
        EXPECT_EQ(f.whole(), describe_fit(c.w, c.h, f).empty());
    }
    EXPECT_EQ(describe_fit(4096, 4096, fit_into(4096, 4096, colonnes, lignes)),
              "4096 x 4096 is narrower than the map's 3:2: fitted to its height as 4096 x 4096 cells in columns 1024 "
              "to 5119; the columns on either side are voids");
}

TEST(Resample, BilinearKnownAnswer) {
    // 2 × 2 into 4 × 4: cell centres fall at source positions 0 (clamped), 0.25, 0.75, 1 (clamped).
    const float z[] = {0, 10, 20, 30};
    const Fit f = fit_into(2, 2, 4, 4);
    std::vector<float> out(16);
    std::vector<uint8_t> v(16);
    resample(z, nullptr, 2, 2, f, out.data(), v.data());
    const float t[] = {0, 0.25f, 0.75f, 1};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            EXPECT_FLOAT_EQ(out[y * 4 + x], 10 * t[x] + 20 * t[y]) << x << "," << y;
            EXPECT_EQ(v[y * 4 + x], 0);
        }
}

TEST(Resample, SameSizeIsAnExactCopy) {
    const int w = 7, h = 5;
    std::vector<float> z(w * h);
    for (int i = 0; i < w * h; ++i) z[i] = static_cast<float>(i * 37 % 23) - 11.3f;
    std::vector<float> out(w * h);
    std::vector<uint8_t> v(w * h);
    resample(z.data(), nullptr, w, h, fit_into(w, h, w, h), out.data(), v.data());
    EXPECT_EQ(out, z);
}

TEST(Resample, VoidsAndMargins) {
    // A 2 × 1 row, its second sample void, into the 4 middle cells of a 6 × 2 grid.
    const float z[] = {5, 99};
    const uint8_t voids[] = {0, 1};
    const Fit f{6, 2, 1, 0, 4, 2};
    std::vector<float> out(12, -1);
    std::vector<uint8_t> v(12, 7);
    resample(z, voids, 2, 1, f, out.data(), v.data());
    // Weights on the valid sample: 1, 0.75, 0.25, 0: the last two cells are mostly void.
    const std::vector<float> want_z = {0, 5, 5, 0, 0, 0};
    const std::vector<uint8_t> want_v = {1, 0, 0, 1, 1, 1};
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(std::vector<float>(out.begin() + 6 * y, out.begin() + 6 * y + 6), want_z);
        EXPECT_EQ(std::vector<uint8_t>(v.begin() + 6 * y, v.begin() + 6 * y + 6), want_v);
    }
}

TEST(Resample, RgbFillsOnlyTheArea) {
    const uint8_t rgb[] = {0, 100, 200, 255, 0, 50};
    const Fit f{4, 1, 1, 0, 2, 1};
    std::vector<uint8_t> out(12, 9);
    resample_rgb(rgb, 2, 1, f, out.data());
    EXPECT_EQ(out, (std::vector<uint8_t>{9, 9, 9, 0, 100, 200, 255, 0, 50, 9, 9, 9}));
}

class Pipeline : public Scratch {
protected:
    static uint16_t red(uint16_t c) { return c >> 10 & 31; }
    static uint16_t green(uint16_t c) { return c >> 5 & 31; }
    static uint16_t blue(uint16_t c) { return c & 31; }
};

TEST_F(Pipeline, RawHeightsFillTheMap) {
    // 6 × 4, rising to the right and downwards: lowest at the top-left corner, highest at the bottom-right.
    Bytes r16;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const int v = 1000 + 100 * x + 7 * y;
            r16.push_back(static_cast<uint8_t>(v)), r16.push_back(static_cast<uint8_t>(v >> 8));
        }
    write_bytes(dir + "/h.r16", r16);
    ImportOptions o;
    o.heights = dir + "/h.r16";
    o.size_w = 6, o.size_h = 4;
    Map m;
    std::vector<std::string> notes;
    const Status st = import_map(o, m, notes);
    ASSERT_TRUE(st.ok) << st.why;
    EXPECT_EQ(m.height[0], -128);
    EXPECT_EQ(m.height[cellules - 1], 127);
    for (int x = 1; x < colonnes; ++x) ASSERT_GE(m.height[2000LL * colonnes + x], m.height[2000LL * colonnes + x - 1]) << x;
    long long bit15 = 0;
    for (uint16_t c : m.colour) bit15 += c >> 15;
    EXPECT_EQ(bit15, 0);
    ASSERT_FALSE(notes.empty());
    EXPECT_NE(notes.back().find("6 x 4, heights 1000 to 1521 mapped onto levels -128 to 127"), std::string::npos)
        << notes.back();
}

TEST_F(Pipeline, ColourImageColoursTheAreaAndVoidsKeepTheirOwn) {
    write_bytes(dir + "/h.png", png_file({2, 2, 8, 0, false, {0, 50, 100, 150}, {}, {}}));
    write_bytes(dir + "/c.png", png_file({3, 2, 8, 2, false, Bytes{255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0}, {}, {}}));
    ImportOptions o;
    o.heights = dir + "/h.png";
    o.colour = dir + "/c.png";
    Map m;
    std::vector<std::string> notes;
    const Status st = import_map(o, m, notes);
    ASSERT_TRUE(st.ok) << st.why;
    // Square heights: columns 1024 … 5119 hold them, the rest is void at height 0.
    for (const long long i : {2048LL * colonnes + 1024, 0LL * colonnes + 5119, 4095LL * colonnes + 3000}) {
        EXPECT_EQ(red(m.colour[i]), 31) << i;
        EXPECT_EQ(green(m.colour[i]) + blue(m.colour[i]), 0) << i;
    }
    for (const long long i : {0LL, 2048LL * colonnes + 1023, 2048LL * colonnes + 5120, cellules - 1}) {
        EXPECT_EQ(m.height[i], 0) << i;
        EXPECT_NE(m.colour[i], m.colour[2048LL * colonnes + 2048]) << i;
    }
    bool told = false;
    for (const std::string &n : notes) told |= n.find("stretched over the heights' 2 x 2") != std::string::npos;
    EXPECT_TRUE(told);
}

TEST_F(Pipeline, BadColourImageFailsNamingIt) {
    write_bytes(dir + "/h.png", png_file({2, 2, 8, 0, false, {0, 50, 100, 150}, {}, {}}));
    write_bytes(dir + "/c.png", {'n', 'o'});
    ImportOptions o;
    o.heights = dir + "/h.png";
    o.colour = dir + "/c.png";
    Map m;
    std::vector<std::string> notes;
    const Status st = import_map(o, m, notes);
    EXPECT_FALSE(st.ok);
    EXPECT_EQ(st.why, dir + "/c.png: not a PNG file (no PNG signature)");
}

TEST_F(Pipeline, ExportedHeightsImportBackIdentical) {
    // A map that uses only part of the level range, so a min/max stretch would show.
    Map m;
    for (long long i = 0; i < cellules; ++i) m.height[i] = static_cast<int8_t>((i * 7 + i / colonnes * 13) % 200 - 90);
    ASSERT_TRUE(export_png(m, dir + "/h.png", 1, true).ok);
    ImportOptions o;
    o.heights = dir + "/h.png";
    Map back;
    std::vector<std::string> notes;
    const Status st = import_map(o, back, notes);
    ASSERT_TRUE(st.ok) << st.why;
    EXPECT_TRUE(back.height == m.height);
}

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

TEST_F(Pipeline, ExportedPreviewReadsBack) {
    Map m;
    for (long long i = 0; i < cellules; ++i) m.colour[i] = static_cast<uint16_t>(i % 32 << 10 | (i / colonnes) % 32);
    ASSERT_TRUE(export_png(m, dir + "/p.png", 4, false).ok);
    RgbImage img;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(read_whole(dir + "/p.png", bytes, 1 << 30).ok);
    ASSERT_TRUE(read_png_rgb(bytes.data(), bytes.size(), "p.png", img).ok);
    EXPECT_EQ(img.w, 1536);
    EXPECT_EQ(img.h, 1024);
    EXPECT_EQ(img.rgb, preview_rgb(m, 4));
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
    const std::string r = format_info("m.mvx", s);
    EXPECT_EQ(r.rfind("m.mvx: 75,497,472 bytes, complete (6144 x 4096 cells)\nheights: -5 to 100\n", 0), 0u) << r;
    EXPECT_NE(r.find("colour bit 15: set in 7 cells"), std::string::npos) << r;

    // A short file: only its whole cells count (two rows and a bit).
    s = map_stats(m, 3LL * colonnes * 2 + 2);
    EXPECT_FALSE(s.complete());
    EXPECT_EQ(s.cells, 2LL * colonnes);
    EXPECT_EQ(s.hi, 0);
    EXPECT_EQ(s.water, 10);
    EXPECT_NE(format_info("m.mvx", s).find("incomplete: 12,288 of 25,165,824 cells (2 whole rows of 4096)"),
              std::string::npos);
    EXPECT_NE(format_info("m.mvx", map_stats(m, taille_grille + 5)).find("5 more than a map"), std::string::npos);
}

}  // namespace
