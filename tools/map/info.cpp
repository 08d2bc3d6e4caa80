// Map statistics for `mvx info`, the facts drawn from them, and their two renderings: text and JSON.
#include "map/info.h"

#include "common/cli.h"
#include "common/json.h"
#include "common/text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

const char info_summary[] = "check a map file: size, heights, water, voids";

const char info_usage[] =
    "usage: mvx info [MAP] [--json]\n"
    "\n"
    "Checks a map file (default datas.mvx): its size and whether it is complete,\n"
    "the height range and histogram, the share of water (heights below 0, voids\n"
    "aside) and of voids, and the use of colour bit 15, which the viewer ignores\n"
    "and which marks voids (a map without the mark has them magenta at height 0).\n"
    "With the sidecar MAP.json that import and generate write, also the source,\n"
    "coordinate system, bounds, metres per cell and per level, and the share of sea\n"
    "at or below the sea level. Exit status 1 when the file is not 75,497,472 bytes\n"
    "long.\n"
    "\n"
    "  --json                   the same facts as one JSON object, for scripts\n"
    "\n"
    "The JSON object's keys (a share is a fraction of the cells, 0 ... 1; numbers\n"
    "that are not finite are null):\n"
    "\n"
    "  map                      the file as named\n"
    "  bytes                    its size\n"
    "  complete                 whether it is exactly one map long\n"
    "  cells                    the whole cells it holds\n"
    "  heights                  {min, max} over those cells; null when none\n"
    "  water                    {cells, share}: cells below level 0, voids aside\n"
    "  voids                    {cells, share}: cells without data\n"
    "  bit15                    {cells}: cells whose colour has bit 15 set (the\n"
    "                           mark of voids)\n"
    "  histogram                16 of {from, to, cells, share}, levels -128 ... -113\n"
    "                           first\n"
    "  sidecar                  what MAP.json says, null without one:\n"
    "  sidecar.written_by       the command that wrote the map\n"
    "  sidecar.sources          the inputs, as named\n"
    "  sidecar.read             every file read to make the map: the inputs and\n"
    "                           what they brought along (companions, sources of\n"
    "                           VRTs, archive members); empty when not recorded\n"
    "  sidecar.crs              the coordinate system's name; null when none\n"
    "  sidecar.bounds           {west, south, east, north} in degrees; null when\n"
    "                           not known\n"
    "  sidecar.box              {x0, y0, width, height}: the cells the data fills\n"
    "  sidecar.metres_per_cell  {across, down}; null when not known\n"
    "  sidecar.nominal          whether that scale is made up (a generated world)\n"
    "  sidecar.height_unit      \"metre\" or \"input unit\"\n"
    "  sidecar.per_level        {below_0, above_0}: height units a level stands for\n"
    "  sidecar.exaggeration     how many times the viewer exaggerates the relief;\n"
    "                           null when not known\n"
    "  sidecar.sea_level        heights at or below it are sea\n"
    "  sidecar.sea              {cells, share}: cells of sea, voids aside\n"
    "  sidecar_error            why MAP.json could not be read; null when it was\n";

MapStats map_stats(const Map &m, long long bytes) {
    MapStats s;
    s.bytes = bytes;
    s.cells = std::min(bytes / 3, grid_cells);
    for (long long i = 0; i < s.cells; ++i) {
        ++s.count[m.height[i] + 128];
        s.bit15 += m.colour[i] >> 15;
        s.voids_at[m.height[i] + 128] += is_void(m.colour[i], m.height[i]);
    }
    for (int k = 0; k < 256; ++k) s.voids += s.voids_at[k];
    for (int k = 0; k < 128; ++k) s.water += s.count[k] - s.voids_at[k];
    const auto first = std::find_if(s.count.begin(), s.count.end(), [](long long c) { return c > 0; });
    const auto last = std::find_if(s.count.rbegin(), s.count.rend(), [](long long c) { return c > 0; });
    if (first != s.count.end()) {
        s.lo = static_cast<int>(first - s.count.begin()) - 128;
        s.hi = 127 - static_cast<int>(last - s.count.rbegin());
    }
    return s;
}

InfoFacts info_facts(const std::string &path, const MapStats &s, const Sidecar *sc) {
    InfoFacts f;
    f.path = path;
    f.stats = s;
    for (int k = 0; k < 256; ++k) f.bins[k / 16] += s.count[k];
    if (!sc) return f;
    f.has_sidecar = true;
    f.sidecar = *sc;
    for (int k = 0; k < 256; ++k)
        if (is_sea_level(*sc, k - 128)) f.sea += s.count[k] - s.voids_at[k];
    if (sc->cell_x > 0 && sc->metres && sc->per_level_above > 0)
        f.exaggeration = viewer_exaggeration(sc->cell_x, sc->cell_y, sc->per_level_above);
    return f;
}

