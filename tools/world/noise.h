// Gradient noise with its analytic derivative, the building block of the default world's terrain, and its smooth step.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

struct Noise {
    float v, dx, dy;  // value (about -1 … 1) and its partial derivatives
};

// 0 below a, 1 above b, a cubic in between with flat ends: the soft thresholds of terrain and tints.
// Written with min and max, so that loops of it vectorise.
inline float smoothstep(float a, float b, float x) {
    const float t = std::min(std::max((x - a) / (b - a), 0.0f), 1.0f);
    return t * t * (3 - 2 * t);
}

// Finishes a lattice hash: a well-mixed 32-bit value from the corner's combined coordinates.
inline uint32_t lattice_mix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    return h;
}

// 2D gradient noise: zero at every lattice point, quintic blending so that the derivative is
// continuous too (the hillshade sees it). The gradient of a corner is one of the 8 directions at
// odd multiples of 22.5°, chosen by three bits of its hash; their length makes the value span about
// -1 … 1. Branch-free and table-free, so that loops over many points vectorise.
inline Noise gradient_noise(float x, float y, uint32_t seed) {
    int32_t ix = static_cast<int32_t>(x), iy = static_cast<int32_t>(y);
    ix -= x < static_cast<float>(ix) ? 1 : 0;
    iy -= y < static_cast<float>(iy) ? 1 : 0;
    const float tx = x - static_cast<float>(ix), ty = y - static_cast<float>(iy);
    const uint32_t hx0 = static_cast<uint32_t>(ix) * 0x9e3779b1u, hx1 = hx0 + 0x9e3779b1u;
    const uint32_t hy0 = seed ^ static_cast<uint32_t>(iy) * 0x85ebca77u, hy1 = seed ^ (static_cast<uint32_t>(iy) + 1) * 0x85ebca77u;
    const uint32_t h[4] = {lattice_mix(hx0 ^ hy0), lattice_mix(hx1 ^ hy0), lattice_mix(hx0 ^ hy1), lattice_mix(hx1 ^ hy1)};
    // Bit 0 swaps the long and short components, bits 1 and 2 flip their signs (straight into the
    // sign bit, which is cheaper than choosing between values).
    float gx[4], gy[4];
    for (int k = 0; k < 4; ++k) {
        const float swap = static_cast<float>(h[k] & 1);
        const float a = 0.5412f + swap * 0.7654f, b = 1.3066f - swap * 0.7654f;
        uint32_t ba, bb;
        std::memcpy(&ba, &a, 4);
        std::memcpy(&bb, &b, 4);
        ba ^= (h[k] & 2) << 30;
        bb ^= (h[k] & 4) << 29;
        std::memcpy(&gx[k], &ba, 4);
        std::memcpy(&gy[k], &bb, 4);
    }
    const float ux = tx * tx * tx * (tx * (tx * 6 - 15) + 10), uy = ty * ty * ty * (ty * (ty * 6 - 15) + 10);
    const float dux = 30 * tx * tx * (tx * (tx - 2) + 1), duy = 30 * ty * ty * (ty * (ty - 2) + 1);
    const float va = gx[0] * tx + gy[0] * ty, vb = gx[1] * (tx - 1) + gy[1] * ty;
    const float vc = gx[2] * tx + gy[2] * (ty - 1), vd = gx[3] * (tx - 1) + gy[3] * (ty - 1);
    const float k = va - vb - vc + vd;
    Noise n;
    n.v = va + ux * (vb - va) + uy * (vc - va) + ux * uy * k;
    n.dx = gx[0] + ux * (gx[1] - gx[0]) + uy * (gx[2] - gx[0]) + ux * uy * (gx[0] - gx[1] - gx[2] + gx[3]) +
           dux * (vb - va + uy * k);
    n.dy = gy[0] + ux * (gy[1] - gy[0]) + uy * (gy[2] - gy[0]) + ux * uy * (gy[0] - gy[1] - gy[2] + gy[3]) +
           duy * (vc - va + ux * k);
    return n;
}
