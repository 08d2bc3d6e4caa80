// Height readers on tiny hand-built files of every encoding, and on every kind of bad input.
#include "export.h"
#include "heightmap.h"
#include "rasters.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unistd.h>

namespace {

Status read_any(const Bytes &b, const std::string &name, HeightGrid &g, int w = 0, int h = 0) {
    switch (detect_format(b.data(), b.size(), name)) {
    case HeightFormat::png: return read_png_heights(b.data(), b.size(), name, g);
    case HeightFormat::tiff: return read_tiff(b.data(), b.size(), name, g);
    case HeightFormat::hgt: return read_hgt(b.data(), b.size(), name, g);
    case HeightFormat::r16: return read_r16(b.data(), b.size(), name, g, w, h);
    case HeightFormat::unknown: break;
    }
    return Status::fail(name + ": unknown");
}

Bytes be16(std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) b.push_back(static_cast<uint8_t>(x >> 8)), b.push_back(static_cast<uint8_t>(x));
    return b;
}

Bytes text_chunk(const char *key, const char *value) {
    Bytes d(key, key + std::strlen(key));
    d.push_back(0);
    d.insert(d.end(), value, value + std::strlen(value));
    return png_chunk("tEXt", d);
}

struct Good {
    const char *what;
    Bytes file;
    std::string name;
    int w, h;
    std::vector<float> z;
    std::vector<uint8_t> voids;  // empty: none
    int size_w = 0, size_h = 0;
};

std::vector<Good> good_cases() {
    std::vector<Good> c;
    c.push_back({"8-bit grey, rows top first", png_file({3, 2, 8, 0, false, {0, 1, 255, 10, 20, 30}, {}, {}}),
                 "a.png", 3, 2, {0, 1, 255, 10, 20, 30}, {}});
    c.push_back({"16-bit grey is big-endian", png_file({2, 2, 16, 0, false, be16({0x1234, 0xfffe, 1, 0x8000}), {}, {}}),
                 "b.png", 2, 2, {0x1234, 0xfffe, 1, 0x8000}, {}});
    {
        // 9 × 9 reaches every one of the seven interlace passes.
        std::vector<float> z;
        Bytes raw;
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 9; ++x) {
                z.push_back(static_cast<float>(x * 1000 + y * 7));
                const Bytes s = be16({x * 1000 + y * 7});
                raw.insert(raw.end(), s.begin(), s.end());
            }
        c.push_back({"interlaced 16-bit grey", png_file({9, 9, 16, 0, true, raw, {}, {}}), "c.png", 9, 9, z, {}});
    }
    c.push_back({"grey + alpha: transparent is a void", png_file({2, 1, 16, 4, false, be16({500, 65535, 700, 0}), {}, {}}),
                 "d.png", 2, 1, {500, 0}, {0, 1}});
    c.push_back({"colour PNG with grey pixels only", png_file({2, 1, 8, 2, false, {5, 5, 5, 9, 9, 9}, {}, {}}), "e.png", 2,
                 1, {5, 9}, {}});
    c.push_back({"4-bit grey expands to 8 bits", png_file({2, 1, 4, 0, false, {0xf3}, {}, {}}), "f.png", 2, 1, {255, 0x33}, {}});

    TiffSpec t;
    t.w = 3, t.h = 2, t.bits = 16, t.format = 2, t.nodata = "-32768";
    t.samples = as_bytes<int16_t>({-5, 0, 300, -32768, 32767, -32767});
    c.push_back({"int16 little-endian TIFF, NoData", tiff_file(t), "g.tif", 3, 2, {-5, 0, 300, 0, 32767, -32767},
                 {0, 0, 0, 1, 0, 0}});
    t = {};
    t.big_endian = true, t.w = 2, t.h = 2, t.bits = 16, t.format = 1, t.rows_per_strip = 1;
    t.samples = as_bytes<uint16_t>({1, 2, 65535, 258});
    c.push_back({"uint16 big-endian TIFF, a strip per row", tiff_file(t), "h.tiff", 2, 2, {1, 2, 65535, 258}, {}});
    t = {};
    t.w = 2, t.h = 2, t.bits = 32, t.format = 3, t.nodata = "-9999";
    t.samples = as_bytes<float>({1.5f, std::numeric_limits<float>::quiet_NaN(), -9999.0f, -0.25f});
    c.push_back({"float32 TIFF: NaN and NoData are voids", tiff_file(t), "i.tif", 2, 2, {1.5f, 0, 0, -0.25f}, {0, 1, 1, 0}});
    {
        t = {};
        t.big_endian = true, t.w = 20, t.h = 18, t.bits = 16, t.format = 2, t.tile = 16;
        std::vector<int16_t> v;
        std::vector<float> z;
        for (int y = 0; y < 18; ++y)
            for (int x = 0; x < 20; ++x) v.push_back(static_cast<int16_t>(x - 3 * y)), z.push_back(static_cast<float>(x - 3 * y));
        t.samples = as_bytes(v);
        c.push_back({"tiled int16 big-endian TIFF, partial tiles", tiff_file(t), "j.tif", 20, 18, z, {}});
    }
    t = {};
    t.w = 2, t.h = 1, t.bits = 64, t.format = 3;
    t.samples = as_bytes<double>({1e6, -3.5});
    c.push_back({"float64 TIFF", tiff_file(t), "k.tif", 2, 1, {1e6f, -3.5f}, {}});

    c.push_back({"r16 little-endian with a size, rows top first", {1, 0, 0, 1, 0xff, 0xff, 2, 0, 3, 0, 4, 0}, "l.r16", 3, 2,
                 {1, 256, 65535, 2, 3, 4}, {}, 3, 2});
    c.push_back({"r16 square inferred", {1, 0, 2, 0, 3, 0, 4, 0}, "m.R16", 2, 2, {1, 2, 3, 4}, {}});
    return c;
}