namespace {

std::string degrees(double v, char pos, char neg) {
    char b[40];
    std::snprintf(b, sizeof b, "%.4f %c", std::fabs(v), v < 0 ? neg : pos);
    return b;
}

// The lines a sidecar adds: where the map comes from, where it lies and at what scale.
std::string sidecar_lines(const InfoFacts &f) {
    const Sidecar &sc = f.sidecar;
    std::string sources;
    for (const std::string &p : sc.sources) sources += (sources.empty() ? "" : ", ") + printable(p);
    std::string r = "source: " + sources + " (" + printable(sc.written_by) + ")" +
                    (sc.crs_name.empty() ? "" : ", " + printable(sc.crs_name)) + "\n";
    std::vector<std::string> also;
    for (const std::string &p : sc.read)
        if (std::find(sc.sources.begin(), sc.sources.end(), p) == sc.sources.end()) also.push_back(p);
    if (!also.empty())
        r += "also read: " + printable(also[0]) + (also.size() > 1 ? " and " + std::to_string(also.size() - 1) + " more files" : "") + "\n";
    if (sc.has_bounds)
        r += "bounds: " + degrees(sc.west, 'E', 'W') + " to " + degrees(sc.east, 'E', 'W') + ", " +
             degrees(sc.south, 'N', 'S') + " to " + degrees(sc.north, 'N', 'S') + "\n";
    r += "data: columns " + std::to_string(sc.box_x0) + " to " + std::to_string(sc.box_x0 + sc.box_w - 1) + ", rows " +
         std::to_string(sc.box_y0) + " to " + std::to_string(sc.box_y0 + sc.box_h - 1) + "\n";
    const char *unit = sc.metres ? " m" : " units";
    std::string scale = "scale: ";
    if (sc.cell_x > 0) scale += number(sc.cell_x, 4) + " m per cell across, " + number(sc.cell_y, 4) + " m down; ";
    if (sc.per_level_below == sc.per_level_above) scale += number(sc.per_level_above, 4) + unit + " per level";
    else scale += number(sc.per_level_below, 4) + unit + " per level below level 0, " + number(sc.per_level_above, 4) + " above";
    if (f.exaggeration > 0) scale += "; the viewer shows the relief " + number(f.exaggeration, 3) + " times exaggerated";
    if (sc.nominal) scale += " (nominal: the world is no real place)";
    r += scale + "\n";
    r += "sea (at or below " + number(sc.sea_level, 4) + unit + "): " + percent(f.sea, f.stats.cells) + " of cells\n";
    return r;
}

}  // namespace

std::string format_info(const InfoFacts &f) {
    const MapStats &s = f.stats;
    // Names and the sidecar's strings are strangers' bytes: escaped, so that each stays on its line.
    std::string r = printable(f.path) + ": " + grouped(s.bytes) + " bytes, ";
    if (s.complete()) r += "complete (" + std::to_string(grid_columns) + " x " + std::to_string(grid_rows) + " cells)\n";
    else if (s.bytes > grid_bytes) r += grouped(s.bytes - grid_bytes) + " more than a map of " + grouped(grid_bytes) + "; the viewer ignores the rest\n";
    else r += "incomplete: " + grouped(s.cells) + " of " + grouped(grid_cells) + " cells (" +
              std::to_string(s.cells / grid_columns) + " whole rows of " + std::to_string(grid_rows) + ")\n";
    if (s.cells > 0) {
        r += "heights: " + std::to_string(s.lo) + " to " + std::to_string(s.hi) + "\n";
        // With a sidecar the sea is known from the real heights; without one, water is what lies below 0.
        r += (f.has_sidecar ? "levels below 0: " : "water (below 0): ") + percent(s.water, s.cells) + " of cells\n";
        r += "voids: " + percent(s.voids, s.cells) + " of cells\n";
        if (f.has_sidecar) r += sidecar_lines(f);
        r += "colour bit 15: " + (s.bit15 ? "set in " + grouped(s.bit15) + " cells (voids; the viewer ignores it)" : std::string("unused")) + "\n";
        r += "histogram, cells per 16 levels:\n";
        const long long top = std::max(1LL, *std::max_element(f.bins.begin(), f.bins.end()));
        for (int b = 0; b < 16; ++b) {
            char line[128];
            std::snprintf(line, sizeof line, "  %4d to %4d %6s ", b * 16 - 128, b * 16 - 113, percent(f.bins[b], s.cells).c_str());
            r += line + std::string(static_cast<size_t>((f.bins[b] * 40 + top - 1) / top), '#') + "\n";
        }
    }
    if (!f.sidecar_error.empty()) r += "sidecar ignored: " + printable(f.sidecar_error) + "\n";
    return r;
}

