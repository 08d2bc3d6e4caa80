// The import pipeline as a whole: levels and colours true to the ground, exports that come back, fuzz findings refused.
#include "tests/unit/import/heights_fixture.h"

#include "map/export.h"
#include "map/info.h"

#include <gdal.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

class Pipeline : public HeightFiles {
protected:
    // Heights exported from a map as a GeoTIFF, read back.
    struct Exported {
        std::vector<float> z;
        double gt[6] = {};
        int w = 0, h = 0;
        // The height over a point in the map's coordinates, or NaN outside.
        float at(double x, double y) const {
            const int px = static_cast<int>(std::floor((x - gt[0]) / gt[1])), py = static_cast<int>(std::floor((y - gt[3]) / gt[5]));
            return px >= 0 && px < w && py >= 0 && py < h ? z[static_cast<size_t>(py) * w + px] : NAN;
        }
    };
    // Imports as `o` says into o.out with its sidecar, then exports the heights and reads them back.
    void import_and_export(const ImportOptions &o, Sidecar &sc, std::vector<std::string> &notes, Exported &out) {
        Map m;
        ASSERT_TRUE(import(o, m, sc, notes).ok);
        ASSERT_TRUE(save_map(o.out, m, sc, Links::follow).ok);
        ExportOptions e;
        e.map = o.out, e.out = dir + "/back.tif", e.heights = true;
        std::string done;
        ASSERT_TRUE(export_map(e, done).ok) << done;
        GDALDatasetH ds = GDALOpen(e.out.c_str(), GA_ReadOnly);
        ASSERT_NE(ds, nullptr);
        GDALGetGeoTransform(ds, out.gt);
        out.w = GDALGetRasterXSize(ds), out.h = GDALGetRasterYSize(ds);
        out.z.resize(static_cast<size_t>(out.w) * out.h);
        const CPLErr read = GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, 0, out.w, out.h, out.z.data(), out.w, out.h,
                                         GDT_Float32, 0, 0);
        GDALClose(ds);
        ASSERT_EQ(read, CE_None);
    }
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
    o.heights = {dir + "/h.r16"};
    o.size_w = 6, o.size_h = 4;
    Map m;
    Sidecar sc;
    std::vector<std::string> notes;
    ASSERT_TRUE(import(o, m, sc, notes).ok);
    EXPECT_EQ(m.height[0], -128);
    EXPECT_EQ(m.height[grid_cells - 1], 127);
    for (int x = 1; x < grid_columns; ++x) ASSERT_GE(m.height[2000LL * grid_columns + x], m.height[2000LL * grid_columns + x - 1]) << x;
    EXPECT_EQ(std::count_if(m.colour.begin(), m.colour.end(), [](uint16_t c) { return c >> 15; }), 0);
    EXPECT_TRUE(said(notes, "6 x 4, heights 1000 to 1521 mapped onto levels -128 to 127"));
    EXPECT_TRUE(said(notes, "sea: 0.0% of the map"));
}

// Sea only at or below the sea level: none on land that is all above it, the real coastline on
// a grid of both signs.
TEST_F(Pipeline, SeaFollowsTheRealHeights) {
    std::vector<double> v(60 * 40);
    for (int i = 0; i < 2400; ++i) v[i] = (i % 60) * 10 - 150;  // -150 ... 440: a quarter at or below 0
    const struct {
        const char *what;
        double offset;
        const char *share;
    } cases[] = {{"all above", 1000, "sea: 0.0% of the map"}, {"both signs", 0, "sea: 26.7% of the map"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<double> z = v;
        for (double &x : z) x += c.offset;
        RasterSpec s;
        s.w = 60, s.h = 40, s.values = z, s.gt = {0, 100, 0, 4000, 0, -100}, s.epsg = 32633;
        write_raster(dir + "/s.tif", "GTiff", s);
        ImportOptions o;
        o.heights = {dir + "/s.tif"};
        o.resample = Resampling::nearest;  // 16 columns in 60 at or below 0: 26.7 %
        Map m;
        Sidecar sc;
        std::vector<std::string> notes;
        ASSERT_TRUE(import(o, m, sc, notes).ok);
        EXPECT_TRUE(said(notes, c.share)) << notes.back();
        long long water_tint = 0;
        for (long long i = 0; i < grid_cells; ++i) water_tint += channel_b(m.colour[i]) > channel_r(m.colour[i]) + 4;
        EXPECT_EQ(water_tint > 0, c.offset == 0);
    }
}

// Shallow sea a metre deep beside deep sea and land: the summary, info and the exported heights
// agree on the sea, and the shallow sea comes back at or below the sea level.
TEST_F(Pipeline, SeaAgreesInSummaryInfoAndExport) {
    RasterSpec s;
    s.w = 60, s.h = 40, s.gt = {400000, 250, 0, 5010000, 0, -250}, s.epsg = 32633, s.unit = "m";
    auto height = [](int x) { return x < 10 ? -3000.0 : x < 20 ? -1.0 : 0.5 + 100.0 * (x - 20); };
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) s.values.push_back(height(x));
    write_raster(dir + "/coast.tif", "GTiff", s);
    ImportOptions o;
    o.heights = {dir + "/coast.tif"};
    o.out = dir + "/coast.mvx";
    o.resample = Resampling::nearest;
    Sidecar sc;
    std::vector<std::string> notes;
    Exported back;
    ASSERT_NO_FATAL_FAILURE(import_and_export(o, sc, notes, back));
    EXPECT_TRUE(said(notes, "sea: 33.3% of the map")) << notes.back();
    InfoOptions i;
    i.map = o.out;
    std::string report;
    ASSERT_TRUE(map_info(i, report).ok);
    EXPECT_NE(report.find("sea (at or below 0 m): 33.3% of cells"), std::string::npos) << report;
    for (int x = 0; x < 60; ++x) {
        const float z = back.at(400000 + 250 * (x + 0.5), 5010000 - 250 * 20);
        EXPECT_EQ(z <= 0, height(x) <= 0) << x << ": " << z;
        EXPECT_NEAR(z, height(x), (z <= 0 ? sc.per_level_below : sc.per_level_above) / 2 + 1e-3) << x;
    }
}

