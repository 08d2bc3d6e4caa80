// Colouring a height field: hypsometric tints with a baked hillshade, dithered to the map's 5-bit channels.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>

// How the colouring reads a height field. The defaults are the map's own level scale (-128 ... 127,
// sea below 0), one cell as wide as 3 levels are high, as the viewer draws it; an import gives its
// heights' real sea level, spans and cell size instead, so that slopes are shaded as on the ground.
struct Relief {
    float sea = 0;          // heights at or below it are sea (for the default scale: below 0)
    float land_span = 127;  // height above the sea level that gets the highest land tint
    float sea_span = 128;   // depth below it that gets the deepest sea tint
    float coast = 0;        // tint level of the sea level itself: below -0.5 makes it water
    bool root = false;      // tints by the square root of height and depth: more of them for lowlands and shelves
    float cell_x = 3, cell_y = 3;  // a cell's width and length, in the heights' units
};

// The tint level (-128 ... 127, sea below 0) a height gets under `r`.
inline float tint_level(float z, const Relief &r) {
    if (r.root)
        return z > r.sea ? 127 * std::sqrt(std::min((z - r.sea) / r.land_span, 1.0f))
                         : r.coast - (128 + r.coast) * std::sqrt(std::min((r.sea - z) / r.sea_span, 1.0f));
    return z > r.sea ? (z - r.sea) * (127 / r.land_span) : r.coast + (z - r.sea) * ((128 + r.coast) / r.sea_span);
}

// Colours w × h heights (unquantised) as hypsometric tints with a hillshade; `voids` (optional,
// nonzero = no data) get void_cell_colour; bit 15 is set on those alone. Rows are coloured
// in parallel on `threads` threads (0: every core) with the same result whatever their number;
// `progress` gets the fraction done.
void colour_relief(const float *z, int w, int h, uint16_t *out, const uint8_t *voids = nullptr, const Relief &r = {},
                   int threads = 0, const std::function<void(double)> &progress = {});

// Rows y0 ... y1-1 of the same colouring into out (w a row, from row y0), for a caller that takes
// the rows as they come.
void colour_rows(const float *z, int w, int h, int y0, int y1, uint16_t *out, const uint8_t *voids, const Relief &r);

// 8-bit RGB to the map's 15-bit colour, with the ordered dither of cell (x, y).
uint16_t pack_rgb(float r, float g, float b, int x, int y);

// The slope, in degrees on the viewer's scale, from which land shows as bare rock.
constexpr float rock_slope_deg = 35.0f;
