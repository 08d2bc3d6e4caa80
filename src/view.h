// View parameters and the display callback that draws the terrain patch from them.
#pragma once

extern int xdeb;     // grid column at the view's left edge, 0 … 6143
extern int ydeb;     // grid row at the view's top edge, 0 … 4095
extern int pas;      // mesh step, view units per quad, 1 … 16
extern int zoom;     // grid cells per view unit, 1 … INT_MAX
extern int anglex;   // turn about the terrain's z axis, degrees, applied negated
extern int angley;   // tilt about the x axis, degrees, applied negated
extern int dist;     // viewing distance, 1 … INT_MAX; scale is 100 / dist
extern int hauteur;  // shift along the terrain's z axis, view units

constexpr int cote = 150;  // side of the drawn square, view units

void affichage();