TEST_F(Pipeline, ExportedHeightsImportBackIdentical) {
    // A map that uses only part of the level range, so a min/max stretch would show.
    Map m;
    for (long long i = 0; i < grid_cells; ++i) m.height[i] = static_cast<int8_t>((i * 7 + i / grid_columns * 13) % 200 - 90);
    ASSERT_TRUE(export_png(m, dir + "/h.png", 1, true).ok);
    ImportOptions o;
    o.heights = {dir + "/h.png"};
    Map back;
    Sidecar sc;
    std::vector<std::string> notes;
    ASSERT_TRUE(import(o, back, sc, notes).ok);
    EXPECT_TRUE(back.height == m.height);
}

// Heights go out to a GeoTIFF in metres and come back within half a level, in the same place.
TEST_F(Pipeline, GeoTiffExportReturnsTheSourceInMetres) {
    RasterSpec s;
    s.w = 60, s.h = 40, s.gt = {400000, 250, 0, 5010000, 0, -250}, s.epsg = 32633, s.unit = "m";
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) s.values.push_back(100 + 20.0 * x - 7.5 * y);
    write_raster(dir + "/ramp.tif", "GTiff", s);
    ImportOptions o;
    o.heights = {dir + "/ramp.tif"};
    o.out = dir + "/ramp.mvx";
    Sidecar sc;
    std::vector<std::string> notes;
    Exported back;
    ASSERT_NO_FATAL_FAILURE(import_and_export(o, sc, notes, back));
    const double half_level = sc.per_level_above / 2;
    for (int y = 2; y < 38; y += 5)
        for (int x = 2; x < 58; x += 5) {
            // Each source pixel's centre, found in the export by its coordinates, within half a
            // level and what the ramp climbs in the half cell between their centres.
            const float z = back.at(400000 + 250 * (x + 0.5), 5010000 - 250 * (y + 0.5));
            EXPECT_NEAR(z, s.values[y * 60 + x], half_level + 0.15) << x << "," << y;
        }
}

TEST_F(Pipeline, ExaggerationSetsMetresPerLevelAndCountsClamps) {
    RasterSpec s;
    s.w = 30, s.h = 20, s.gt = {0, 300, 0, 6000, 0, -300}, s.epsg = 32633;
    for (int i = 0; i < 600; ++i) s.values.push_back(i % 30 < 15 ? 0 : 3000);
    write_raster(dir + "/e.tif", "GTiff", s);
    ImportOptions o;
    o.heights = {dir + "/e.tif"};
    o.exaggeration = 2;
    o.resample = Resampling::nearest;
    Map m;
    Sidecar sc;
    std::vector<std::string> notes;
    ASSERT_TRUE(import(o, m, sc, notes).ok);
    // 9000 m / 6144 cells is 1.46 m a cell; twice the relief puts a level at a sixth of that.
    EXPECT_NEAR(sc.per_level_above, 9000.0 / 6144 / 3 / 2, 1e-9);
    // Centred on the sea: the coast's 0 m is level -1, the heights 3000 m above it clamped.
    EXPECT_TRUE(said(notes, "12582912 cells (50.0%) clamped"));
    EXPECT_EQ(m.height[2048 * grid_columns + 10], -1);
}

