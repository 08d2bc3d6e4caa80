// Voids given the height of the data nearest them, so that a map's data ends in a flat apron, not a wall.
#pragma once

#include "import/read_field.h"

// Sets each void's z to the z of the data cell nearest it (Euclidean distance over the grid;
// between equally near ones, a fixed choice), leaving the void flags as they are. Linear in the cells,
// rows and columns on every core; the same result whatever their number. A field with no data is
// left as it is. Fields of up to 32767 rows.
void fill_voids_from_nearest(Field &f);