TEST(HeightReaders, DecodeEachEncoding) {
    for (const Good &c : good_cases()) {
        SCOPED_TRACE(c.what);
        HeightGrid g;
        const Status st = read_any(c.file, c.name, g, c.size_w, c.size_h);
        ASSERT_TRUE(st.ok) << st.why;
        EXPECT_EQ(g.w, c.w);
        EXPECT_EQ(g.h, c.h);
        EXPECT_EQ(g.z, c.z);
        EXPECT_EQ(g.voids, c.voids.empty() ? std::vector<uint8_t>(c.z.size()) : c.voids);
        EXPECT_FALSE(g.has_range);
    }
}

TEST(HeightReaders, SrtmTileIsSignedBigEndianWithVoids) {
    Bytes b(2 * 1201 * 1201, 0);
    auto set = [&](int x, int y, int v) {
        b[2 * (y * 1201 + x)] = static_cast<uint8_t>(v >> 8);
        b[2 * (y * 1201 + x) + 1] = static_cast<uint8_t>(v);
    };
    set(0, 0, -5);
    set(1200, 0, 258);
    set(0, 1, -32768);
    set(1200, 1200, 8848);
    HeightGrid g;
    const Status st = read_any(b, "N45E006.hgt", g);
    ASSERT_TRUE(st.ok) << st.why;
    ASSERT_EQ(g.w, 1201);
    ASSERT_EQ(g.h, 1201);
    EXPECT_EQ(g.z[0], -5);
    EXPECT_EQ(g.z[1200], 258);
    EXPECT_EQ(g.voids[1201], 1);
    EXPECT_EQ(g.z[1201], 0);
    EXPECT_EQ(g.z[1201 * 1201 - 1], 8848);
    long voids = 0;
    for (uint8_t v : g.voids) voids += v;
    EXPECT_EQ(voids, 1);
}

TEST(HeightReaders, ExportMarkDeclaresTheLevelRange) {
    HeightGrid g;
    const Bytes f = png_file({1, 1, 16, 0, false, be16({257}), {}, text_chunk(levels_key, levels_value)});
    ASSERT_TRUE(read_png_heights(f.data(), f.size(), "x.png", g).ok);
    EXPECT_TRUE(g.has_range);
    EXPECT_EQ(g.range_lo, 0);
    EXPECT_EQ(g.range_hi, 65535);
    // Another text chunk under the same key is not the mark.
    const Bytes other = png_file({1, 1, 16, 0, false, be16({257}), {}, text_chunk(levels_key, "metres")});
    HeightGrid g2;
    ASSERT_TRUE(read_png_heights(other.data(), other.size(), "x.png", g2).ok);
    EXPECT_FALSE(g2.has_range);
}

