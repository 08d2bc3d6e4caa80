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

// The image's colours and where it has data, when one is given.
struct Imagery {
    std::vector<uint16_t> colour;
    std::vector<uint8_t> covered;
    bool whole = false;  // it has data everywhere: no tints needed
};

Status read_colour(const ImportOptions &o, const Heights &h, Imagery &img, std::vector<std::string> &notes) {
    if (o.colour.empty()) return {};
    img.colour.assign(grid_cells, 0);
    img.covered.assign(grid_cells, 0);
    if (Status st = read_imagery(o.colour, o.bands, h.src, h.place, img.colour, img.covered, notes); !st.ok) return st;
    img.whole = std::find(img.covered.begin(), img.covered.end(), 0) == img.covered.end();
    return {};
}

// The map in the file's layout, band by band of rows on every core: each cell's colour (the
// image's where it has data, else tints with the light baked in), its height as a level, voids in
// their own colour at the level of the data nearest them (the heights they were given); and what
// is sea, void or clamped. One pass: the map is never held any other way.
void pack_map(const Heights &h, const LevelScale &scale, double sea, const Imagery &img, uint8_t *out, LevelCounts &n,
              const std::function<void(double)> &report) {
    const Field &f = h.field;
    const Relief relief = relief_for(h, scale, sea);
    parallel_rows(grid_rows, [&](int y0, int y1) {
        std::vector<uint16_t> tints;
        if (!img.whole) {
            tints.resize(static_cast<size_t>(y1 - y0) * grid_columns);
            colour_rows(f.z.data(), grid_columns, grid_rows, y0, y1, tints.data(), f.voids.data(), relief);
        }
        long long sea_cells = 0, voids = 0, clamped = 0;
        const long long first = 1LL * y0 * grid_columns;
        uint8_t *cell = out + 1LL * y0 * row_bytes;
        for (long long i = first; i < 1LL * y1 * grid_columns; ++i, cell += cell_bytes) {
            const int8_t level = scale.level(f.z[i]);
            if (f.voids[i]) {
                put_cell(cell, void_cell_colour, level);
                ++voids;
                continue;
            }
            put_cell(cell, !img.covered.empty() && img.covered[i] ? img.colour[i] : tints[i - first], level);
            sea_cells += f.z[i] <= sea;
            if (scale.per_level > 0) {
                const double u = scale.unclamped(f.z[i]);
                clamped += u < -128.5 || u >= 127.5;
            }
        }
        n.sea += sea_cells, n.voids += voids, n.clamped += clamped;
    }, 0, [&](int done) { report(0.7 + 0.3 * done / grid_rows); });
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

Status import_map(const ImportOptions &o, uint8_t *map, Sidecar &sc, std::vector<std::string> &notes,
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
    Imagery img;
    if (Status st = read_colour(o, h, img, notes); !st.ok) return st;
    report(0.7);
    LevelCounts n;
    pack_map(h, scale, sea, img, map, n, report);
    sc = sidecar_for(o, h, scale, sea);
    report_import(o, h, scale, sc, n, notes);
    return {};
}
