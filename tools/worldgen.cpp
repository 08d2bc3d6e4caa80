// Default world generator: fractal value noise stretched over the whole height range.
#include "worldgen.h"

#include <algorithm>
#include <cmath>

namespace {

uint64_t mix(uint64_t z) {
    z += 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

float lattice(uint64_t seed, long long x, long long y) {
    uint64_t k = mix(seed ^ mix(static_cast<uint64_t>(x) * 0x100000001b3ULL ^ static_cast<uint64_t>(y)));
    return static_cast<float>(k >> 40) / static_cast<float>(1 << 24) * 2.0f - 1.0f;
}

float smooth(float t) { return t * t * (3 - 2 * t); }

float value_noise(uint64_t seed, float x, float y) {
    const float fx = std::floor(x), fy = std::floor(y);
    const long long ix = static_cast<long long>(fx), iy = static_cast<long long>(fy);
    const float tx = smooth(x - fx), ty = smooth(y - fy);
    const float a = lattice(seed, ix, iy), b = lattice(seed, ix + 1, iy);
    const float c = lattice(seed, ix, iy + 1), d = lattice(seed, ix + 1, iy + 1);
    return (a + tx * (b - a)) + ty * ((c + tx * (d - c)) - (a + tx * (b - a)));
}

}  // namespace

std::vector<float> world_heights(int w, int h, uint64_t seed) {
    std::vector<float> z(static_cast<size_t>(w) * h);
    // Frequencies are fixed relative to the full map so that a small run is the same world, coarser.
    const float base = 8.0f / 6144.0f;
    const float sx = 6144.0f / w, sy = 4096.0f / h;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            float f = base, a = 1, s = 0;
            for (int o = 0; o < 8; ++o, f *= 2, a *= 0.5f)
                s += a * value_noise(mix(seed + o), x * sx * f, y * sy * f);
            z[static_cast<size_t>(y) * w + x] = s;
        }
    }
    const auto [lo, hi] = std::minmax_element(z.begin(), z.end());
    const float mn = *lo, span = std::max(*hi - *lo, 1e-6f);
    for (float &v : z) v = (v - mn) / span * 255.0f - 128.0f;
    return z;
}
