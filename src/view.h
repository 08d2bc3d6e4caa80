// View parameters and the display callback that draws the terrain patch from them.
#pragma once

// The view parameters (units and ranges where they are defined, in view.cpp).
extern int xdeb, ydeb, pas, zoom, anglex, angley, dist, hauteur;

constexpr int cote = 150;        // side of the drawn square, view units
constexpr int xdeb_depart = 1294;  // xdeb and ydeb at start: the first view's top-left cell
constexpr int ydeb_depart = 1552;

void affichage();
