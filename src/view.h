// View parameters and the display callback that draws the terrain patch from them.
#pragma once

#include "format/first_view.h"

// The view parameters (units and ranges where they are defined, in view.cpp).
extern int xdeb, ydeb, pas, zoom, anglex, angley, dist, hauteur;

void affichage();
