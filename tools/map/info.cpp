// Map statistics for `mvx info`, and their report.
#include "info.h"

#include "cli.h"
#include "text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

const char info_summary[] = "check a map file: size, heights, water, unused colour bit";

const char info_usage[] =
    "usage: mvx info [MAP]\n"
    "\n"
    "Checks a map file (default datas.mvx): its size and whether it is complete,\n"
    "the height range and histogram, the share of water (heights below 0) and of\n"
    "voids, and whether colour bit 15 (ignored by the viewer) is used. With the\n"
    "sidecar MAP.json that import and generate write, also the source, coordinate\n"
    "system, bounds, metres per cell and per level, and the share of sea at or below\n"
    "the sea level. Exit status 1 when the file is not 75,497,472 bytes long.\n";

namespace {

}  // namespace

MapStats map_stats(const Map &m, long long bytes) {
    MapStats s;
    s.bytes = bytes;
    s.cells = std::min(bytes / 3, cellules);
    for (long long i = 0; i < s.cells; ++i) {
        ++s.count[m.height[i] + 128];
        s.bit15 += m.colour[i] >> 15;
        s.voids += is_void(m.colour[i], m.height[i]);
    }
    for (int k = 0; k < 128; ++k) s.water += s.count[k];
    const auto first = std::find_if(s.count.begin(), s.count.end(), [](long long c) { return c > 0; });
    const auto last = std::find_if(s.count.rbegin(), s.count.rend(), [](long long c) { return c > 0; });
    if (first != s.count.end()) {
        s.lo = static_cast<int>(first - s.count.begin()) - 128;
        s.hi = 127 - static_cast<int>(last - s.count.rbegin());
    }
    return s;
}

namespace {

std::string num(double v, int digits = 4) { return number(v, digits); }

std::string degrees(double v, char pos, char neg) {
    char b[40];
    std::snprintf(b, sizeof b, "%.4f %c", std::fabs(v), v < 0 ? neg : pos);
    return b;
}

// The lines a sidecar adds: where the map comes from, where it lies and at what scale.
std::string sidecar_lines(const MapStats &s, const Sidecar &sc) {
    std::string sources;
    for (const std::string &p : sc.sources) sources += (sources.empty() ? "" : ", ") + p;
    std::string r = "source: " + sources + " (" + sc.written_by + ")" + (sc.crs_name.empty() ? "" : ", " + sc.crs_name) + "\n";
    if (sc.has_bounds)
        r += "bounds: " + degrees(sc.west, 'E', 'W') + " to " + degrees(sc.east, 'E', 'W') + ", " +
             degrees(sc.south, 'N', 'S') + " to " + degrees(sc.north, 'N', 'S') + "\n";
    r += "data: columns " + std::to_string(sc.box_x0) + " to " + std::to_string(sc.box_x0 + sc.box_w - 1) + ", rows " +
         std::to_string(sc.box_y0) + " to " + std::to_string(sc.box_y0 + sc.box_h - 1) + "\n";
    const char *unit = sc.metres ? " m" : " units";
    std::string scale = "scale: ";
    if (sc.cell_x > 0) scale += num(sc.cell_x) + " m per cell across, " + num(sc.cell_y) + " m down; ";
    if (sc.per_level_below == sc.per_level_above) scale += num(sc.per_level_above) + unit + " per level";
    else scale += num(sc.per_level_below) + unit + " per level below level 0, " + num(sc.per_level_above) + " above";
    if (sc.cell_x > 0 && sc.metres && sc.per_level_above > 0)
        scale += "; the viewer shows the relief " + num(viewer_exaggeration(sc.cell_x, sc.cell_y, sc.per_level_above), 3) +
                 " times exaggerated";
    if (sc.nominal) scale += " (nominal: the world is no real place)";
    r += scale + "\n";
    long long sea = 0;
    for (int k = 0; k < 256; ++k)
        if (is_sea_level(sc, k - 128)) sea += s.count[k];
    if (is_sea_level(sc, 0)) sea -= s.voids;
    r += "sea (at or below " + num(sc.sea_level) + unit + "): " + percent(sea, s.cells) + " of cells\n";
    return r;
}

}  // namespace

std::string format_info(const std::string &path, const MapStats &s, const Sidecar *sc) {
    std::string r = path + ": " + grouped(s.bytes) + " bytes, ";
    if (s.complete()) r += "complete (" + std::to_string(colonnes) + " x " + std::to_string(lignes) + " cells)\n";
    else if (s.bytes > taille_grille) r += grouped(s.bytes - taille_grille) + " more than a map of " + grouped(taille_grille) + "; the viewer ignores the rest\n";
    else r += "incomplete: " + grouped(s.cells) + " of " + grouped(cellules) + " cells (" +
              std::to_string(s.cells / colonnes) + " whole rows of " + std::to_string(lignes) + ")\n";
    if (s.cells == 0) return r;
    r += "heights: " + std::to_string(s.lo) + " to " + std::to_string(s.hi) + "\n";
    // With a sidecar the sea is known from the real heights; without one, water is what lies below 0.
    r += (sc ? "levels below 0: " : "water (below 0): ") + percent(s.water, s.cells) + " of cells\n";
    r += "voids: " + percent(s.voids, s.cells) + " of cells\n";
    if (sc) r += sidecar_lines(s, *sc);
    r += "colour bit 15: " + (s.bit15 ? "set in " + grouped(s.bit15) + " cells (the viewer ignores it)" : std::string("unused")) + "\n";
    r += "histogram, cells per 16 levels:\n";
    long long top = 1;
    long long bins[16] = {};
    for (int k = 0; k < 256; ++k) bins[k / 16] += s.count[k];
    for (long long b : bins) top = std::max(top, b);
    for (int b = 0; b < 16; ++b) {
        char line[128];
        std::snprintf(line, sizeof line, "  %4d to %4d %6s ", b * 16 - 128, b * 16 - 113, percent(bins[b], s.cells).c_str());
        r += line + std::string(static_cast<size_t>((bins[b] * 40 + top - 1) / top), '#') + "\n";
    }
    return r;
}

Status parse_info(int argc, char **argv, InfoOptions &o, bool &help) {
    bool have_map = false;
    return parse_options("info", argc, argv, {}, [&](const char *a) {
        if (have_map) return Status::fail("info: one map only ('" + o.map + "' and '" + a + "')");
        o.map = a;
        have_map = true;
        return Status{};
    }, help);
}

Status map_info(const InfoOptions &o, std::string &report) {
    Map m;
    long long bytes = 0;
    if (Status st = read_map(o.map, m, bytes); !st.ok) return st;
    const MapStats s = map_stats(m, bytes);
    Sidecar sc;
    bool found = false;
    const Status side = read_sidecar(o.map, sc, found);
    report = format_info(o.map, s, side.ok && found ? &sc : nullptr);
    if (!side.ok) report += "sidecar ignored: " + side.why + "\n";
    if (!s.complete())
        return Status::fail(o.map + ": " + std::to_string(bytes) + " bytes, not " + std::to_string(taille_grille) +
                            ": not a complete map");
    return {};
}
