// mvx: makes, imports, checks and previews Morvath map files.
#include "export.h"
#include "import.h"
#include "info.h"
#include "mapfile.h"
#include "relief.h"
#include "worldgen.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void die(const char *fmt, ...) {
    std::va_list ap;
    va_start(ap, fmt);
    std::fputs("mvx: ", stderr);
    std::vfprintf(stderr, fmt, ap);
    std::fputc('\n', stderr);
    va_end(ap);
    std::exit(1);
}

const char usage[] =
    "usage: mvx COMMAND [OPTIONS]\n"
    "\n"
    "Makes and checks map files for the Morvath terrain viewer (6144 x 4096 cells,\n"
    "3 bytes each: 15-bit colour, signed 8-bit height; the viewer reads datas.mvx).\n"
    "\n"
    "commands:\n"
    "  generate   make the default world\n"
    "  import     make a map from a heightmap (PNG, GeoTIFF, SRTM .hgt, raw .r16)\n"
    "  export     write a map as a PNG preview, or its heights as 16-bit greyscale\n"
    "  info       check a map file: size, heights, water, unused colour bit\n"
    "\n"
    "Run 'mvx COMMAND --help' for a command's options.\n";

const char usage_generate[] =
    "usage: mvx generate [-o FILE] [--seed N]\n"
    "\n"
    "Makes the default world: continents and coasts, river-cut mountain ranges and\n"
    "hills over the whole height range, coloured by height with the light baked in\n"
    "(from the north-west). Shows progress on standard error when it is a terminal.\n"
    "\n"
    "  -o FILE    output map (default datas.mvx); written whole or not at all\n"
    "  --seed N   world seed, a non-negative integer (default %llu)\n"
    "\n"
    "The same seed always gives the same file.\n";

const char usage_import[] =
    "usage: mvx import HEIGHTS [--colour IMAGE] [--size WxH] [--range MIN:MAX]\n"
    "                          [--sea-level H] [-o FILE]\n"
    "\n"
    "Makes a map from a heightmap. The format is told by the content and the name:\n"
    "  PNG     8- or 16-bit greyscale (a colour PNG only if every pixel is grey;\n"
    "          transparent pixels are voids); no gamma is applied to heights\n"
    "  GeoTIFF one sample per pixel: 8/16/32-bit integers or 32/64-bit floats;\n"
    "          the NoData value and NaN are voids\n"
    "  .hgt    SRTM tile, signed 16-bit big-endian, 1201 or 3601 square; -32768 is a void\n"
    "  .r16    headerless unsigned 16-bit little-endian; square unless --size is given\n"
    "\n"
    "Any size is resampled (bilinear) to 6144 x 4096. An input that is not 3:2 is\n"
    "fitted whole and centred; the margins are voids. Voids become height 0 with a\n"
    "colour of their own.\n"
    "\n"
    "Heights are mapped linearly onto the levels -128 ... 127: the input's minimum\n"
    "to -128 and its maximum to 127, unless a range is given.\n"
    "\n"
    "  --colour IMAGE  colours from any PNG, stretched over the same area as the\n"
    "                  heights (default: tints by height with a baked hillshade)\n"
    "  --size WxH      width and height of a .r16 file\n"
    "  --range MIN:MAX input heights put at -128 and 127; values outside are clamped\n"
    "  --sea-level H   input height H becomes level 0: MIN ... H maps onto -128 ... 0\n"
    "                  and H ... MAX onto 0 ... 127, each side scaled on its own\n"
    "                  (MIN, MAX from --range or the input); H below MIN leaves no sea\n"
    "  -o FILE         output map (default datas.mvx); written whole or not at all,\n"
    "                  an existing FILE is untouched when the import fails\n"
    "\n"
    "A PNG written by 'mvx export --heights' is read as map levels (0 ... 65535 is\n"
    "-128 ... 127), so export then import gives the same heights back.\n";

const char usage_export[] =
    "usage: mvx export [MAP] -o FILE.png [--scale N] [--heights]\n"
    "\n"
    "Writes the whole map (default datas.mvx) as a PNG.\n"
    "\n"
    "  -o FILE.png  the image to write; written whole or not at all\n"
    "  --scale N    1/N of the size, each pixel the mean of an N x N block (default 1)\n"
    "  --heights    the heights as 16-bit greyscale, (height + 128) x 257, instead of\n"
    "               the colours (8-bit RGB, 5-bit channels spread over 0 ... 255);\n"
    "               the file is marked so that 'mvx import' reads it back exactly\n"
    "               (at --scale 1)\n";

