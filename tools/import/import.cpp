// The import pipeline: the heights read into the grid, levels, colours, the sidecar and the report.
#include "import/import.h"

#include "common/parallel.h"
#include "import/imagery.h"
#include "import/import_report.h"
#include "import/inputs.h"
#include "import/voids.h"
#include "world/relief.h"

#include <algorithm>
#include <cmath>

namespace {

// Metres of height below and above the sea level that the deepest and highest tints stand for,
// when the heights are in metres: the tints then mean the same everywhere, as on a printed map,
// spread by the square root so that lowlands (a few hundred metres) get tints of their own.
constexpr double tint_land_metres = 5000, tint_sea_metres = 6000;

// The sea level in the input's units: the one given; for map levels, between levels -1 and 0.
double sea_level(const ImportOptions &o, const HeightSource &src) {
    if (o.has_sea) return o.sea;
    return src.map_levels ? 128 * 257 - 257 / 2.0 : 0;
}

// The longitude/latitude corners of the box, for the sidecar.
bool box_lonlat(const HeightSource &src, const Placement &p, Sidecar &sc) {
    if (!src.georeferenced || src.wkt.empty()) return false;
    const double x0 = p.gt[0] + p.x0 * p.gt[1], y0 = p.gt[3] + p.y0 * p.gt[5];
    const double x1 = x0 + p.w * p.gt[1], y1 = y0 + p.h * p.gt[5];
    const double box[4] = {std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)};
    double ll[4];
    if (!transform_box(SpatialRef(src.wkt), SpatialRef::wgs84(), box, ll)) return false;
    sc.west = ll[0], sc.south = ll[1], sc.east = ll[2], sc.north = ll[3];
    return true;
}

}  // namespace

Status read_import(const ImportOptions &o, int grid_w, int grid_h, Heights &h, std::vector<std::string> &notes,
                   const std::function<void(double)> &progress) {
    std::vector<std::string> paths;
    if (Status st = expand_inputs(o.heights, o.input_list, paths, notes); !st.ok) return st;
    // A tile found in a directory or a list is an input too, never to be written over.
    if (paths != o.heights)
        if (Status st = check_map_output(o.out, paths, o.out_links); !st.ok) return st;
    if (Status st = open_heights(paths, o.size_w, o.size_h, h.src); !st.ok) return st;
    notes.insert(notes.end(), h.src.notes.begin(), h.src.notes.end());
    if (Status st = place(h.src, o.fit, o.has_bounds ? &o.bounds : nullptr, grid_w, grid_h, h.place, notes); !st.ok)
        return st;
    notes.push_back(resampling_note(h.src, h.place, o.resample));
    return read_field(h.src, h.place, o.resample, h.field, progress, o.max_samples);
}

Relief relief_for(const Heights &h, const LevelScale &s, double sea) {
    Relief r;
    r.sea = static_cast<float>(sea);
    r.coast = -0.5f;  // the sea level itself is sea
    const double units_per_metre = 1 / h.src.z_metres;
    if (h.place.cell_x > 0) {
        r.root = true;
        r.land_span = static_cast<float>(tint_land_metres * units_per_metre);
        r.sea_span = static_cast<float>(tint_sea_metres * units_per_metre);
        r.cell_x = static_cast<float>(h.place.cell_x * units_per_metre);
        r.cell_y = static_cast<float>(h.place.cell_y * units_per_metre);
        return r;
    }
    const double per_level = s.per_level > 0 ? s.per_level : (s.hi - s.lo) / 255;
    r.land_span = static_cast<float>(std::max(s.hi - sea, 1e-6));
    r.sea_span = static_cast<float>(std::max(sea - s.lo, 1e-6));
    r.cell_x = r.cell_y = static_cast<float>(3 * std::max(per_level, 1e-9));
    return r;
}

