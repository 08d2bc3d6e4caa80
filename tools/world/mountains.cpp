// Stage B of the default world: ridged mountains, slope-damped hills and the coasts' detail on A, the valleys cut in.
#include "world/worldgen_stages.h"

#include "common/parallel.h"
#include "world/noise.h"
#include "world/world_tunables.h"

#include <algorithm>
#include <cmath>

namespace worldgen {

void stage_b_row(const float *u, const float *v, const float *a, int n, const Seeds &sd, float sea, float s,
                 float *out) {
    ScratchRows r(n, 13);
    float *qx = r[0], *qy = r[1], *land = r[2], *ridge = r[3], *weight = r[4], *hill = r[5], *gx = r[6], *gy = r[7];
    float *val = r[8], *dx = r[9], *dy = r[10], *wx = r[11], *wy = r[12];
    for (int k = 0; k < n; ++k) {
        qx[k] = a[k * A_CH + A_QX], qy[k] = a[k * A_CH + A_QY], land[k] = a[k * A_CH + A_LAND] - sea;
        ridge[k] = hill[k] = gx[k] = gy[k] = 0, weight[k] = 1;
    }
    fbm_row(qx, qy, n, continent_wavelength, continent_octaves_a, continent_octaves_b, sd.continent, s, land, val);

    // Ridged multifractal: sharp crests where the noise crosses zero, each octave weighted by the
    // one before so the detail gathers on the ridges and the valleys stay smooth. A finer warp bends
    // the crests.
    for (int k = 0; k < n; ++k) wx[k] = wy[k] = 0;
    fbm_row(qx, qy, n, ridge_warp_wavelength, 0, 2, sd.warp_x + 1, s, wx, val);
    fbm_row(qx, qy, n, ridge_warp_wavelength, 0, 2, sd.warp_y + 1, s, wy, val);
    for (int k = 0; k < n; ++k) qx[k] += ridge_warp_amount * wx[k], qy[k] += ridge_warp_amount * wy[k];
    float wl = ridge_wavelength;
    for (int i = 0; i < ridge_octaves_b; ++i, wl *= 0.5f) {
        const float b = octave_share(wl, s) * ridge_amp[i];
        if (b <= 0) continue;
        octave_row(qx, qy, n, wl, i, sd.ridge, val);
        for (int k = 0; k < n; ++k) {
            const float edge = 1 - std::fabs(val[k]), sig = edge * edge * weight[k];
            weight[k] = std::clamp(sig * 2, 0.0f, 1.0f);
            ridge[k] += b * sig;
        }
    }
    // Hills whose finer octaves fade where the coarser ones are already steep, as erosion leaves them.
    float amp = 1;
    wl = hill_wavelength;
    for (int i = 0; i < hill_octaves_b; ++i, amp *= 0.5f, wl *= 0.5f) {
        const float b = octave_share(wl, s) * amp;
        if (b <= 0) continue;
        octave_row(u, v, n, wl, i, sd.hill, val, dx, dy);
        for (int k = 0; k < n; ++k) {
            gx[k] += amp * hill_wavelength * dx[k], gy[k] += amp * hill_wavelength * dy[k];
            hill[k] += b * val[k] / (1 + 0.3f * (gx[k] * gx[k] + gy[k] * gy[k]));
        }
    }
    for (int k = 0; k < n; ++k) {
        const float l = land[k];
        // Continents: a power curve keeps coastal plains low and lifts the interiors.
        const float base = l > 0 ? 70 * (1 - std::exp(-4 * std::pow(l, 1.5f))) : 120 * l;
        const float onshore = smoothstep(-0.02f, 0.06f, l), m = a[k * A_CH + A_MOUNT];
        const float ridge_height = ridge_levels * m * onshore / ridge_sum, hill_height = hill_levels * onshore * (1 - 0.6f * m);
        float *o = out + k * B_CH;
        o[B_Z] = base + ridge_height * (ridge[k] - ridge_floor * ridge_sum) + hill_height * hill[k];
        o[B_RIDGE] = ridge_height;
        o[B_WEIGHT] = weight[k];
        o[B_HILL] = hill_height * amp / (1 + 0.3f * (gx[k] * gx[k] + gy[k] * gy[k]));
    }
}

void fill_b(const Lattice &la, Lattice &l, const Seeds &sd, const Scale &k, float s, const Lattice *carve, int threads,
            const std::function<void(int)> &tick) {
    std::vector<Tap> ta(l.nx), tc(carve ? l.nx : 0);
    for (int i = 0; i < l.nx; ++i) {
        const float u = static_cast<float>(l.i0 + i) * l.sx;
        ta[i] = tap_x(la, u);
        if (carve) tc[i] = tap_x(*carve, u);
    }
    parallel_rows(l.ny, [&](int j0, int j1) {
        ScratchRows r(l.nx, 2);
        std::vector<float> col(static_cast<size_t>(la.nx) * A_CH), a(static_cast<size_t>(l.nx) * A_CH);
        std::vector<float> ccol(carve ? carve->nx : 0);
        for (int j = j0; j < j1; ++j) {
            const float v = static_cast<float>(l.j0 + j) * l.sy;
            column_pass(la, tap_y(la, v), col.data());
            for (int i = 0; i < l.nx; ++i) {
                r[0][i] = static_cast<float>(l.i0 + i) * l.sx, r[1][i] = v;
                for (int c = 0; c < A_CH; ++c) a[static_cast<size_t>(i) * A_CH + c] = row_pass(col.data(), A_CH, c, ta[i]);
            }
            stage_b_row(r[0], r[1], a.data(), l.nx, sd, k.sea, s, l.at(0, j));
            for (int i = 0; i < l.nx; ++i) l.at(i, j)[B_Z] -= k.shift;
            if (carve) {
                column_pass(*carve, tap_y(*carve, v), ccol.data());
                for (int i = 0; i < l.nx; ++i) l.at(i, j)[B_Z] += row_pass(ccol.data(), 1, 0, tc[i]);
            }
        }
    }, threads, tick);
}

}  // namespace worldgen