// The light falls on slopes as steep as on the ground: the same heights over cells a hundred times
// wider are gentle hills, not rock.
TEST_F(Pipeline, HillshadeUsesTheCellsTrueSize) {
    std::vector<double> v;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) v.push_back(10.0 * x);  // rising 10 m a pixel, eastwards: lowland
    RasterSpec steep;
    steep.w = 30, steep.h = 20, steep.values = v, steep.gt = {0, 10, 0, 200, 0, -10}, steep.epsg = 32633;
    RasterSpec gentle = steep;
    gentle.gt = {0, 1000, 0, 20000, 0, -1000};
    auto colour = [&](const RasterSpec &s) {
        const Heights h = read_spec(s, 30, 20);
        LevelScale scale;
        choose_scale(h.field.z, h.field.voids, {}, "x", scale);
        std::vector<uint16_t> c(600);
        colour_relief(h.field.z.data(), 30, 20, c.data(), h.field.voids.data(), relief_for(h, scale, 0));
        return c[10 * 30 + 15];
    };
    const uint16_t rock = colour(steep), hills = colour(gentle);
    EXPECT_LE(std::abs(channel_r(rock) - channel_g(rock)), 1) << "45 degrees: bare rock, grey";
    EXPECT_GT(channel_g(hills), channel_r(hills) + 1) << "0.6 degrees: green";
}

