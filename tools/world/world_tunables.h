// The default world's tunables, in full-map cells and height levels: lattice steps, wavelengths, octaves and amplitudes.
#pragma once

namespace worldgen {

constexpr float step_a = 16, step_e = 8, step_b = 4;
constexpr float water_fraction = 0.35f;

constexpr float warp_wavelength = 1800, warp_amount = 300;
constexpr int warp_octaves = 3;
constexpr float continent_wavelength = 2400;
constexpr int continent_octaves_a = 5, continent_octaves_b = 2;  // the last two are coast detail
constexpr float mountain_mask_wavelength = 1500;
constexpr float ridge_wavelength = 640;
constexpr int ridge_octaves_b = 6, ridge_octaves_c = 2;
// Amplitudes of the ridge octaves: flatter than halving through the middle wavelengths, where
// mountain flanks get their slopes.
constexpr float ridge_amp[] = {1.0f, 0.8f, 0.62f, 0.45f, 0.3f, 0.18f, 0.1f, 0.055f};
static_assert(sizeof ridge_amp / sizeof ridge_amp[0] == ridge_octaves_b + ridge_octaves_c);
constexpr float ridge_levels = 200;  // raw height of a full mountain range
constexpr float ridge_floor = 0.22f;  // share of it by which mountain valleys sink below the land around
constexpr float ridge_warp_wavelength = 260, ridge_warp_amount = 40;
constexpr float hill_levels = 10;
constexpr float valley_wall_levels = 2.0f;    // steepest slope rivers leave (levels per cell) where they start
constexpr float river_concavity = 0.45f;      // river slope falls as the area drained to this power
constexpr float valley_spread_levels = 0.5f;  // how fast a valley's depth falls off sideways, levels per cell
constexpr float max_cut = 0.6f;               // largest share of a point's height that a valley takes away
constexpr float plain_cut = 0.35f;            // share of the full cut that plains get
constexpr float hill_wavelength = 420;
constexpr int hill_octaves_b = 5;

constexpr int max_octaves = 12;  // the most any layer adds up
static_assert(ridge_octaves_b + ridge_octaves_c <= max_octaves && continent_octaves_a + continent_octaves_b <= max_octaves);

// Sum of the ridge octaves' amplitudes, which scales the ridges to about 0 … 1.
inline const float ridge_sum = [] {
    float s = 0;
    for (float a : ridge_amp) s += a;
    return s;
}();

}  // namespace worldgen
