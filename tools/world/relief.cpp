// Default map colouring: the viewer has no lighting, so the light is baked into the colours here.
#include "world/relief.h"

#include "common/parallel.h"
#include "map/mapfile.h"
#include "world/noise.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

struct Rgb {
    float r, g, b;
};

Rgb mix(Rgb a, Rgb b, float t) { return {a.r + t * (b.r - a.r), a.g + t * (b.g - a.g), a.b + t * (b.b - a.b)}; }

struct Stop {
    float h;
    Rgb c;
};

// Tints by height level, interpolated between stops: deep to shallow water, beach, lowland
// greens, upland browns, bare high ground.
const Stop tints[] = {
    {-128, {12, 32, 84}},    {-70, {22, 58, 122}},   {-20, {38, 96, 158}},   {-0.5f, {72, 146, 178}},
    {0, {206, 196, 148}},    {0.8f, {150, 170, 100}}, {2, {100, 146, 72}},    {20, {84, 134, 62}},
    {42, {112, 136, 70}},    {62, {146, 132, 86}},   {82, {132, 108, 80}},   {104, {124, 110, 96}},
    {127, {150, 142, 134}}};

Rgb tint_between_stops(float h) {
    const int n = sizeof tints / sizeof tints[0];
    if (h <= tints[0].h) return tints[0].c;
    for (int i = 1; i < n; ++i)
        if (h <= tints[i].h) return mix(tints[i - 1].c, tints[i].c, (h - tints[i - 1].h) / (tints[i].h - tints[i - 1].h));
    return tints[n - 1].c;
}

// The tints every 1/16 level, looked up instead of searched for each of the map's 25 million cells.
struct TintTable {
    static constexpr int per_level = 16, size = 256 * per_level + 1;
    Rgb c[size];
    TintTable() {
        for (int i = 0; i < size; ++i) c[i] = tint_between_stops(-128 + static_cast<float>(i) / per_level);
    }
    Rgb operator()(float h) const {
        const float t = (h + 128) * per_level;
        return c[t <= 0 ? 0 : t >= size - 1 ? size - 1 : static_cast<int>(t + 0.5f)];
    }
};
const TintTable tint;

const Rgb rock = {122, 116, 110}, snow = {240, 242, 248};

const float bayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

uint16_t channel(float v, float threshold) {
    // One 5-bit step is 8 of 255; the threshold spreads the rounding over a 4 × 4 tile.
    const int q = static_cast<int>(std::min(std::max(v / 8.0f + threshold, 0.0f), 31.0f));
    return static_cast<uint16_t>(q);
}

inline uint16_t pack(float r, float g, float b, int x, int y) {
    const float t = (bayer4[y & 3][x & 3] + 0.5f) / 16.0f;
    return static_cast<uint16_t>(channel(r, t) << 10 | channel(g, t) << 5 | channel(b, t));
}

