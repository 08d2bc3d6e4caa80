// Default map colouring: the viewer has no lighting, so the light is baked into the colours here.
#include "relief.h"

#include <algorithm>
#include <cmath>

namespace {

struct Stop {
    float h, r, g, b;
};

// Tints by height level, interpolated between stops.
const Stop tints[] = {
    {-128, 8, 24, 70},  {-40, 20, 60, 130}, {-1, 60, 120, 170},  {0, 214, 204, 156},  {4, 190, 190, 130},
    {8, 96, 150, 70},   {40, 80, 130, 60},  {70, 140, 130, 80}, {95, 125, 105, 80}, {127, 150, 140, 130},
};

void tint(float h, float &r, float &g, float &b) {
    const int n = sizeof tints / sizeof tints[0];
    if (h <= tints[0].h) {
        r = tints[0].r, g = tints[0].g, b = tints[0].b;
        return;
    }
    for (int i = 1; i < n; ++i) {
        if (h <= tints[i].h) {
            const Stop &a = tints[i - 1], &c = tints[i];
            float t = (h - a.h) / (c.h - a.h);
            r = a.r + t * (c.r - a.r), g = a.g + t * (c.g - a.g), b = a.b + t * (c.b - a.b);
            return;
        }
    }
    r = tints[n - 1].r, g = tints[n - 1].g, b = tints[n - 1].b;
}

const float bayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

uint16_t channel(float v, float threshold) {
    // One 5-bit step is 8 of 255; the threshold spreads the rounding over a 4 × 4 tile.
    int q = static_cast<int>(v / 8.0f + threshold);
    return static_cast<uint16_t>(std::clamp(q, 0, 31));
}

}  // namespace

uint16_t pack_rgb(float r, float g, float b, int x, int y) {
    const float t = (bayer4[y & 3][x & 3] + 0.5f) / 16.0f;
    return static_cast<uint16_t>(channel(r, t) << 10 | channel(g, t) << 5 | channel(b, t));
}

void colour_relief(const float *z, int w, int h, uint16_t *out, const uint8_t *voids) {
    const float cell = 3.0f;                   // levels per cell width
    const float rock = std::tan(35.0f * 3.14159265f / 180.0f);
    const float lx = -0.5f, ly = -0.5f, lz = 0.70710678f;  // from the north-west, 45° up
    for (int y = 0; y < h; ++y) {
        const int yn = std::max(y - 1, 0), ys = std::min(y + 1, h - 1);
        for (int x = 0; x < w; ++x) {
            const long long i = 1LL * y * w + x;
            if (voids && voids[i]) {
                out[i] = pack_rgb(200, 40, 200, x, y);
                continue;
            }
            const int xw = std::max(x - 1, 0), xe = std::min(x + 1, w - 1);
            const float dx = (z[1LL * y * w + xe] - z[1LL * y * w + xw]) / ((xe - xw) * cell);
            const float dy = (z[1LL * ys * w + x] - z[1LL * yn * w + x]) / ((ys - yn) * cell);
            const float slope = std::sqrt(dx * dx + dy * dy);
            float r, g, b;
            tint(z[i], r, g, b);
            if (z[i] >= 0 && slope > rock) r = 120, g = 112, b = 104;
            else if (z[i] > 100 && slope < 0.5f) r = 240, g = 240, b = 245;
            // Lambert against the light; the darkest shadows are lifted so slopes facing away stay readable.
            const float n = 1.0f / std::sqrt(dx * dx + dy * dy + 1.0f);
            float lum = std::max(0.0f, (-dx * lx - dy * ly + lz) * n);
            lum = 0.35f + 0.65f * lum / lz;
            out[i] = pack_rgb(std::min(r * lum, 255.0f), std::min(g * lum, 255.0f), std::min(b * lum, 255.0f), x, y);
        }
    }
}