const char usage_info[] =
    "usage: mvx info [MAP]\n"
    "\n"
    "Checks a map file (default datas.mvx): its size and whether it is complete,\n"
    "the height range and histogram, the share of water (heights below 0), and\n"
    "whether colour bit 15 (ignored by the viewer) is used. Exit status 1 when the\n"
    "file is not 75,497,472 bytes long.\n";

bool is_help(const char *a) { return !std::strcmp(a, "--help") || !std::strcmp(a, "-h"); }

// The value after option argv[i], or die naming the option.
const char *value(int argc, char **argv, int &i) {
    if (i + 1 >= argc) die("%s needs a value", argv[i]);
    return argv[++i];
}

uint64_t parse_u64(const char *opt, const char *s) {
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s, &end, 10);
    if (!*s || *end || errno || *s == '-') die("%s: '%s' is not a non-negative integer", opt, s);
    return v;
}

// A finite number, or die naming the option.
double parse_num(const char *opt, const char *s) {
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(s, &end);
    if (!*s || *end || errno || !std::isfinite(v)) die("%s: '%s' is not a number", opt, s);
    return v;
}

int parse_side(const char *opt, const std::string &s, const char *whole) {
    const uint64_t v = parse_u64(opt, s.c_str());
    if (v == 0 || v > 0x7fffffff) die("%s: '%s' needs sides from 1 to 2147483647", opt, whole);
    return static_cast<int>(v);
}

int cmd_import(int argc, char **argv) {
    ImportOptions o;
    std::string out = "datas.mvx";
    for (int i = 0; i < argc; ++i) {
        const char *a = argv[i];
        if (is_help(a)) {
            std::fputs(usage_import, stdout);
            return 0;
        } else if (!std::strcmp(a, "-o")) {
            out = value(argc, argv, i);
        } else if (!std::strcmp(a, "--colour")) {
            o.colour = value(argc, argv, i);
        } else if (!std::strcmp(a, "--size")) {
            const std::string v = value(argc, argv, i);
            const size_t x = v.find('x');
            if (x == std::string::npos) die("--size: '%s' is not WxH", v.c_str());
            o.size_w = parse_side("--size", v.substr(0, x), v.c_str());
            o.size_h = parse_side("--size", v.substr(x + 1), v.c_str());
        } else if (!std::strcmp(a, "--range")) {
            const std::string v = value(argc, argv, i);
            const size_t c = v.find(':');
            if (c == std::string::npos) die("--range: '%s' is not MIN:MAX", v.c_str());
            o.range_lo = parse_num("--range", v.substr(0, c).c_str());
            o.range_hi = parse_num("--range", v.substr(c + 1).c_str());
            if (!(o.range_lo < o.range_hi)) die("--range: '%s': MIN must be below MAX", v.c_str());
            o.has_range = true;
        } else if (!std::strcmp(a, "--sea-level")) {
            o.sea = parse_num("--sea-level", value(argc, argv, i));
            o.has_sea = true;
        } else if (a[0] == '-' && a[1]) {
            die("import: unknown option '%s' (see mvx import --help)", a);
        } else if (o.heights.empty()) {
            o.heights = a;
        } else {
            die("import: one height file only ('%s' and '%s')", o.heights.c_str(), a);
        }
    }
    if (o.heights.empty()) die("import: no height file given (see mvx import --help)");
    Map m;
    std::vector<std::string> notes;
    // On failure the one line that says why is all the user sees.
    if (const Status st = import_map(o, m, notes); !st.ok) die("%s", st.why.c_str());
    if (const Status w = write_map(out, m); !w.ok) die("%s", w.why.c_str());
    for (const std::string &n : notes) std::fprintf(stderr, "mvx: %s\n", n.c_str());
    std::fprintf(stderr, "mvx: wrote %s\n", out.c_str());
    return 0;
}

// Reads a map that must be complete, or dies.
void load_whole(const std::string &path, Map &m) {
    long long bytes = 0;
    if (const Status st = read_map(path, m, bytes); !st.ok) die("%s", st.why.c_str());
    if (bytes != map_bytes)
        die("%s: %lld bytes, not a complete map of 75497472 (see mvx info)", path.c_str(), bytes);
}

