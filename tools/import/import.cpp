// The import pipeline: options, the heights read into the grid, levels, colours, the summary and the sidecar.
#include "import.h"

#include "cli.h"
#include "export.h"
#include "imagery.h"
#include "inputs.h"
#include "levels.h"
#include "parallel.h"
#include "relief.h"
#include "view.h"
#include "text.h"
#include "voids.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

const char import_summary[] = "make a map from elevation data: GeoTIFF, netCDF and other rasters, tiles, raw .r16";

const char import_usage[] =
    "usage: mvx import HEIGHTS... [-o FILE] [--input-list LIST] [--colour IMAGE [--bands R,G,B]]\n"
    "                  [--fit pad|crop|stretch] [--bounds WEST,SOUTH,EAST,NORTH]\n"
    "                  [--range MIN:MAX] [--sea-level H] [--exaggeration X]\n"
    "                  [--resample average|bilinear|cubic|nearest] [--size WxH]\n"
    "                  [--max-memory MIB] [-q]\n"
    "\n"
    "Makes a map from elevation data. HEIGHTS is a raster in one of the formats below\n"
    "(GeoTIFF and COG of any compression, SRTM .hgt, ESRI ASCII grid, netCDF, VRT,\n"
    "Erdas IMG, 8/16-bit PNG, ...), zipped, gzipped or in a tar archive too\n"
    "(N36W085.hgt.zip), or a headerless .r16 (16-bit little-endian, square unless\n"
    "--size WxH). Several HEIGHTS (tiles: a shell glob such as ./*.tif or -- *.tif, a\n"
    "directory of them, or a list) make one map of their union, placed by their\n"
    "georeferencing; tiles in another coordinate system than the first are warped\n"
    "into it; gaps between them are voids. A directory stands for every file in it\n"
    "and below, GDAL's companions (.aux.xml, .ovr, .prj, world files ...) left out,\n"
    "and entries that lead nowhere skipped with a note. A file named twice, by any\n"
    "path or link, is read once. At most 100,000 files in all. mvx reads local files\n"
    "only: network sources are refused, however they are named or nested, and so are\n"
    "FIFOs, devices and system files (/proc, /sys, /dev), raw data shorter than its\n"
    "header says, HDF5 and netCDF-4 data kept in other files, and images that a\n"
    "decoder would expand whole into more than 256 MiB. Inputs are never written to.\n"
    "\n"
    "The inputs are read in a child process that the kernel confines, so that a file\n"
    "from a stranger cannot make mvx write, connect, read elsewhere, swell or hang:\n"
    "it may read only the inputs, the files beside them that they bring along\n"
    "(.aux.xml, .prj, world files, headers), those their VRTs name, and GDAL's and\n"
    "PROJ's data; it writes, creates and removes nothing, opens no socket, starts no\n"
    "program, uses at most --max-memory, and is stopped when it finishes no read for\n"
    "60 s. This takes Linux's Landlock (5.13 or later; 6.7 for TCP, 6.12 for signals)\n"
    "and seccomp; where the kernel lacks one, mvx says so and goes on with the rest\n"
    "('mvx --version' says what holds here). The sidecar lists every file read, and\n"
    "the summary names those outside the inputs' folders.\n"
    "\n"
    "Each tile is read once, at its own resolution (or at the overview that still\n"
    "has two samples a cell), straight into the map: shrinking takes the area\n"
    "average of the samples each cell covers; enlarging interpolates with a cubic\n"
    "(Keys), whose surface has no bends at the samples, each height held within the\n"
    "samples around its cell; voids (NoData, masks, NaN) are left out of both, and a\n"
    "cell is a void only where no valid input covers it. The summary says which.\n"
    "Inputs that would need more than 2^37 samples read, or tiles that together\n"
    "cover the map more than 256 times over, are refused: build overviews (gdaladdo)\n"
    "first, or name each tile once.\n"
    "\n"
    "North is up; the map keeps the input's proportions on the ground (longitude\n"
    "scaled by the cosine of the latitude, projected units as they are; pixel\n"
    "proportions without georeferencing). Heights are mapped onto the levels\n"
    "-128 ... 127, minimum to maximum; the sea level (default 0 in the input's units)\n"
    "lies on a level boundary, so that a level is all sea or all land: when the\n"
    "heights reach below and above it, at or below it is -128 ... -1 and above it\n"
    "0 ... 127, each side scaled on its own. Colours follow the real heights: sea\n"
    "only at or below the sea level, the light baked in from the north-west with\n"
    "slopes as steep as on the ground.\n"
    "\n"
    "Voids, and the margins a fit leaves, are dark grey at the height of the nearest\n"
    "data, so that the data ends in a flat apron; colour bit 15 marks them.\n"
    "\n"
    "  -o FILE          output map (default datas.mvx), and FILE.json beside it saying\n"
    "                   what the map stands for; written whole or not at all, an\n"
    "                   existing FILE is untouched when the import fails; never\n"
    "                   over an input, a directory, a device or a file that is\n"
    "                   not a map (neither empty nor 75,497,472 bytes); a symlink\n"
    "                   given as FILE is written through, but a default datas.mvx\n"
    "                   or a FILE.json that is a symlink is refused; a replaced\n"
    "                   file keeps its mode\n"
    "  --input-list LIST\n"
    "                   the files to import, one a line (- for standard input;\n"
    "                   blank lines and # comments skipped), for sets too large\n"
    "                   for the command line: at most 100,000 lines, each at most\n"
    "                   4,096 bytes\n"
    "  --colour IMAGE   colours from an image GDAL reads (8 or 16-bit, dithered);\n"
    "                   placed by its georeferencing when both have one, else\n"
    "                   stretched over the heights; tints fill where it has no data\n"
    "  --bands R,G,B    the image's bands for red, green and blue (default its own)\n"
    "  --fit MODE       pad (default): all of the input, centred, void margins;\n"
    "                   crop: fill the map, cutting the longer side; stretch: fill\n"
    "                   the map, ignoring proportions\n"
    "  --bounds W,S,E,N only this region, in degrees of longitude and latitude\n"
    "  --range MIN:MAX  input heights put at -128 and 127; values outside are clamped\n"
    "  --sea-level H    input height H is the sea level: MIN ... H maps onto\n"
    "                   -128 ... -1 and what lies above H onto 0 ... 127, each side\n"
    "                   on its own\n"
    "  --exaggeration X levels for X times the true relief (one level is a third of a\n"
    "                   cell's width, as the viewer draws it) instead of MIN ... MAX,\n"
    "                   centred on the sea level or the middle of the heights; what\n"
    "                   falls outside -128 ... 127 is clamped, and counted\n"
    "  --resample ALG   average, bilinear, cubic or nearest instead of the above\n"
    "                   (bilinear: the surface bends at every sample)\n"
    "  --size WxH       width and height of a .r16 file\n"
    "  --max-memory MIB the most memory the reader may take (default 1024); past it\n"
    "                   the import fails, naming the file it was reading\n"
    "  -q, --quiet      nothing on standard output or error unless it fails: no\n"
    "                   progress, no summary\n"
    "\n"
    "A PNG written by 'mvx export --heights' is read as map levels (0 ... 65535 is\n"
    "-128 ... 127), so export then import gives the same heights back.\n";

