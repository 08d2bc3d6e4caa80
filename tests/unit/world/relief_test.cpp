// Colouring a height field: the 5-bit channels and their dither, tints by height, slope and light, and the voids' grey.
#include "world/relief.h"

#include "map/mapfile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

struct Rgb8 {
    int r, g, b;
};
Rgb8 decode(uint16_t c) { return {(c >> 10 & 31) * 8, (c >> 5 & 31) * 8, (c & 31) * 8}; }

// The colour of the middle cell of a 9 × 9 plane through height `z0` with slopes dzdx, dzdy in
// levels per cell, averaged over a 4 × 4 dither tile.
Rgb8 plane_colour(float z0, float dzdx, float dzdy) {
    const int n = 9;
    std::vector<float> z(n * n);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) z[y * n + x] = z0 + dzdx * (x - 4) + dzdy * (y - 4);
    std::vector<uint16_t> c(n * n);
    colour_relief(z.data(), n, n, c.data());
    Rgb8 m = {0, 0, 0};
    for (int y = 2; y < 6; ++y)
        for (int x = 2; x < 6; ++x) {
            const Rgb8 d = decode(c[y * n + x]);
            m.r += d.r, m.g += d.g, m.b += d.b;
        }
    return {m.r / 16, m.g / 16, m.b / 16};
}

int brightness(Rgb8 c) { return c.r + c.g + c.b; }

TEST(Colour, PackedChannelsAreFiveBitsAndTheDitherAveragesToTheInput) {
    for (float v : {-20.0f, 0.0f, 3.0f, 100.0f, 131.3f, 250.0f, 255.0f, 400.0f}) {
        float sum = 0;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const uint16_t c = pack_rgb(v, 255 - v, 77, x + 8, y + 12);
                EXPECT_EQ(c & 0x8000, 0);
                const Rgb8 d = decode(c);
                EXPECT_EQ(d.r % 8 + d.g % 8 + d.b % 8, 0);
                sum += static_cast<float>(d.r);
            }
        // Over one tile the 5-bit steps average back to the 8-bit value, so gradients show no bands.
        EXPECT_NEAR(sum / 16, std::clamp(v, 0.0f, 248.0f), 8.0f / 16 + 0.01f) << v;
    }
}

TEST(Colour, TintsFollowHeightSlopeAndLight) {
    const float steep = 3 * std::tan(45 * 3.14159265f / 180), gentle = 3 * std::tan(15 * 3.14159265f / 180);
    const Rgb8 deep = plane_colour(-120, 0, 0), shallow = plane_colour(-3, 0, 0), beach = plane_colour(0.2f, 0, 0);
    const Rgb8 lowland = plane_colour(12, 0, 0), snow = plane_colour(124, 0, 0), rock = plane_colour(60, steep, 0);
    const Rgb8 slope = plane_colour(60, gentle, 0);
    EXPECT_GT(deep.b, deep.r + 40);
    EXPECT_GT(shallow.b, shallow.r + 40);
    EXPECT_GT(brightness(shallow), brightness(deep) + 60);
    EXPECT_GT(beach.r, beach.b + 30);
    EXPECT_GT(lowland.g, lowland.r + 20);
    EXPECT_GT(lowland.g, lowland.b + 40);
    EXPECT_GT(std::min({snow.r, snow.g, snow.b}), 220);
    // Rock is grey whatever the height; a gentle slope at the same height keeps its tint.
    EXPECT_LT(std::max({rock.r, rock.g, rock.b}) - std::min({rock.r, rock.g, rock.b}), 24);
    EXPECT_GT(slope.g - slope.b, 30);
    // The light comes from the north-west: a slope facing it is brighter than flat ground, which is
    // brighter than a slope facing away; the darkest shadow is lifted.
    const Rgb8 flat = plane_colour(20, 0, 0), lit = plane_colour(20, 1.5f, 1.5f), shade = plane_colour(20, -1.5f, -1.5f);
    const Rgb8 black = plane_colour(20, -30, -30);
    EXPECT_GT(brightness(lit), brightness(flat) + 30);
    EXPECT_LT(brightness(shade), brightness(flat) - 30);
    EXPECT_GT(brightness(black), brightness(flat) / 4);
    // Lit from the north-west, slopes facing north-east and south-west are equally lit.
    EXPECT_NEAR(brightness(plane_colour(20, 1.5f, -1.5f)), brightness(plane_colour(20, -1.5f, 1.5f)), 12);
}

// Voids are one neutral grey, marked by bit 15, which no other cell gets; any tint, lit or in the
// deepest shadow, land or sea, is brighter.
TEST(Colour, VoidsAreAQuietGreyMarkedByBit15) {
    const int w = 64, h = 48;
    std::vector<float> z(w * h);
    std::vector<uint8_t> voids(w * h, 0);
    for (int i = 0; i < w * h; ++i) z[i] = static_cast<float>(i % 255) - 128, voids[i] = i % 7 == 0;
    std::vector<uint16_t> c(w * h, 0xFFFF);
    colour_relief(z.data(), w, h, c.data(), voids.data(), {}, 3);
    for (int i = 0; i < w * h; ++i) {
        ASSERT_EQ((c[i] & 0x8000) != 0, voids[i] != 0) << i;
        if (voids[i]) {
            ASSERT_EQ(c[i], void_cell_colour) << i;
        }
    }
    const Rgb8 grey = decode(void_cell_colour);
    EXPECT_EQ(grey.r, grey.g);
    EXPECT_EQ(grey.g, grey.b);
    EXPECT_GT(grey.r, 0);  // not the black around the map
    const float slopes[] = {0, 3, -3, -30};  // flat, lit, facing away, the darkest shadow
    for (float z0 = -128; z0 <= 127; z0 += 5)
        for (float s : slopes) EXPECT_GT(brightness(plane_colour(z0, s, s)), brightness(grey)) << z0 << " " << s;
}

}  // namespace
