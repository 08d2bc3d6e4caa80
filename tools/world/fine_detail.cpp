// Stage C of the default world: every output cell, stage B interpolated, the finest octaves, then the level range.
#include "world/worldgen_stages.h"

#include "common/parallel.h"
#include "world/world_tunables.h"

#include <algorithm>
#include <cmath>

namespace worldgen {

namespace {

// The level (-128 ... 127) of raw elevation e.
float to_levels(float e, const Scale &k) {
    if (e < 0) {
        // Shelves first, flat at the coast like the plains above it, then the slope to the deep.
        const float t = -e / k.deep;
        return -128 * (1 - std::exp(-t * std::sqrt(t)));
    }
    // Above the knee, heights bend over smoothly to reach the top level with a level tangent.
    const float z = e * k.level, knee = 96, bend = 127 - knee;
    if (z <= knee) return z;
    const float t = std::min(z - knee, 2 * bend);
    return knee + t - t * t / (4 * bend);
}


}  // namespace

void stage_c(const Frame &fr, const Lattice &lb, const Seeds &sd, const Scale &k, float *z, int threads,
             const std::function<void(int)> &tick) {
    std::vector<Tap> tx(fr.w);
    for (int x = 0; x < fr.w; ++x) tx[x] = tap_x(lb, fr.u0 + fr.sx * static_cast<float>(x));
    const float sc = std::max(fr.sx, fr.sy);
    const float wl0 = std::ldexp(ridge_wavelength, -ridge_octaves_b);
    parallel_rows(fr.h, [&](int y0, int y1) {
        std::vector<float> col(static_cast<size_t>(lb.nx) * B_CH);
        ScratchRows r(fr.w, 7);
        float *u = r[0], *v = r[1], *e = r[2], *height = r[3], *weight = r[4], *hill = r[5], *val = r[6];
        for (int x = 0; x < fr.w; ++x) u[x] = fr.u0 + fr.sx * static_cast<float>(x);
        for (int y = y0; y < y1; ++y) {
            const float vy = fr.v0 + fr.sy * static_cast<float>(y);
            column_pass(lb, tap_y(lb, vy), col.data());
            for (int x = 0; x < fr.w; ++x) {
                v[x] = vy;
                e[x] = row_pass(col.data(), B_CH, B_Z, tx[x]);
                height[x] = row_pass(col.data(), B_CH, B_RIDGE, tx[x]);
                weight[x] = std::clamp(row_pass(col.data(), B_CH, B_WEIGHT, tx[x]), 0.0f, 1.0f);
                hill[x] = row_pass(col.data(), B_CH, B_HILL, tx[x]);
            }
            // The ridges go on where stage B left them, and the hills with the same noise.
            float wl = wl0;
            for (int i = ridge_octaves_b; i < ridge_octaves_b + ridge_octaves_c; ++i, wl *= 0.5f) {
                const float bl = octave_share(wl, sc);
                if (bl <= 0) continue;
                octave_row(u, v, fr.w, wl, i, sd.ridge, val);
                for (int x = 0; x < fr.w; ++x) {
                    float sig = 1 - std::fabs(val[x]);
                    sig *= sig * weight[x];
                    weight[x] = std::clamp(sig * 2, 0.0f, 1.0f);
                    e[x] += bl * (height[x] * ridge_amp[i] * sig + hill[x] * val[x]);
                    hill[x] *= 0.5f;
                }
            }
            float *out = z + static_cast<size_t>(y) * fr.w;
            for (int x = 0; x < fr.w; ++x) out[x] = to_levels(e[x], k);
        }
    }, threads, tick);
}

}  // namespace worldgen
