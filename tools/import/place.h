// Where an input lands in the map's grid: its proportions on the ground, the fit, a chosen region.
#pragma once

#include "common/io.h"
#include "import/tile_set.h"

#include <string>

enum class FitMode { pad, crop, stretch };

// A region in longitude and latitude, degrees.
struct Bounds {
    double west = 0, south = 0, east = 0, north = 0;
};

struct Placement {
    int grid_w = 0, grid_h = 0;      // the grid: the map's, or smaller in tests
    double sx = 0, sy = 0, sw = 0, sh = 0;  // the part of the input read, in its pixels (fractional)
    int x0 = 0, y0 = 0, w = 0, h = 0;       // the cells it fills
    double ground_w = 0, ground_h = 0;      // that part's size on the ground in metres; 0 when unknown
    double cell_x = 0, cell_y = 0;          // metres per cell across and down; 0 when unknown
    double gt[6] = {0, 1, 0, 0, 0, 1};      // the grid's geotransform (from cell 0,0's corner) in the input's coordinates
    bool fills_grid() const { return x0 == 0 && y0 == 0 && w == grid_w && h == grid_h; }
};

// The placement of `src` in a grid_w x grid_h grid. Ground proportions come from the
// georeferencing (longitude scaled by the cosine of the latitude at the data's centre; projected
// units as they are; pixel proportions without georeferencing). pad centres the whole input with
// void margins, crop fills the grid cutting the longer side, stretch ignores proportions.
// `bounds` (may be null) picks the region to read; it must overlap the data.
Status place(const HeightSource &src, FitMode mode, const Bounds *bounds, int grid_w, int grid_h, Placement &p,
             std::vector<std::string> &notes);

// How the input was placed, for the user; empty when it fills the grid as it is.
std::string describe_placement(const Placement &p, FitMode mode);
