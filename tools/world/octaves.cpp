// Octaves of turned gradient noise over rows of points, how much of each a lattice can carry, and each layer's seed.
#include "world/octaves.h"

#include "world/noise.h"
#include "world/world_tunables.h"

#include <cmath>

namespace worldgen {

namespace {

uint64_t mix64(uint64_t z) {
    z += 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// Each octave is turned by an odd angle so the lattices of successive octaves never line up.
struct Turn {
    float c, s;
};
struct Turns {
    Turn t[max_octaves];
    Turns() {
        for (int i = 0; i < max_octaves; ++i) {
            const double a = 0.6435 + 1.13 * i;
            t[i] = {static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a))};
        }
    }
};
const Turns turns;

}  // namespace

// Most of the generator's time is spent here, so there is also a version for processors with AVX2,
// chosen at run time; its 8-wide integer multiplies make it twice as fast, and without fused
// multiply-adds its results are the same to the bit.
__attribute__((target_clones("avx2", "default"))) void octave_row(const float *__restrict u, const float *__restrict v, int n,
                                                                  float wl, int i, uint32_t seed, float *__restrict val,
                                                                  float *__restrict dx, float *__restrict dy) noexcept {
    const float f = 1 / wl, c = turns.t[i].c * f, s = turns.t[i].s * f;
    seed += 0x632be5abu * static_cast<uint32_t>(i);
    if (!dx) {
        for (int k = 0; k < n; ++k) val[k] = gradient_noise(c * u[k] - s * v[k], s * u[k] + c * v[k], seed).v;
        return;
    }
    for (int k = 0; k < n; ++k) {
        const Noise m = gradient_noise(c * u[k] - s * v[k], s * u[k] + c * v[k], seed);
        val[k] = m.v;
        dx[k] = c * m.dx + s * m.dy;
        dy[k] = c * m.dy - s * m.dx;
    }
}

void fbm_row(const float *u, const float *v, int n, float wl, int first, int count, uint32_t seed, float s,
             float *__restrict sum, float *__restrict tmp) noexcept {
    float amp = std::ldexp(1.0f, -first);
    wl = std::ldexp(wl, -first);
    for (int i = first; i < first + count; ++i, amp *= 0.5f, wl *= 0.5f) {
        const float b = octave_share(wl, s) * amp;
        if (b <= 0) continue;
        octave_row(u, v, n, wl, i, seed, tmp);
        for (int k = 0; k < n; ++k) sum[k] += b * tmp[k];
    }
}

Seeds::Seeds(uint64_t seed) {
    uint32_t *k[] = {&warp_x, &warp_y, &continent, &mask, &ridge, &hill};
    for (int i = 0; i < 6; ++i) *k[i] = static_cast<uint32_t>(mix64(seed * 6 + i) >> 32);
}

}  // namespace worldgen
