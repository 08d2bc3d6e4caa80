// The report an import gives: the input and its range, how it was placed, the scale, sea and voids, and the way to the data.
#include "import/import_report.h"

#include "common/text.h"
#include "format/first_view.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// The summary's lines on the scale: metres per cell and per level, and how the viewer exaggerates.
void describe_scale(const Heights &h, const Sidecar &sc, std::vector<std::string> &notes) {
    const Placement &p = h.place;
    if (p.cell_x <= 0) {
        notes.push_back("scale: not georeferenced, so metres per cell are unknown; slopes are shaded on the viewer's "
                        "scale (a cell is 3 levels wide)");
        return;
    }
    const double below = sc.per_level_below * h.src.z_metres, above = sc.per_level_above * h.src.z_metres;
    std::string line = "scale: " + number(p.cell_x, 4) + " m per cell across, " + number(p.cell_y, 4) + " m down; ";
    auto ex = [&](double per_level) {
        return per_level > 0 ? number(viewer_exaggeration(p.cell_x, p.cell_y, per_level), 3) : std::string("-");
    };
    if (std::fabs(below - above) <= 1e-9 * std::max(below, above))
        line += number(above, 4) + " m per level; the viewer shows the relief " + ex(above) + " times exaggerated";
    else
        line += number(below, 4) + " m per level below the sea level, " + number(above, 4) + " above; the viewer shows the relief " +
                ex(below) + " and " + ex(above) + " times exaggerated";
    if (!h.src.z_in_metres || h.src.wkt.empty()) line += " (heights taken as metres)";
    notes.push_back(line);
}

}  // namespace

void report_import(const ImportOptions &o, const Heights &h, const LevelScale &scale, const Sidecar &sc,
                   const LevelCounts &n, std::vector<std::string> &notes) {
    std::string how = "heights " + number(scale.lo) + " to " + number(scale.hi) + " mapped onto levels -128 to 127";
    if (scale.per_level > 0)
        how = "heights " + number(scale.lo) + " to " + number(scale.hi) + " at " + number(scale.per_level * h.src.z_metres, 4) +
              " m per level (--exaggeration " + number(o.exaggeration) + ")";
    if (scale.has_sea)
        how += ", the sea level " + number(scale.sea) + " between levels -1 and 0" +
               (scale.per_level > 0 ? "" : " (each side scaled on its own)");
    if (scale.lo == scale.hi && !scale.has_sea && scale.per_level == 0)
        how = "every height is " + number(scale.lo) + ": the map is flat at level 0";
    if (h.src.map_levels && !o.has_range) notes.push_back(h.src.label + ": written by mvx export --heights: read as map levels");
    notes.push_back(h.src.label + ": " + std::to_string(h.src.w) + " x " + std::to_string(h.src.h) + ", " + how);
    const Placement &p = h.place;
    if (const std::string d = describe_placement(p, o.fit); !d.empty()) {
        const std::string ground =
            p.ground_w > 0 ? " (" + number(p.ground_w / 1000, 4) + " x " + number(p.ground_h / 1000, 4) + " km on the ground)" : "";
        notes.push_back(h.src.label + ground + ": " + d);
    }
    describe_scale(h, sc, notes);
    if (scale.per_level > 0)
        notes.push_back("--exaggeration " + number(o.exaggeration) + ": " + std::to_string(n.clamped) + " cells (" +
                        percent(n.clamped, grid_cells) + ") clamped at the ends of the level range");
    notes.push_back("sea: " + percent(n.sea, grid_cells) + " of the map (at or below " + number(sc.sea_level) +
                    (sc.metres ? " m" : "") + "); voids: " + percent(n.voids, grid_cells));
    if (const std::string hint = first_view_hint(h.field); !hint.empty()) notes.push_back(hint);
}

std::string first_view_hint(const Field &f) {
    const int x0 = start_xdeb, y0 = start_ydeb, x1 = std::min(f.w, x0 + patch_side), y1 = std::min(f.h, y0 + patch_side);
    long long data = 0;
    int lo_x = f.w, hi_x = -1, lo_y = f.h, hi_y = -1;
    // Each row's first and last data from its ends: a row full of data costs two looks.
    for (int y = 0; y < f.h; ++y) {
        const uint8_t *v = f.voids.data() + static_cast<size_t>(y) * f.w;
        int first = 0, last = f.w - 1;
        while (first < f.w && v[first]) ++first;
        if (first == f.w) continue;
        while (v[last]) --last;
        lo_x = std::min(lo_x, first), hi_x = std::max(hi_x, last), lo_y = std::min(lo_y, y), hi_y = y;
        if (y >= y0 && y < y1)
            for (int x = x0; x < x1; ++x) data += !v[x];
    }
    if (data > 0 || hi_x < 0) return "";
    // Keys move the view by 10 cells at zoom 1; aim its top-left corner at the nearest data.
    std::string keys;
    auto presses = [&](int from, int lo, int hi, char back, char ahead) {
        const int to = std::clamp(from, lo, std::max(lo, hi - patch_side + 1));
        const int n = (std::abs(to - from) + 9) / 10;
        if (n == 0) return;
        if (!keys.empty()) keys += " and ";
        keys += std::string("press ") + (to < from ? back : ahead) + " about " + std::to_string(n) + " times";
    };
    presses(x0, lo_x, hi_x, '4', '6');
    presses(y0, lo_y, hi_y, '8', '2');
    return "the viewer's first view (columns " + std::to_string(x0) + " to " + std::to_string(x0 + patch_side) + ", rows " +
           std::to_string(y0) + " to " + std::to_string(y0 + patch_side) + ") shows no data: the data lies in columns " +
           std::to_string(lo_x) + " to " + std::to_string(hi_x) + ", rows " + std::to_string(lo_y) + " to " +
           std::to_string(hi_y) + "; in the viewer " + keys + ", or import with --fit crop";
}
