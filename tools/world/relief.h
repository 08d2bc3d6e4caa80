// Colouring a height field: hypsometric tints with a baked hillshade, dithered to the map's 5-bit channels.
#pragma once

#include <cstdint>
#include <functional>

// Heights are on the map's level scale (-128 … 127, 0 is sea level) but still unquantised.
// One cell is as wide as 3 levels are high, as the viewer draws it; slopes are judged on that scale.
// `voids` (optional, nonzero = no data) get a colour of their own.
// Writes w × h colours, bit 15 clear. Rows are coloured in parallel on `threads` threads (0: every
// core) with the same result whatever their number; `progress` gets the fraction done.
void colour_relief(const float *z, int w, int h, uint16_t *out, const uint8_t *voids = nullptr, int threads = 0,
                   const std::function<void(double)> &progress = {});

// 8-bit RGB to the map's 15-bit colour, with the ordered dither of cell (x, y).
uint16_t pack_rgb(float r, float g, float b, int x, int y);

// The slope, in degrees on the viewer's scale, from which land shows as bare rock.
constexpr float rock_slope_deg = 35.0f;
