// mvx import's options: its usage text, and the command line parsed into ImportOptions.
#include "import/import_options.h"

#include "common/cli.h"

#include <cmath>
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
    "PROJ's data; it opens no file to write (the map goes into pages mvx maps for\n"
    "it), creates and removes nothing, opens no socket, starts no program, uses at\n"
    "most --max-memory, and is stopped when it finishes no read for 60 s. This takes\n"
    "Linux's Landlock (5.13 or later; 6.7 for TCP, 6.12 for signals) and seccomp;\n"
    "where the kernel lacks one, mvx says so and goes on with the rest\n"
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

Status parse_bands(const char *v, std::vector<int> &bands) {
    std::vector<double> b;
    if (Status st = parse_reals("--bands", v, ',', 3, b); !st.ok) return st;
    bands.clear();
    for (double x : b) {
        if (x < 1 || x > 65535 || x != std::floor(x))
            return Status::fail(std::string("--bands: '") + v + "': bands are whole numbers from 1");
        bands.push_back(static_cast<int>(x));
    }
    return {};
}

Status parse_range(const char *v, ImportOptions &o) {
    std::vector<double> r;
    if (Status st = parse_reals("--range", v, ':', 2, r); !st.ok) return st;
    if (!(r[0] < r[1])) return Status::fail(std::string("--range: '") + v + "': MIN must be below MAX");
    o.has_range = true, o.range_lo = r[0], o.range_hi = r[1];
    return {};
}

Status parse_exaggeration(const char *v, double &exaggeration) {
    if (Status st = parse_real("--exaggeration", v, exaggeration); !st.ok) return st;
    if (!(exaggeration > 0 && exaggeration <= 1e6))
        return Status::fail(std::string("--exaggeration: ") + v + " is out of range: it must be above 0, at most 1e6");
    return {};
}

Status parse_bounds(const char *v, ImportOptions &o) {
    std::vector<double> b;
    if (Status st = parse_reals("--bounds", v, ',', 4, b); !st.ok) return st;
    if (!(b[0] < b[2] && b[1] < b[3] && b[1] >= -90 && b[3] <= 90))
        return Status::fail(std::string("--bounds: '") + v +
                            "': WEST must be below EAST and SOUTH below NORTH, latitudes within -90 ... 90");
    o.has_bounds = true, o.bounds = {b[0], b[1], b[2], b[3]};
    return {};
}

Status parse_max_memory(const char *v, uint64_t &bytes) {
    long long mib = 0;
    if (Status st = parse_int("--max-memory", v, 128, 1 << 20, mib); !st.ok) return st;
    bytes = static_cast<uint64_t>(mib) << 20;
    return {};
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
        {"--bands", true, [&](const char *v) { return parse_bands(v, o.bands); }},
        {"--size", true, [&](const char *v) { return parse_size(v, o.size_w, o.size_h); }},
        {"--range", true, [&](const char *v) { return parse_range(v, o); }},
        {"--sea-level", true, [&](const char *v) {
             o.has_sea = true;
             return parse_real("--sea-level", v, o.sea);
         }},
        {"--exaggeration", true, [&](const char *v) { return parse_exaggeration(v, o.exaggeration); }},
        {"--fit", true, [&](const char *v) {
             return parse_choice<FitMode>("--fit", v, {{"pad", FitMode::pad}, {"crop", FitMode::crop}, {"stretch", FitMode::stretch}},
                                          o.fit);
         }},
        {"--bounds", true, [&](const char *v) { return parse_bounds(v, o); }},
        {"--resample", true, [&](const char *v) {
             return parse_choice<Resampling>("--resample", v,
                                             {{"average", Resampling::average}, {"bilinear", Resampling::bilinear},
                                              {"cubic", Resampling::cubic}, {"nearest", Resampling::nearest}},
                                             o.resample);
         }},
        {"--max-memory", true, [&](const char *v) { return parse_max_memory(v, o.max_memory); }},
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