// One row, given the tints (r, g, b) of its heights, its slopes (dx, dy, in height per height) and
// the dither thresholds: rock, snow and light. Written as one loop that vectorises, with a version
// for processors with AVX2 chosen at run time (no fused multiply-adds, so the same bits either way).
__attribute__((target_clones("avx2", "default"))) void shade_row(const float *__restrict hz, const float *__restrict dx,
                                                                  const float *__restrict dy, const float *__restrict r,
                                                                  const float *__restrict g, const float *__restrict b,
                                                                  const float *__restrict thr, uint16_t *__restrict o, int w) {
    const float deg = 3.14159265f / 180;
    const float rock_lo = std::tan((rock_slope_deg - 4) * deg), rock_hi = std::tan((rock_slope_deg + 4) * deg);
    const float snow_steep = std::tan(30 * deg);
    const float lx = -0.5f, ly = -0.5f, lz = 0.70710678f;  // towards the light: north-west, 45° up
    for (int x = 0; x < w; ++x) {
        const float s2 = dx[x] * dx[x] + dy[x] * dy[x], slope = std::sqrt(s2);
        // Both blends are zero under water: rock on land steeper than the rock slope, snow on high
        // ground unless it is steep.
        const float rk = smoothstep(rock_lo, rock_hi, slope) * smoothstep(0.5f, 3, hz[x]);
        const float sn = smoothstep(108, 120, hz[x]) * (1 - smoothstep(snow_steep * 0.6f, snow_steep, slope));
        float cr = r[x] + rk * (rock.r - r[x]), cg = g[x] + rk * (rock.g - g[x]), cb = b[x] + rk * (rock.b - b[x]);
        cr += sn * (snow.r - cr), cg += sn * (snow.g - cg), cb += sn * (snow.b - cb);
        // Lambert against the light, relative to flat ground; the darkest shadows are lifted so
        // slopes facing away stay readable. The sea is left unshaded.
        const float lambert = std::max(0.0f, (-dx[x] * lx - dy[x] * ly + lz) / std::sqrt(s2 + 1));
        const float lit = 0.4f + 0.6f * lambert / lz, light = hz[x] >= 0 ? lit : 1.0f;
        const float t = thr[x];
        o[x] = static_cast<uint16_t>(channel(std::min(cr * light, 255.0f), t) << 10 |
                                     channel(std::min(cg * light, 255.0f), t) << 5 | channel(std::min(cb * light, 255.0f), t));
    }
}

}  // namespace

uint16_t pack_rgb(float r, float g, float b, int x, int y) { return pack(r, g, b, x, y); }

void colour_rows(const float *z, int w, int h, int y0, int y1, uint16_t *out, const uint8_t *voids, const Relief &rel) {
    // Each row goes through a few simple loops over arrays, so that the compiler can vectorise them.
    std::vector<float> buf(7 * static_cast<size_t>(w));
    float *dx = &buf[0], *dy = &buf[w], *r = &buf[2 * w], *g = &buf[3 * w], *b = &buf[4 * w], *thr = &buf[5 * w];
    float *tz = &buf[6 * static_cast<size_t>(w)];
    for (int y = y0; y < y1; ++y) {
        const float *row = z + 1LL * y * w;
        const int yn = std::max(y - 1, 0), ys = std::min(y + 1, h - 1);
        const float *north = z + 1LL * yn * w, *south = z + 1LL * ys * w;
        const float ky = ys > yn ? 1 / ((ys - yn) * rel.cell_y) : 0;
        for (int x = 0; x < w; ++x) dy[x] = (south[x] - north[x]) * ky;
        for (int x = 1; x + 1 < w; ++x) dx[x] = (row[x + 1] - row[x - 1]) * (1 / (2 * rel.cell_x));
        dx[0] = w > 1 ? (row[1] - row[0]) / rel.cell_x : 0;
        if (w > 1) dx[w - 1] = (row[w - 1] - row[w - 2]) / rel.cell_x;
        for (int x = 0; x < w; ++x) tz[x] = tint_level(row[x], rel);
        for (int x = 0; x < w; ++x) {
            const Rgb c = tint(tz[x]);
            r[x] = c.r, g[x] = c.g, b[x] = c.b;
            thr[x] = (bayer4[y & 3][x & 3] + 0.5f) / 16.0f;
        }
        uint16_t *o = out + 1LL * (y - y0) * w;
        shade_row(tz, dx, dy, r, g, b, thr, o, w);
        if (voids)
            for (int x = 0; x < w; ++x)
                if (voids[1LL * y * w + x]) o[x] = void_cell_colour;
    }
}

void colour_relief(const float *z, int w, int h, uint16_t *out, const uint8_t *voids, const Relief &rel, int threads,
                   const std::function<void(double)> &progress) {
    parallel_rows(h, [&](int y0, int y1) { colour_rows(z, w, h, y0, y1, out + 1LL * y0 * w, voids, rel); }, threads, [&](int done) {
        if (progress) progress(static_cast<double>(done) / h);
    });
}