namespace {

// Metres of height below and above the sea level that the deepest and highest tints stand for,
// when the heights are in metres: the tints then mean the same everywhere, as on a printed map,
// spread by the square root so that lowlands (a few hundred metres) get tints of their own.
constexpr double tint_land_metres = 5000, tint_sea_metres = 6000;

std::string num(double v, int digits = 6) { return number(v, digits); }

Status parse_size(const char *v, int &w, int &h) {
    const std::string s = v;
    const size_t x = s.find('x');
    if (x == std::string::npos) return Status::fail(std::string("--size: '") + v + "' is not WxH");
    long long a = 0, b = 0;
    if (Status st = parse_int("--size", s.substr(0, x).c_str(), 1, 0x7fffffff, a); !st.ok) return st;
    if (Status st = parse_int("--size", s.substr(x + 1).c_str(), 1, 0x7fffffff, b); !st.ok) return st;
    w = static_cast<int>(a);
    h = static_cast<int>(b);
    return {};
}

// The value of the choice named `v`, or a failure listing the names.
template <class T>
Status parse_choice(const char *opt, const char *v, std::initializer_list<std::pair<const char *, T>> choices, T &out) {
    std::string all;
    for (const auto &[name, value] : choices) {
        if (!std::strcmp(v, name)) {
            out = value;
            return {};
        }
        all += all.empty() ? name : std::string(", ") + name;
    }
    return Status::fail(std::string(opt) + ": '" + v + "' is not one of " + all);
}

// The sea level in the input's units: the one given; for map levels, between levels -1 and 0.
double sea_level(const ImportOptions &o, const HeightSource &src) {
    if (o.has_sea) return o.sea;
    return src.levels ? 128 * 257 - 257 / 2.0 : 0;
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

// The summary's lines on the scale: metres per cell and per level, and how the viewer exaggerates.
void describe_scale(const Heights &h, const Sidecar &sc, std::vector<std::string> &notes) {
    const Placement &p = h.place;
    if (p.cell_x <= 0) {
        notes.push_back("scale: not georeferenced, so metres per cell are unknown; slopes are shaded on the viewer's "
                        "scale (a cell is 3 levels wide)");
        return;
    }
    const double below = sc.per_level_below * h.src.z_metres, above = sc.per_level_above * h.src.z_metres;
    std::string line = "scale: " + num(p.cell_x, 4) + " m per cell across, " + num(p.cell_y, 4) + " m down; ";
    auto ex = [&](double per_level) {
        return per_level > 0 ? num(viewer_exaggeration(p.cell_x, p.cell_y, per_level), 3) : std::string("-");
    };
    if (std::fabs(below - above) <= 1e-9 * std::max(below, above))
        line += num(above, 4) + " m per level; the viewer shows the relief " + ex(above) + " times exaggerated";
    else
        line += num(below, 4) + " m per level below the sea level, " + num(above, 4) + " above; the viewer shows the relief " +
                ex(below) + " and " + ex(above) + " times exaggerated";
    if (!h.src.z_in_metres || h.src.wkt.empty()) line += " (heights taken as metres)";
    notes.push_back(line);
}

}  // namespace

std::vector<std::string> import_sources(const ImportOptions &o) {
    std::vector<std::string> s = o.heights;
    if (!o.input_list.empty()) s.push_back("the files listed in " + (o.input_list == "-" ? "standard input" : o.input_list));
    if (!o.colour.empty()) s.push_back(o.colour);
    return s;
}

std::vector<std::string> import_inputs(const ImportOptions &o) {
    std::vector<std::string> in = o.heights;
    if (!o.input_list.empty() && o.input_list != "-") in.push_back(o.input_list);
    if (!o.colour.empty()) in.push_back(o.colour);
    return in;
}

Status parse_import(int argc, char **argv, ImportOptions &o, bool &help) {
    const std::vector<Option> options = {
        {"-o", true, [&](const char *v) { o.out = v, o.out_links = Links::follow; return Status{}; }},
        {"--input-list", true, [&](const char *v) { o.input_list = v; return Status{}; }},
        {"--colour", true, [&](const char *v) { o.colour = v; return Status{}; }},
        {"--bands", true, [&](const char *v) {
             std::vector<double> b;
             if (Status st = parse_reals("--bands", v, ',', 3, b); !st.ok) return st;
             o.bands.clear();
             for (double x : b) {
                 if (x < 1 || x > 65535 || x != std::floor(x))
                     return Status::fail(std::string("--bands: '") + v + "': bands are whole numbers from 1");
                 o.bands.push_back(static_cast<int>(x));
             }
             return Status{};
         }},
        {"--size", true, [&](const char *v) { return parse_size(v, o.size_w, o.size_h); }},
        {"--range", true, [&](const char *v) {
             std::vector<double> r;
             if (Status st = parse_reals("--range", v, ':', 2, r); !st.ok) return st;
             if (!(r[0] < r[1])) return Status::fail(std::string("--range: '") + v + "': MIN must be below MAX");
             o.has_range = true, o.range_lo = r[0], o.range_hi = r[1];
             return Status{};
         }},
        {"--sea-level", true, [&](const char *v) {
             o.has_sea = true;
             return parse_real("--sea-level", v, o.sea);
         }},
        {"--exaggeration", true, [&](const char *v) {
             if (Status st = parse_real("--exaggeration", v, o.exaggeration); !st.ok) return st;
             if (!(o.exaggeration > 0 && o.exaggeration <= 1e6))
                 return Status::fail(std::string("--exaggeration: ") + v + " is out of range: it must be above 0, at most 1e6");
             return Status{};
         }},
        {"--fit", true, [&](const char *v) {
             return parse_choice<FitMode>("--fit", v, {{"pad", FitMode::pad}, {"crop", FitMode::crop}, {"stretch", FitMode::stretch}},
                                          o.fit);
         }},
        {"--bounds", true, [&](const char *v) {
             std::vector<double> b;
             if (Status st = parse_reals("--bounds", v, ',', 4, b); !st.ok) return st;
             if (!(b[0] < b[2] && b[1] < b[3] && b[1] >= -90 && b[3] <= 90))
                 return Status::fail(std::string("--bounds: '") + v +
                                     "': WEST must be below EAST and SOUTH below NORTH, latitudes within -90 ... 90");
             o.has_bounds = true, o.bounds = {b[0], b[1], b[2], b[3]};
             return Status{};
         }},
        {"--resample", true, [&](const char *v) {
             return parse_choice<Resampling>("--resample", v,
                                             {{"average", Resampling::average}, {"bilinear", Resampling::bilinear},
                                              {"cubic", Resampling::cubic}, {"nearest", Resampling::nearest}},
                                             o.resample);
         }},
        {"--max-memory", true, [&](const char *v) {
             long long mib = 0;
             if (Status st = parse_int("--max-memory", v, 128, 1 << 20, mib); !st.ok) return st;
             o.max_memory = static_cast<uint64_t>(mib) << 20;
             return Status{};
         }},
        quiet_option(o.quiet),
    };
    Status st = parse_options("import", argc, argv, options, [&](const char *a) {
        o.heights.push_back(a);
        return Status{};
    }, help);
    if (st.ok && !help && o.heights.empty() && o.input_list.empty())
        return Status::fail("import: no height file given (see mvx import --help)");
    if (st.ok && o.size_w > 0 && o.heights.size() > 1) return Status::fail("--size: only for one .r16 file");
    return st;
}

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

std::string first_view_hint(const Field &f) {
    const int x0 = xdeb_depart, y0 = ydeb_depart, x1 = std::min(f.w, x0 + cote), y1 = std::min(f.h, y0 + cote);
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
        const int to = std::clamp(from, lo, std::max(lo, hi - cote + 1));
        const int n = (std::abs(to - from) + 9) / 10;
        if (n == 0) return;
        if (!keys.empty()) keys += " and ";
        keys += std::string("press ") + (to < from ? back : ahead) + " about " + std::to_string(n) + " times";
    };
    presses(x0, lo_x, hi_x, '4', '6');
    presses(y0, lo_y, hi_y, '8', '2');
    return "the viewer's first view (columns " + std::to_string(x0) + " to " + std::to_string(x0 + cote) + ", rows " +
           std::to_string(y0) + " to " + std::to_string(y0 + cote) + ") shows no data: the data lies in columns " +
           std::to_string(lo_x) + " to " + std::to_string(hi_x) + ", rows " + std::to_string(lo_y) + " to " +
           std::to_string(hi_y) + "; in the viewer " + keys + ", or import with --fit crop";
}