Bytes unhex(const std::string &s) {
    Bytes b;
    for (size_t i = 0; i + 1 < s.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return b;
}

// Each must now be refused with one line naming the file, nothing allocated for what it claims;
// or, where the file is merely odd, read without fault.
struct Finding {
    const char *what;
    const char *name;
    Bytes file;
    bool refused = true;
    const char *cause = "";  // what the refusal must say, when it is ours rather than a decoder's
};

class FuzzFindings : public Scratch {};

TEST_F(FuzzFindings, EachInputReadsAsItMustNow) {
    // An IHDR, then a tEXt chunk claiming 1,946,157,109 bytes in a 130-byte file: a PNG decoder
    // once allocated the whole length before finding the file too short.
    const Bytes text_claims_2gb = unhex(
        "89504e470d0a1a0a0000000d49484452050000020000000110000000009cf64f0674000035744558746d767820686569"
        "67687473006d6170206c6576656c733affffff03207300007b4065203d2028686569676874202b2031323829202a2032"
        "3537860ebd060000000d49444154789c636060f8ff1f00030201ff454e44ae426082");
    // A well-formed PNG whose IDAT claims 2^31 - 1 bytes.
    Bytes idat_claims = png_file({2, 1, 8, 0, false, {1, 2}, {}, {}});
    const Bytes idat_at = {'I', 'D', 'A', 'T'};
    const size_t idat = static_cast<size_t>(std::search(idat_claims.begin(), idat_claims.end(), idat_at.begin(), idat_at.end()) -
                                            idat_claims.begin());
    idat_claims[idat - 4] = 0x7f, idat_claims[idat - 3] = idat_claims[idat - 2] = idat_claims[idat - 1] = 0xff;
    // A big-endian float64 TIFF, 2 x 1, whose first sample (read from a moved strip) is beyond
    // the float range: it once became an infinite height that flattened the whole import. Its
    // directory is malformed enough that GDAL refuses it (samples beyond the float range that
    // GDAL does read are voids: see the readers' tests).
    const Bytes double_too_large = unhex(
        "4d4d002a00000018c0c387800000000040c1486e147ae148000b01000004000000010000000201010004000000010000"
        "0001010200030000000100400000010300030000000100010000010600030000000100010000011100040000000002ff"
        "ff0102000aff0000000000020101000400000000963c3c3c3c3c3c3c3c3c3c3c3c3c3c3c3c3c01530003000000010003"
        "0000a481000200000006000000a2000000002d3939393800");
    // A TIFF whose georeferencing makes a sample some 10^100 cells wide: where its samples fall
    // in the grid once overflowed the conversion to whole cells.
    const Bytes vast_samples = unhex(
        "49492a000800000012000001030001000000060000000101030001000000040000000201030001000000200000000301"
        "0300010000000800000006010300010000000100000011010400010000008c0100001501030001000000010000001601"
        "030001000000040000001701040030000000410000001c01030001000000010000003d01030001000000030000005301"
        "030001000000030000000e830c0003000000ec00000082843d000600000004010000af8703002000000034010000b087"
        "0c000200000074010000b1870200080000008401000081a4020006000000e6000000000000002d393939390000000000"
        "0049492a0008000000120000010300010000000600000001010300010000000400000002010300010000002000000003"
        "010300010000000800000006010300010000000100000011010400010000008c01000015010300010000000100000016"
        "01030001000000040000001701040001000000410000001c01030001000000010000003d010300010000000300000053"
        "01030001000000030000000e830c040003000000ec00000082840c000600000004010000af8703002000000034010000"
        "b0870c000200000074010000b1870200b187070000000608000001008e230908b087010001000b08b087010000007401"
        "0000b1870200b187070000000608000001008e230908b087010001000b080e0000000000000040a65458415747532038"
        "080000008401000081a4020006000000e6000000000000002d393939390000000008b087010001000b08b08701000000"
        "886d74961da4724000000040a65458415747532038347c00789cb367646060607068700000d03f000000000000d03f00"
        "000000000000000000000000000000000000000000000000000000000000000000000000001840000000000000494000"
        "000000000000000100883b82497e0101010e8e0224f57050507060400007460686d6eaf90a02027f540e30303010f170"
        "0ed81c81883b82497e0101010e8e0224f510f1700e0e0e0e0e0e0e0e0e64730024647300241b091b090101");
    // A well-formed IHDR, then a tEXt chunk claiming 1,610,612,789 bytes in a 177-byte file.
    const Bytes text_claims_1gb = unhex(
        "89504e470d0a1a0a0000000d494844520000000200000001100000000081d9fc1560000035744558746d767820686569"
        "67687473006d6170206c6576656c733a2073616d706c65203d2028686569676874202b2031323929202a203235378"
        "60ebd060000000d49444154789c636060f8ff1f00030201ffe6770bae0000000049454e44ae422682");
    // A chunk whose type, read where a CRC went missing, holds a newline: the check of chunk
    // sizes once put it into the one-line message.
    const Bytes type_with_newline = unhex(
        "89504e470d0a1a0a0000000d4948445200000008000000010100000000cb7bd2ee0000000a49444154789c63581a0a00"
        "00000d4948445200000008000000010100000000cb7bd2ee0000000a494441540a0000a700a6e5b9c5e2000000004945"
        "4e44ae426082");
    // A 1-bit TIFF of 16,842,752 x 33,554,434 in blocks of 255 rows: its reads were all planned,
    // 134 million of them, before its samples were counted and refused.
    const Bytes small_blocks = unhex(
        "49492a0014000000fbff00002c010080ff7f01800900000104000100000000000101040001000000020000020201c700"
        "010000001000030000000101040001000000020000020203010001000000100000000301030001000000010000000601"
        "03000100000001000000110104000100000008000000150103000100000001000000160104009e000000000000002d33"
        "323736390000");
    // A whole tEXt chunk of 16 MiB + 1 bytes before the image data.
    Bytes huge_text = png_file({2, 1, 8, 0, false, {1, 2}, {}, {}});
    const long long text_bytes = (16LL << 20) + 1;
    Bytes chunk = {0x01, 0x00, 0x00, 0x01, 't', 'E', 'X', 't'};
    chunk.resize(chunk.size() + text_bytes + 4, 'a');
    huge_text.insert(huge_text.begin() + 33, chunk.begin(), chunk.end());
    const Finding cases[] = {
        {"huge tEXt length", "a.png", text_claims_2gb, true, "past the end of the file"},
        {"tEXt length past the end after a valid header", "e.png", text_claims_1gb, true, "past the end of the file"},
        {"a whole tEXt chunk of 16 MiB", "f.png", huge_text, true, "more than mvx reads"},
        {"IDAT longer than the file", "b.png", idat_claims},
        {"a chunk type that is not four letters", "g.png", type_with_newline},
        {"float64 beyond the float range", "c.tif", double_too_large},
        {"samples far wider than the grid", "d.tif", vast_samples, false},
        {"5.6 x 10^14 samples in small blocks", "h.tif", small_blocks, true, "build overviews first"},
    };
    for (const Finding &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir + "/" + c.name;
        write_bytes(path, c.file);
        ImportOptions o;
        o.heights = {path};
        o.fit = FitMode::stretch;
        Heights h;
        std::vector<std::string> notes;
        const Status st = read_import(o, 2, 1, h, notes);
        if (!c.refused && st.ok) continue;
        EXPECT_FALSE(st.ok);
        EXPECT_EQ(st.why.rfind(path + ": ", 0), 0u) << st.why;
        EXPECT_EQ(st.why.find('\n'), std::string::npos) << st.why;
        EXPECT_NE(st.why.find(c.cause), std::string::npos) << st.why;
    }
}

}  // namespace