namespace {

// The levels: from the heights' range (or the one given, or declared by the file), at a chosen
// exaggeration when asked.
Status choose_levels(const ImportOptions &o, const Heights &h, double sea, LevelScale &scale) {
    const RangeChoice range{o.has_range, o.range_lo, o.range_hi, h.src.map_levels && !o.has_range};
    if (Status st = choose_scale(h.field.z, h.field.voids, range, h.src.label, scale); !st.ok) return st;
    if (o.exaggeration > 0) {
        const Placement &p = h.place;
        if (p.cell_x <= 0)
            return Status::fail("--exaggeration: " + h.src.label + " is not georeferenced, so its metres per cell are unknown");
        scale.per_level = (p.cell_x + p.cell_y) / 2 / 3 / o.exaggeration / h.src.z_metres;
    }
    place_sea(scale, sea, o.has_sea, range.declared);
    return {};
}

// The colours: the image where it has data, tints with the light baked in everywhere else.
Status colour_map(const ImportOptions &o, const Heights &h, const LevelScale &scale, double sea, Map &m,
                  std::vector<std::string> &notes, const std::function<void(double)> &report) {
    std::vector<uint8_t> covered;
    if (!o.colour.empty()) {
        covered.assign(grid_cells, 0);
        if (Status st = read_imagery(o.colour, o.bands, h.src, h.place, m.colour, covered, notes); !st.ok) return st;
    }
    report(0.7);
    if (!covered.empty() && std::find(covered.begin(), covered.end(), 0) == covered.end()) return {};
    const std::vector<uint16_t> image = covered.empty() ? std::vector<uint16_t>() : m.colour;
    const Field &f = h.field;
    colour_relief(f.z.data(), grid_columns, grid_rows, m.colour.data(), f.voids.data(), relief_for(h, scale, sea), 0,
                  [&](double d) { report(0.7 + 0.25 * d); });
    for (size_t i = 0; i < covered.size(); ++i)
        if (covered[i] && !f.voids[i]) m.colour[i] = image[i];
    return {};
}

// The heights as levels, voids in their own colour at the level of the data nearest them (the
// heights they were given); what is sea, void, or clamped.
void level_map(const Field &f, const LevelScale &scale, double sea, Map &m, LevelCounts &n) {
    parallel_rows(grid_rows, [&](int y0, int y1) {
        long long sea_cells = 0, voids = 0, clamped = 0;
        for (long long i = 1LL * y0 * grid_columns; i < 1LL * y1 * grid_columns; ++i) {
            if (f.voids[i]) {
                m.height[i] = scale.level(f.z[i]);
                m.colour[i] = void_cell_colour;
                ++voids;
                continue;
            }
            m.height[i] = scale.level(f.z[i]);
            sea_cells += f.z[i] <= sea;
            if (scale.per_level > 0) {
                const double u = scale.unclamped(f.z[i]);
                clamped += u < -128.5 || u >= 127.5;
            }
        }
        n.sea += sea_cells, n.voids += voids, n.clamped += clamped;
    });
}

// What the map stands for; heights in metres when the input's are a known length.
Sidecar sidecar_for(const ImportOptions &o, const Heights &h, const LevelScale &scale, double sea) {
    const Placement &p = h.place;
    Sidecar sc;
    sc.written_by = "mvx import";
    sc.sources = import_sources(o);
    sc.crs = h.src.wkt;
    sc.crs_name = crs_name(h.src.wkt);
    sc.georeferenced = h.src.georeferenced;
    std::copy(p.gt, p.gt + 6, sc.gt);
    sc.has_bounds = box_lonlat(h.src, p, sc);
    sc.box_x0 = p.x0, sc.box_y0 = p.y0, sc.box_w = p.w, sc.box_h = p.h;
    sc.cell_x = p.cell_x, sc.cell_y = p.cell_y;
    scale.mapping(sc);
    sc.metres = h.src.z_in_metres;
    sc.sea_level = sea;
    if (sc.metres) {
        const double k = h.src.z_metres;
        sc.height_at_0 *= k, sc.height_at_m1 *= k, sc.per_level_below *= k, sc.per_level_above *= k, sc.sea_level *= k;
    }
    return sc;
}

}  // namespace

Status import_map(const ImportOptions &o, Map &m, Sidecar &sc, std::vector<std::string> &notes,
                  const std::function<void(double)> &progress) {
    auto report = [&](double f) {
        if (progress) progress(f);
    };
    Heights h;
    if (Status st = read_import(o, grid_columns, grid_rows, h, notes, [&](double f) { report(0.6 * f); }); !st.ok) return st;
    // Before levels and colours: the light then sees no cliff where the data ends.
    fill_voids_from_nearest(h.field);
    LevelScale scale;
    const double sea = sea_level(o, h.src);
    if (Status st = choose_levels(o, h, sea, scale); !st.ok) return st;
    if (Status st = colour_map(o, h, scale, sea, m, notes, report); !st.ok) return st;
    LevelCounts n;
    level_map(h.field, scale, sea, m, n);
    report(1);
    sc = sidecar_for(o, h, scale, sea);
    report_import(o, h, scale, sc, n, notes);
    return {};
}
