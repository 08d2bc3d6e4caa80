// Where the viewer starts, for the viewer and for the tools that place a map's first view.
#pragma once

constexpr int patch_side = 150;   // side of the drawn square, view units
constexpr int start_xdeb = 1294;  // xdeb and ydeb at start: the first view's top-left cell
constexpr int start_ydeb = 1552;
