// Inputs the fuzz targets found to break a reader, each with what the reader must do now; and the
// sample cap the fuzz targets lower.
#include "heightmap.h"
#include "rasters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

enum class Reader { png_heights, png_rgb, tiff, hgt, r16 };

Bytes unhex(const std::string &s) {
    Bytes b;
    for (size_t i = 0; i + 1 < s.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return b;
}

// Reads `file` with one reader; a PNG read as colour fills only the size of `g`.
Status read_with(Reader r, const Bytes &file, const std::string &name, HeightGrid &g, uint64_t cap = max_samples) {
    switch (r) {
    case Reader::png_heights: return read_png_heights(file.data(), file.size(), name, g, cap);
    case Reader::tiff: return read_tiff(file.data(), file.size(), name, g, cap);
    case Reader::hgt: return read_hgt(file.data(), file.size(), name, g, cap);
    case Reader::r16: return read_r16(file.data(), file.size(), name, g, 0, 0, cap);
    case Reader::png_rgb: break;
    }
    RgbImage img;
    const Status st = read_png_rgb(file.data(), file.size(), name, img, cap);
    g.w = img.w, g.h = img.h;
    return st;
}

struct Finding {
    const char *what;
    Reader reader;
    Bytes file;
    std::string error;            // the message after "NAME: "; empty when the read succeeds
    std::vector<float> z;         // then the heights
    std::vector<uint8_t> voids;   // and the voids
    std::string note;             // and a note the reader must give (empty: none expected)
};

TiffSpec float_tiff(int bits, Bytes samples) {
    TiffSpec t;
    t.w = static_cast<uint32_t>(samples.size() / (bits / 8)), t.h = 1, t.bits = bits, t.format = 3;
    t.samples = std::move(samples);
    return t;
}

std::vector<Finding> findings() {
    constexpr float inf = std::numeric_limits<float>::infinity();
    // fuzz_png: an IHDR, then a tEXt chunk claiming 1,946,157,109 bytes in a 130-byte file. libpng
    // allocated the whole length before finding the file too short.
    const Bytes text_claims_2gb = unhex(
        "89504e470d0a1a0a0000000d49484452050000020000000110000000009cf64f0674000035744558746d767820686569"
        "67687473006d6170206c6576656c733affffff03207300007b4065203d2028686569676874202b2031323829202a2032"
        "3537860ebd060000000d49444154789c636060f8ff1f00030201ff454e44ae426082");
    // The same in a well-formed file: an IDAT claiming 2^31 - 1 bytes.
    Bytes idat_claims = png_file({2, 1, 8, 0, false, {1, 2}, {}, {}});
    const Bytes idat_at = {'I', 'D', 'A', 'T'};
    const size_t idat = static_cast<size_t>(std::search(idat_claims.begin(), idat_claims.end(), idat_at.begin(), idat_at.end()) -
                                            idat_claims.begin());
    idat_claims[idat - 4] = 0x7f, idat_claims[idat - 3] = idat_claims[idat - 2] = idat_claims[idat - 1] = 0xff;
    // fuzz_tiff: a big-endian float64 TIFF, 2 x 1, whose first sample (read from a moved strip)
    // is beyond the float range; it became an infinite height that flattened the whole import.
    const Bytes double_too_large = unhex(
        "4d4d002a00000018c0c387800000000040c1486e147ae148000b01000004000000010000000201010004000000010000"
        "0001010200030000000100400000010300030000000100010000010600030000000100010000011100040000000002ff"
        "ff0102000aff0000000000020101000400000000963c3c3c3c3c3c3c3c3c3c3c3c3c3c3c3c3c01530003000000010003"
        "0000a481000200000006000000a2000000002d3939393800");
    const std::string runs_past = "corrupt or truncated PNG: a chunk runs past the end of the file";
    const std::string unusable = "samples infinite or too large for a float, read as voids: ";

    return {
        {"huge tEXt length, as heights", Reader::png_heights, text_claims_2gb, runs_past, {}, {}, ""},
        {"huge tEXt length, as colour", Reader::png_rgb, text_claims_2gb, runs_past, {}, {}, ""},
        {"IDAT longer than the file", Reader::png_heights, idat_claims, runs_past, {}, {}, ""},
        {"float64 beyond the float range", Reader::tiff, double_too_large, "", {0, -9999}, {1, 0}, unusable + "1"},
        {"float32 infinities", Reader::tiff, tiff_file(float_tiff(32, as_bytes<float>({inf, 7.5f, -inf}))), "",
         {0, 7.5f, 0}, {1, 0, 1}, unusable + "2"},
        {"float64 at and past the float range", Reader::tiff,
         tiff_file(float_tiff(64, as_bytes<double>({3.4e38, -1e39, 1e300, -3.4e38}))), "",
         {3.4e38f, 0, 0, -3.4e38f}, {0, 1, 1, 0}, unusable + "2"},
        {"NaN is a void without a note", Reader::tiff,
         tiff_file(float_tiff(32, as_bytes<float>({std::numeric_limits<float>::quiet_NaN(), 1}))), "", {0, 1}, {1, 0}, ""},
    };
}

TEST(FuzzFindings, EachInputReadsAsItMustNow) {
    for (const Finding &c : findings()) {
        SCOPED_TRACE(c.what);
        const std::string name = "found";
        HeightGrid g;
        const Status st = read_with(c.reader, c.file, name, g);
        if (!c.error.empty()) {
            EXPECT_FALSE(st.ok);
            EXPECT_EQ(st.why, name + ": " + c.error);
            continue;
        }
        ASSERT_TRUE(st.ok) << st.why;
        EXPECT_EQ(static_cast<size_t>(g.w) * g.h, c.z.size());
        EXPECT_EQ(g.z, c.z);
        EXPECT_EQ(g.voids, c.voids);
        if (c.note.empty()) EXPECT_TRUE(g.notes.empty());
        else EXPECT_NE(std::find(g.notes.begin(), g.notes.end(), name + ": " + c.note), g.notes.end());
    }
}

// Every reader refuses one sample more than its cap, before allocating, with the cap in the message.
TEST(SampleCap, EveryReaderHoldsExactlyItsCap) {
    Bytes grey(20, 9);
    TiffSpec t;
    t.w = 5, t.h = 4, t.bits = 8, t.samples = grey;
    Bytes tile;  // 1201 x 1201, the smallest SRTM tile
    tile.resize(2ULL * 1201 * 1201, 1);
    const struct {
        Reader reader;
        Bytes file;
        uint64_t w, h;
    } cases[] = {
        {Reader::png_heights, png_file({5, 4, 8, 0, false, grey, {}, {}}), 5, 4},
        {Reader::png_rgb, png_file({5, 4, 8, 0, false, grey, {}, {}}), 5, 4},
        {Reader::tiff, tiff_file(t), 5, 4},
        {Reader::r16, Bytes(2 * 36, 3), 6, 6},
        {Reader::hgt, tile, 1201, 1201},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.reader));
        const uint64_t n = c.w * c.h;
        HeightGrid g;
        const Status fits = read_with(c.reader, c.file, "f", g, n);
        ASSERT_TRUE(fits.ok) << fits.why;
        EXPECT_EQ(static_cast<uint64_t>(g.w) * g.h, n);
        HeightGrid over;
        const Status refused = read_with(c.reader, c.file, "f", over, n - 1);
        EXPECT_FALSE(refused.ok);
        EXPECT_EQ(refused.why, "f: " + std::to_string(c.w) + " x " + std::to_string(c.h) +
                                   " is too large to hold in memory (at most " + std::to_string(n - 1) + " samples)");
        EXPECT_TRUE(over.z.empty());
    }
}

// A cap above the readers' own cannot raise it.
TEST(SampleCap, NeverAboveTheReadersOwn) {
    const Bytes huge = png_file({1u << 15, 1u << 14, 8, 0, false, {}, {}, {}});  // 2^29 samples, header only
    HeightGrid g;
    const Status st = read_with(Reader::png_heights, huge, "h", g, std::numeric_limits<uint64_t>::max());
    EXPECT_FALSE(st.ok);
    EXPECT_EQ(st.why, "h: 32768 x 16384 is too large to hold in memory (at most " + std::to_string(max_samples) + " samples)");
}

}  // namespace