TEST(HeightReaders, DetectFormatByContentThenName) {
    const Bytes png = png_file({1, 1, 8, 0, false, {0}, {}, {}});
    const Bytes tiff = {'M', 'M', 0, 42, 0, 0, 0, 8};
    const Bytes junk = {1, 2, 3, 4};
    const struct {
        const Bytes *b;
        const char *name;
        HeightFormat want;
    } cases[] = {
        {&png, "heights.tif", HeightFormat::png},   {&tiff, "dem.png", HeightFormat::tiff},
        {&junk, "N00E000.HGT", HeightFormat::hgt},  {&junk, "h.r16", HeightFormat::r16},
        {&junk, "h.png", HeightFormat::png},        {&junk, "h.TIFF", HeightFormat::tiff},
        {&junk, "dir.r16/h", HeightFormat::unknown}, {&junk, "h.raw", HeightFormat::unknown},
    };
    for (const auto &c : cases) EXPECT_EQ(detect_format(c.b->data(), c.b->size(), c.name), c.want) << c.name;
}

struct Bad {
    const char *what;
    Bytes file;
    std::string name;
    const char *says;
    int size_w = 0, size_h = 0;
};

std::vector<Bad> bad_cases() {
    std::vector<Bad> c;
    const Bytes png16 = png_file({64, 64, 16, 0, false, Bytes(64 * 64 * 2, 7), {}, {}});
    c.push_back({"empty PNG", {}, "e.png", "empty file"});
    c.push_back({"garbage named .png", {'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0, 0}, "g.png", "not a PNG file"});
    c.push_back({"PNG cut short", Bytes(png16.begin(), png16.begin() + static_cast<long>(png16.size() / 2)), "t.png",
                 "corrupt or truncated PNG"});
    c.push_back({"PNG cut after the header", Bytes(png16.begin(), png16.begin() + 33), "t.png", "corrupt or truncated PNG"});
    {
        Bytes b = png16;
        if (b.size() > 20) b[b.size() - 20] ^= 0xff;  // inside IDAT: its CRC no longer matches
        c.push_back({"PNG with a bad CRC", b, "crc.png", "corrupt or truncated PNG"});
    }
    c.push_back({"PNG of width 0", png_file({0, 5, 8, 0, false, {}, {}, {}}), "z.png", "zero-sized image (0 x 5)"});
    c.push_back({"PNG too large", png_file({100000, 100000, 16, 0, false, {}, {}, {}}), "big.png",
                 "100000 x 100000 is too large to hold in memory"});
    c.push_back({"palette PNG", png_file({2, 1, 8, 3, false, {0, 1}, {255, 0, 0, 0, 0, 255}, {}}), "p.png",
                 "a palette image, not greyscale heights"});
    c.push_back({"colour PNG", png_file({2, 1, 8, 2, false, {1, 2, 3, 4, 5, 6}, {}, {}}), "rgb.png",
                 "a colour image, not greyscale heights"});

    TiffSpec t;
    t.w = 4, t.h = 4, t.bits = 16;
    t.samples = Bytes(32, 1);
    const Bytes tif = tiff_file(t);
    c.push_back({"TIFF header then garbage", {'I', 'I', 42, 0, 0xff, 0xff, 0xff, 0x7f, 1, 2}, "g.tif", "corrupt or truncated TIFF"});
    c.push_back({"TIFF cut before its directory", Bytes(tif.begin(), tif.begin() + 20), "t.tif", "corrupt or truncated TIFF"});
    {
        TiffSpec s = t;
        s.offset_shift = 4096;
        c.push_back({"TIFF whose strip lies past the end", tiff_file(s), "s.tif", "corrupt or truncated TIFF"});
    }
    c.push_back({"garbage named .tif", {'n', 'o', 'p', 'e'}, "n.tif", "not a TIFF file"});
    {
        TiffSpec r = t;
        r.spp = 3, r.photometric = 2, r.samples = Bytes(96, 1);
        c.push_back({"RGB TIFF", tiff_file(r), "rgb.tif", "has 3 samples per pixel"});
        TiffSpec p = t;
        p.photometric = 3, p.bits = 8, p.colormap = true, p.samples = Bytes(16, 1);
        c.push_back({"palette TIFF", tiff_file(p), "p.tif", "a palette image"});
        TiffSpec b = t;
        b.w = 70000, b.h = 70000, b.rows_per_strip = 1;
        c.push_back({"TIFF too large", tiff_file(b), "big.tif", "70000 x 70000 is too large to hold in memory"});
        TiffSpec i = t;
        i.bits = 32, i.format = 3, i.samples = Bytes(64, 0);
        i.format = 5;  // complex int: not heights
        c.push_back({"TIFF of an unsupported sample type", tiff_file(i), "cx.tif", "unsupported sample type"});
    }
    c.push_back({"SRTM tile of the wrong size", Bytes(1000, 0), "N00E000.hgt", "1000 bytes is not an SRTM tile"});
    c.push_back({"r16 of an odd size", Bytes(7, 0), "o.r16", "7 bytes is not a square grid"});
    c.push_back({"r16 not square", Bytes(6, 0), "n.r16", "6 bytes is not a square grid"});
    c.push_back({"r16 smaller than its size", Bytes(8, 0), "s.r16", "8 bytes do not hold 3 x 3 16-bit samples (18 bytes)", 3, 3});
    c.push_back({"empty r16", {}, "e.r16", "empty file"});
    return c;
}

TEST(HeightReaders, BadInputFailsNamingFileAndFault) {
    for (const Bad &c : bad_cases()) {
        SCOPED_TRACE(c.what);
        HeightGrid g;
        const Status st = read_any(c.file, c.name, g, c.size_w, c.size_h);
        ASSERT_FALSE(st.ok);
        EXPECT_EQ(st.why.rfind(c.name + ": ", 0), 0u) << st.why;
        EXPECT_NE(st.why.find(c.says), std::string::npos) << st.why;
        EXPECT_EQ(st.why.find('\n'), std::string::npos) << st.why;
    }
}

TEST(HeightReaders, ColourImagesReadAsRgb) {
    const struct {
        const char *what;
        Bytes file;
        Bytes want;
    } cases[] = {
        {"palette", png_file({2, 1, 8, 3, false, {1, 0}, {255, 0, 0, 0, 0, 255}, {}}), {0, 0, 255, 255, 0, 0}},
        {"grey", png_file({2, 1, 8, 0, false, {7, 200}, {}, {}}), {7, 7, 7, 200, 200, 200}},
        {"16-bit RGBA", png_file({1, 1, 16, 6, false, be16({0xffff, 0x8080, 0, 0}), {}, {}}), {255, 128, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RgbImage img;
        const Status st = read_png_rgb(c.file.data(), c.file.size(), "c.png", img);
        ASSERT_TRUE(st.ok) << st.why;
        EXPECT_EQ(img.rgb, c.want);
    }
}

class HeightFiles : public Scratch {
protected:
};

TEST_F(HeightFiles, PathLevelFailures) {
    write_bytes(dir + "/h.png", png_file({2, 2, 8, 0, false, {1, 2, 3, 4}, {}, {}}));
    write_bytes(dir + "/empty.tif", {});
    write_bytes(dir + "/junk.dat", {'x', 'y', 'z'});
    const struct {
        std::string path;
        int w, h;
        const char *says;
    } cases[] = {
        {dir + "/missing.png", 0, 0, "cannot open: No such file or directory"},
        {dir, 0, 0, "not a regular file"},
        {dir + "/empty.tif", 0, 0, "empty file"},
        {dir + "/junk.dat", 0, 0, "unknown format"},
        {dir + "/h.png", 2, 2, "a size is only needed for headerless .r16 files"},
    };
    for (const auto &c : cases) {
        HeightGrid g;
        const Status st = read_heights(c.path, g, c.w, c.h);
        ASSERT_FALSE(st.ok) << c.path;
        EXPECT_EQ(st.why.rfind(c.path + ": ", 0), 0u) << st.why;
        EXPECT_NE(st.why.find(c.says), std::string::npos) << st.why;
    }
    HeightGrid g;
    ASSERT_TRUE(read_heights(dir + "/h.png", g).ok);
    EXPECT_EQ(g.z, (std::vector<float>{1, 2, 3, 4}));
}

}  // namespace
