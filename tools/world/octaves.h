// Octaves of turned gradient noise over rows of points, how much of each a lattice can carry, and each layer's seed.
#pragma once

#include <algorithm>
#include <cstdint>

namespace worldgen {

// How much of an octave of wavelength `wl` a lattice of spacing `s` can carry: none at the Nyquist
// limit, all from twice that, so coarser runs leave out what they cannot show instead of aliasing it.
inline float octave_share(float wl, float s) { return std::clamp(wl / (2 * s) - 1, 0.0f, 1.0f); }

// One octave of noise, wavelength `wl` cells, at the n full-map points (u[k], v[k]): values and,
// when dx is given, derivatives per cell. Octave i is turned by an angle of its own, so that the
// lattices of successive octaves never line up.
void octave_row(const float *__restrict u, const float *__restrict v, int n, float wl, int i, uint32_t seed,
                float *__restrict val, float *__restrict dx = nullptr, float *__restrict dy = nullptr) noexcept;

// Adds octaves first … first+count-1 of fractal noise (wavelengths halving from wl, amplitudes
// from 1) at the n points to sum, keeping what spacing `s` can carry.
void fbm_row(const float *u, const float *v, int n, float wl, int first, int count, uint32_t seed, float s,
             float *__restrict sum, float *__restrict tmp) noexcept;

// The seeds of the world's layers, drawn from the world's seed.
struct Seeds {
    uint32_t warp_x, warp_y, continent, mask, ridge, hill;
    explicit Seeds(uint64_t seed);
};

}  // namespace worldgen
