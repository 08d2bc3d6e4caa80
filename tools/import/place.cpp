// Placement: ground size from the georeferencing, the box the fit gives, the window a region selects.
#include "common/text.h"
#include "import/place.h"

#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double pi = 3.14159265358979323846;

// Metres along x and y for one unit of the input's coordinates at latitude `lat` (geographic
// systems), or for its linear unit (projected); 0 when nothing says.
void ground_metres_per_unit(const HeightSource &src, double lat, double &mx, double &my) {
    mx = my = 0;
    if (!src.georeferenced) return;
    const SpatialRef s(src.wkt);
    if (!s.get()) {
        mx = my = 1;  // georeferenced without a system (an ASCII grid without .prj): taken as metres
        return;
    }
    if (OSRIsGeographic(s.get())) {
        OGRErr e = OGRERR_NONE;
        const double a = OSRGetSemiMajor(s.get(), &e);
        my = (e == OGRERR_NONE && a > 0 ? a : 6378137.0) * pi / 180;
        mx = my * std::cos(lat * pi / 180);
        return;
    }
    mx = my = OSRGetLinearUnits(s.get(), nullptr);
}

// The window that `bounds` (longitude/latitude) covers in the input's pixels, clipped to the data.
Status bounds_window(const HeightSource &src, const Bounds &b, Placement &p, std::vector<std::string> &notes) {
    const std::string region = number(b.west) + "," + number(b.south) + "," + number(b.east) + "," + number(b.north);
    if (!src.georeferenced || src.wkt.empty())
        return Status::fail("--bounds: " + src.label + " has no coordinate system to place " + region + " in");
    const SpatialRef s(src.wkt);
    const double lonlat[4] = {b.west, b.south, b.east, b.north};
    double box[4] = {b.west, b.south, b.east, b.north};
    if (!OSRIsGeographic(s.get()) && !transform_box(SpatialRef::wgs84(), s, lonlat, box))
        return Status::fail("--bounds: " + region + " cannot be put in " + src.label + "'s coordinate system");
    const double x0 = box[0], y0 = box[1], x1 = box[2], y1 = box[3];
    const double *gt = src.gt;
    double px0 = (x0 - gt[0]) / gt[1], px1 = (x1 - gt[0]) / gt[1];
    double py0 = (y1 - gt[3]) / gt[5], py1 = (y0 - gt[3]) / gt[5];
    if (px0 > px1) std::swap(px0, px1);
    if (py0 > py1) std::swap(py0, py1);
    const double cx0 = std::max(px0, 0.0), cx1 = std::min(px1, static_cast<double>(src.w));
    const double cy0 = std::max(py0, 0.0), cy1 = std::min(py1, static_cast<double>(src.h));
    if (!(cx1 > cx0 && cy1 > cy0)) {
        const double w = gt[0], e = gt[0] + src.w * gt[1], n = gt[3], so = gt[3] + src.h * gt[5];
        return Status::fail("--bounds: " + region + " lies outside " + src.label + " (it covers x " + number(w) + " to " +
                            number(e) + ", y " + number(so) + " to " + number(n) + ")");
    }
    if (cx0 != px0 || cx1 != px1 || cy0 != py0 || cy1 != py1)
        notes.push_back("--bounds: " + region + " reaches past the data: only the part inside is imported");
    p.sx = cx0, p.sy = cy0, p.sw = cx1 - cx0, p.sh = cy1 - cy0;
    return {};
}

// The box of aspect `aspect` (width over height) that fits the grid, centred.
void centre_box(double aspect, Placement &p) {
    if (aspect * p.grid_h >= p.grid_w) {
        p.w = p.grid_w;
        p.h = std::clamp(static_cast<int>(std::lround(p.grid_w / aspect)), 1, p.grid_h);
    } else {
        p.h = p.grid_h;
        p.w = std::clamp(static_cast<int>(std::lround(p.grid_h * aspect)), 1, p.grid_w);
    }
    p.x0 = (p.grid_w - p.w) / 2;
    p.y0 = (p.grid_h - p.h) / 2;
}

}  // namespace

Status place(const HeightSource &src, FitMode mode, const Bounds *bounds, int grid_w, int grid_h, Placement &p,
             std::vector<std::string> &notes) {
    p = Placement{};
    p.grid_w = grid_w, p.grid_h = grid_h;
    p.sw = src.w, p.sh = src.h;
    if (bounds)
        if (Status st = bounds_window(src, *bounds, p, notes); !st.ok) return st;
    double mx = 0, my = 0;
    ground_metres_per_unit(src, src.gt[3] + (p.sy + p.sh / 2) * src.gt[5], mx, my);
    const double ux = p.sw * std::fabs(src.gt[1]), uy = p.sh * std::fabs(src.gt[5]);
    p.ground_w = ux * mx, p.ground_h = uy * my;
    const double aspect = mx > 0 ? p.ground_w / p.ground_h : src.georeferenced ? ux / uy : p.sw / p.sh;
    if (mode == FitMode::pad) {
        centre_box(aspect, p);
    } else {
        p.w = grid_w, p.h = grid_h;
        if (mode == FitMode::crop) {
            // Cut the longer side so that what is left has the grid's proportions.
            const double grid = static_cast<double>(grid_w) / grid_h;
            if (aspect > grid) {
                const double keep = p.sw * grid / aspect;
                p.sx += (p.sw - keep) / 2, p.sw = keep;
            } else {
                const double keep = p.sh * aspect / grid;
                p.sy += (p.sh - keep) / 2, p.sh = keep;
            }
            p.ground_w *= std::min(1.0, grid / aspect), p.ground_h *= std::min(1.0, aspect / grid);
        }
    }
    if (mx > 0) p.cell_x = p.ground_w / p.w, p.cell_y = p.ground_h / p.h;
    // The grid's own georeferencing: the window's corner at the box's, at the box's cell size.
    const double px = p.sw * src.gt[1] / p.w, py = p.sh * src.gt[5] / p.h;
    p.gt[0] = src.gt[0] + p.sx * src.gt[1] - p.x0 * px;
    p.gt[1] = px;
    p.gt[3] = src.gt[3] + p.sy * src.gt[5] - p.y0 * py;
    p.gt[5] = py;
    return {};
}

std::string describe_placement(const Placement &p, FitMode mode) {
    if (p.fills_grid() && mode != FitMode::crop) return "";
    const std::string area = std::to_string(p.w) + " x " + std::to_string(p.h) + " cells";
    if (mode == FitMode::crop)
        return "cropped to the map's 3:2: " + number(p.sw) + " x " + number(p.sh) + " pixels from " + number(p.sx) + ", " +
               number(p.sy) + " fill the map";
    if (p.w == p.grid_w)
        return "wider than the map's 3:2: fitted across its width as " + area + " in rows " + std::to_string(p.y0) +
               " to " + std::to_string(p.y0 + p.h - 1) + "; the rows above and below are voids";
    return "narrower than the map's 3:2: fitted to its height as " + area + " in columns " + std::to_string(p.x0) +
           " to " + std::to_string(p.x0 + p.w - 1) + "; the columns on either side are voids";
}
