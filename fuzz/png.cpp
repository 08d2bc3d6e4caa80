// libFuzzer target: one PNG read as heights and as the colour image, its chunk CRCs made valid first.
#include "check.h"

#include <zlib.h>

#include <vector>

namespace {

uint32_t get32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// libpng drops a file at the first bad CRC, so without this almost no mutation would get past
// it into the parts worth fuzzing; the CRC check itself is libpng's and well tested.
std::vector<uint8_t> with_valid_crcs(const uint8_t *data, size_t size) {
    std::vector<uint8_t> b(data, data + size);
    for (size_t p = 8; p + 12 <= b.size();) {
        const uint32_t len = get32(&b[p]);
        if (len > b.size() - p - 12) break;
        const uint32_t crc = static_cast<uint32_t>(crc32(crc32(0, nullptr, 0), &b[p + 4], len + 4));
        for (int k = 0; k < 4; ++k) b[p + 8 + len + k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
        p += 12 + static_cast<size_t>(len);
    }
    return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<uint8_t> b = with_valid_crcs(data, size);
    const std::string name = "fuzz.png";
    HeightGrid g;
    const Status heights = read_png_heights(b.data(), b.size(), name, g, fuzz_cap);
    check_heights(heights, name, g);

    RgbImage img;
    const Status colour = read_png_rgb(b.data(), b.size(), name, img, fuzz_cap);
    if (!colour.ok) {
        FUZZ_CHECK(colour.why.compare(0, name.size() + 2, name + ": ") == 0);
        // Both decode the same stream; only heights refuse an image for its colours.
        FUZZ_CHECK(!heights.ok);
        return 0;
    }
    FUZZ_CHECK(img.w > 0 && img.h > 0 && static_cast<uint64_t>(img.w) * img.h <= fuzz_cap);
    FUZZ_CHECK(img.rgb.size() == 3ULL * img.w * img.h);
    if (heights.ok) FUZZ_CHECK(img.w == g.w && img.h == g.h);
    return 0;
}
