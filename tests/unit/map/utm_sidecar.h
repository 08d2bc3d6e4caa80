// A sidecar of an imported area that the map tools' tests share.
#pragma once

#include "map/sidecar.h"

#include <algorithm>

// A map of an imported area: a 40 x 20 box at (100, 200) in UTM 33N, 30 m cells, 2 m a level
// above 0 and 1 m below, sea at 0 m; a void in it.
inline Sidecar utm_sidecar() {
    Sidecar s;
    s.written_by = "mvx import";
    s.sources = {"dem.tif"};
    s.crs_name = "EPSG:32633";
    s.crs = "PROJCS[\"WGS 84 / UTM zone 33N\",GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],"
            "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],"
            "PARAMETER[\"latitude_of_origin\",0],PARAMETER[\"central_meridian\",15],PARAMETER[\"scale_factor\",0.9996],"
            "PARAMETER[\"false_easting\",500000],PARAMETER[\"false_northing\",0],UNIT[\"metre\",1],AUTHORITY[\"EPSG\",\"32633\"]]";
    s.georeferenced = true;
    const double gt[6] = {400000 - 100 * 30.0, 30, 0, 5000000 + 200 * 30.0, 0, -30};
    std::copy(gt, gt + 6, s.gt);
    s.has_bounds = true, s.west = 13.7, s.south = 45.1, s.east = 13.72, s.north = 45.11;
    s.box_x0 = 100, s.box_y0 = 200, s.box_w = 40, s.box_h = 20;
    s.cell_x = s.cell_y = 30;
    s.metres = true;
    s.height_at_0 = 0, s.height_at_m1 = -1, s.per_level_below = 1, s.per_level_above = 2;
    s.sea_level = 0;
    return s;
}
