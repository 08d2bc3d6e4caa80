// Fitting a raster of any size into the map grid: the placement, bilinear resampling, row-band threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Where a w × h input lands in the out_w × out_h grid: scaled by one factor, centred.
struct Fit {
    int out_w = 0, out_h = 0;  // the grid
    int x0 = 0, y0 = 0;        // top-left cell of the covered area
    int w = 0, h = 0;          // its size in cells
    bool whole() const { return x0 == 0 && y0 == 0 && w == out_w && h == out_h; }
};

// The largest centred area of the input's aspect ratio that fits in the grid.
Fit fit_into(int in_w, int in_h, int out_w, int out_h);

// How the input was placed, for the user, e.g. "4096 x 4096 is not 3:2: fitted as 4096 x 4096
// cells at columns 1024 … 5119". Empty when it fills the grid.
std::string describe_fit(int in_w, int in_h, const Fit &f);

// Bilinear resampling of a w × h field (pixel centres aligned) into the fitted area of out
// (out_w × out_h, row-major). Cells outside the area become voids with value 0. A cell is a
// void when less than half of its bilinear weight falls on non-void samples; otherwise the
// non-void samples are averaged by their weights. `voids` may be null (no voids).
void resample(const float *z, const uint8_t *voids, int w, int h, const Fit &f, float *out, uint8_t *out_voids);

// Bilinear resampling of 8-bit RGB (3 bytes a pixel) into the fitted area of out (3 bytes a
// cell, rounded). Cells outside the area are left as they are.
void resample_rgb(const uint8_t *rgb, int w, int h, const Fit &f, uint8_t *out);