namespace {

// The levels: from the heights' range (or the one given, or declared by the file), at a chosen
// exaggeration when asked.
Status choose_levels(const ImportOptions &o, const Heights &h, double sea, LevelScale &scale) {
    const RangeChoice range{o.has_range, o.range_lo, o.range_hi, h.src.levels && !o.has_range};
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
        covered.assign(cellules, 0);
        if (Status st = read_imagery(o.colour, o.bands, h.src, h.place, m.colour, covered, notes); !st.ok) return st;
    }
    report(0.7);
    if (!covered.empty() && std::find(covered.begin(), covered.end(), 0) == covered.end()) return {};
    const std::vector<uint16_t> image = covered.empty() ? std::vector<uint16_t>() : m.colour;
    const Field &f = h.field;
    colour_relief(f.z.data(), colonnes, lignes, m.colour.data(), f.voids.data(), relief_for(h, scale, sea), 0,
                  [&](double d) { report(0.7 + 0.25 * d); });
    for (size_t i = 0; i < covered.size(); ++i)
        if (covered[i] && !f.voids[i]) m.colour[i] = image[i];
    return {};
}

struct Counts {
    std::atomic<long long> sea{0}, voids{0}, clamped{0};
};

// The heights as levels, voids in their own colour at the level of the data nearest them (the
// heights they were given); what is sea, void, or clamped.
void level_map(const Field &f, const LevelScale &scale, double sea, Map &m, Counts &n) {
    parallel_rows(lignes, [&](int y0, int y1) {
        long long sea_cells = 0, voids = 0, clamped = 0;
        for (long long i = 1LL * y0 * colonnes; i < 1LL * y1 * colonnes; ++i) {
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

// The summary: the input and its range, how it was placed, the scale, sea and voids, and how to
// find the data from the viewer's first view.
void summarise(const ImportOptions &o, const Heights &h, const LevelScale &scale, const Sidecar &sc, const Counts &n,
               std::vector<std::string> &notes) {
    std::string how = "heights " + num(scale.lo) + " to " + num(scale.hi) + " mapped onto levels -128 to 127";
    if (scale.per_level > 0)
        how = "heights " + num(scale.lo) + " to " + num(scale.hi) + " at " + num(scale.per_level * h.src.z_metres, 4) +
              " m per level (--exaggeration " + num(o.exaggeration) + ")";
    if (scale.has_sea)
        how += ", the sea level " + num(scale.sea) + " between levels -1 and 0" +
               (scale.per_level > 0 ? "" : " (each side scaled on its own)");
    if (scale.lo == scale.hi && !scale.has_sea && scale.per_level == 0)
        how = "every height is " + num(scale.lo) + ": the map is flat at level 0";
    if (h.src.levels && !o.has_range) notes.push_back(h.src.label + ": written by mvx export --heights: read as map levels");
    notes.push_back(h.src.label + ": " + std::to_string(h.src.w) + " x " + std::to_string(h.src.h) + ", " + how);
    const Placement &p = h.place;
    if (const std::string d = describe_placement(p, o.fit); !d.empty()) {
        const std::string ground =
            p.ground_w > 0 ? " (" + num(p.ground_w / 1000, 4) + " x " + num(p.ground_h / 1000, 4) + " km on the ground)" : "";
        notes.push_back(h.src.label + ground + ": " + d);
    }
    describe_scale(h, sc, notes);
    if (scale.per_level > 0)
        notes.push_back("--exaggeration " + num(o.exaggeration) + ": " + std::to_string(n.clamped) + " cells (" +
                        percent(n.clamped, cellules) + ") clamped at the ends of the level range");
    notes.push_back("sea: " + percent(n.sea, cellules) + " of the map (at or below " + num(sc.sea_level) +
                    (sc.metres ? " m" : "") + "); voids: " + percent(n.voids, cellules));
    if (const std::string hint = first_view_hint(h.field); !hint.empty()) notes.push_back(hint);
}

}  // namespace

Status import_map(const ImportOptions &o, Map &m, Sidecar &sc, std::vector<std::string> &notes,
                  const std::function<void(double)> &progress) {
    auto report = [&](double f) {
        if (progress) progress(f);
    };
    Heights h;
    if (Status st = read_import(o, colonnes, lignes, h, notes, [&](double f) { report(0.6 * f); }); !st.ok) return st;
    // Before levels and colours: the light then sees no cliff where the data ends.
    fill_voids_from_nearest(h.field);
    LevelScale scale;
    const double sea = sea_level(o, h.src);
    if (Status st = choose_levels(o, h, sea, scale); !st.ok) return st;
    if (Status st = colour_map(o, h, scale, sea, m, notes, report); !st.ok) return st;
    Counts n;
    level_map(h.field, scale, sea, m, n);
    report(1);
    sc = sidecar_for(o, h, scale, sea);
    summarise(o, h, scale, sc, n, notes);
    return {};
}