namespace {

// {cells, share}: a count and its fraction of the map's cells.
std::string json_share(long long part, long long whole) {
    return json_object({{"cells", json_int(part)}, {"share", json_number(whole ? static_cast<double>(part) / whole : 0.0)}},
                       true);
}

std::string json_sidecar(const InfoFacts &f) {
    const Sidecar &sc = f.sidecar;
    std::vector<std::string> sources, read;
    for (const std::string &p : sc.sources) sources.push_back(json_string(p));
    for (const std::string &p : sc.read) read.push_back(json_string(p));
    return json_object({
        {"written_by", json_string(sc.written_by)},
        {"sources", json_array(sources)},
        {"read", json_array(read)},
        {"crs", sc.crs_name.empty() ? json_null() : json_string(sc.crs_name)},
        {"bounds", sc.has_bounds ? json_object({{"west", json_number(sc.west)}, {"south", json_number(sc.south)},
                                                {"east", json_number(sc.east)}, {"north", json_number(sc.north)}},
                                               true)
                                 : json_null()},
        {"box", json_object({{"x0", json_int(sc.box_x0)}, {"y0", json_int(sc.box_y0)}, {"width", json_int(sc.box_w)},
                             {"height", json_int(sc.box_h)}},
                            true)},
        {"metres_per_cell",
         sc.cell_x > 0 ? json_object({{"across", json_number(sc.cell_x)}, {"down", json_number(sc.cell_y)}}, true) : json_null()},
        {"nominal", json_bool(sc.nominal)},
        {"height_unit", json_string(sc.metres ? "metre" : "input unit")},
        {"per_level", json_object({{"below_0", json_number(sc.per_level_below)}, {"above_0", json_number(sc.per_level_above)}},
                                  true)},
        {"exaggeration", f.exaggeration > 0 ? json_number(f.exaggeration) : json_null()},
        {"sea_level", json_number(sc.sea_level)},
        {"sea", json_share(f.sea, f.stats.cells)},
    });
}

}  // namespace

std::string info_json(const InfoFacts &f) {
    const MapStats &s = f.stats;
    std::vector<std::string> bins;
    for (int b = 0; b < 16; ++b)
        bins.push_back(json_object({{"from", json_int(b * 16 - 128)}, {"to", json_int(b * 16 - 113)},
                                    {"cells", json_int(f.bins[b])},
                                    {"share", json_number(s.cells ? static_cast<double>(f.bins[b]) / s.cells : 0.0)}},
                                   true));
    return json_object({
               {"map", json_string(f.path)},
               {"bytes", json_int(s.bytes)},
               {"complete", json_bool(s.complete())},
               {"cells", json_int(s.cells)},
               {"heights", s.cells ? json_object({{"min", json_int(s.lo)}, {"max", json_int(s.hi)}}, true) : json_null()},
               {"water", json_share(s.water, s.cells)},
               {"voids", json_share(s.voids, s.cells)},
               {"bit15", json_object({{"cells", json_int(s.bit15)}}, true)},
               {"histogram", json_array(bins)},
               {"sidecar", f.has_sidecar ? json_sidecar(f) : json_null()},
               {"sidecar_error", f.sidecar_error.empty() ? json_null() : json_string(f.sidecar_error)},
           }) +
           "\n";
}

Status parse_info(int argc, char **argv, InfoOptions &o, bool &help) {
    bool have_map = false;
    const std::vector<Option> options = {
        {"--json", false, [&](const char *) { o.json = true; return Status{}; }},
    };
    return parse_options("info", argc, argv, options, [&](const char *a) {
        if (have_map) return Status::fail("info: one map only ('" + o.map + "' and '" + a + "')");
        o.map = a;
        have_map = true;
        return Status{};
    }, help);
}

Status check_complete(const std::string &path, long long bytes) {
    if (bytes == grid_bytes) return {};
    return Status::fail(path + ": " + std::to_string(bytes) + " bytes, not " + std::to_string(grid_bytes) +
                        ": not a complete map");
}

Status map_info(const InfoOptions &o, std::string &report) {
    Map m;
    long long bytes = 0;
    if (Status st = read_map(o.map, m, bytes); !st.ok) return st;
    Sidecar sc;
    bool found = false;
    const Status side = read_sidecar(o.map, sc, found);
    InfoFacts f = info_facts(o.map, map_stats(m, bytes), side.ok && found ? &sc : nullptr);
    if (!side.ok) f.sidecar_error = side.why;
    report = o.json ? info_json(f) : format_info(f);
    return check_complete(o.map, bytes);
}