int cmd_export(int argc, char **argv) {
    std::string map, out;
    int scale = 1;
    bool heights = false;
    for (int i = 0; i < argc; ++i) {
        const char *a = argv[i];
        if (is_help(a)) {
            std::fputs(usage_export, stdout);
            return 0;
        } else if (!std::strcmp(a, "-o")) {
            out = value(argc, argv, i);
        } else if (!std::strcmp(a, "--scale")) {
            const uint64_t v = parse_u64("--scale", value(argc, argv, i));
            if (v < 1 || v > map_h) die("--scale: %llu is not between 1 and %d", static_cast<unsigned long long>(v), map_h);
            scale = static_cast<int>(v);
        } else if (!std::strcmp(a, "--heights")) {
            heights = true;
        } else if (a[0] == '-' && a[1]) {
            die("export: unknown option '%s' (see mvx export --help)", a);
        } else if (map.empty()) {
            map = a;
        } else {
            die("export: one map only ('%s' and '%s')", map.c_str(), a);
        }
    }
    if (out.empty()) die("export: no output given: -o FILE.png (see mvx export --help)");
    if (map.empty()) map = "datas.mvx";
    Map m;
    load_whole(map, m);
    if (const Status st = export_png(m, out, scale, heights); !st.ok) die("%s", st.why.c_str());
    std::fprintf(stderr, "mvx: wrote %s (%d x %d, %s)\n", out.c_str(), scaled(map_w, scale), scaled(map_h, scale),
                 heights ? "16-bit heights" : "colours");
    return 0;
}

int cmd_info(int argc, char **argv) {
    std::string map;
    for (int i = 0; i < argc; ++i) {
        if (is_help(argv[i])) {
            std::fputs(usage_info, stdout);
            return 0;
        } else if (argv[i][0] == '-' && argv[i][1]) {
            die("info: unknown option '%s' (see mvx info --help)", argv[i]);
        } else if (map.empty()) {
            map = argv[i];
        } else {
            die("info: one map only ('%s' and '%s')", map.c_str(), argv[i]);
        }
    }
    if (map.empty()) map = "datas.mvx";
    Map m;
    long long bytes = 0;
    if (const Status st = read_map(map, m, bytes); !st.ok) die("%s", st.why.c_str());
    const MapStats s = map_stats(m, bytes);
    std::fputs(format_info(map, s).c_str(), stdout);
    std::fflush(stdout);
    if (!s.complete()) die("%s: %lld bytes, not 75497472: not a complete map", map.c_str(), bytes);
    return 0;
}

int cmd_generate(int argc, char **argv) {
    std::string out = "datas.mvx";
    uint64_t seed = default_seed;
    for (int i = 0; i < argc; ++i) {
        if (is_help(argv[i])) {
            std::printf(usage_generate, static_cast<unsigned long long>(default_seed));
            return 0;
        } else if (!std::strcmp(argv[i], "-o")) {
            out = value(argc, argv, i);
        } else if (!std::strcmp(argv[i], "--seed")) {
            seed = parse_u64("--seed", value(argc, argv, i));
        } else {
            die("generate: unknown option '%s' (see mvx generate --help)", argv[i]);
        }
    }
    Map m;
    Progress progress("generating", 100);
    const std::vector<float> z = world_heights(map_w, map_h, seed, 0, [&](double f) { progress.step(std::lround(70 * f)); });
    colour_relief(z.data(), map_w, map_h, m.colour.data(), nullptr, 0,
                  [&](double f) { progress.step(70 + std::lround(25 * f)); });
    for (long long i = 0; i < map_cells; ++i) m.height[i] = quantise(z[i]);
    const Status st = write_map(out, m);
    if (!st.ok) die("%s", st.why.c_str());
    progress.step(100);
    progress.done();
    std::fprintf(stderr, "mvx: wrote %s (seed %llu)\n", out.c_str(), static_cast<unsigned long long>(seed));
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fputs(usage, stderr);
        return 1;
    }
    if (is_help(argv[1])) {
        std::fputs(usage, stdout);
        return 0;
    }
    const std::string cmd = argv[1];
    if (cmd == "generate") return cmd_generate(argc - 2, argv + 2);
    if (cmd == "import") return cmd_import(argc - 2, argv + 2);
    if (cmd == "export") return cmd_export(argc - 2, argv + 2);
    if (cmd == "info") return cmd_info(argc - 2, argv + 2);
    die("unknown command '%s' (see mvx --help)", argv[1]);
}
