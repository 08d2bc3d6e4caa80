// The import pipeline: heights to levels, fitted into the grid, coloured, quantised.
#include "import.h"

#include "cli.h"
#include "parallel.h"
#include "relief.h"
#include "resample.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

const char import_summary[] = "make a map from a heightmap (PNG, GeoTIFF, SRTM .hgt, raw .r16)";

const char import_usage[] =
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

std::string num(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.10g", v);
    return b;
}

// The colour image, read before any heavy work so that a bad one fails at once.
Status read_colour(const std::string &path, const HeightGrid &g, RgbImage &img, std::vector<std::string> &notes) {
    std::vector<uint8_t> bytes;
    if (Status st = read_whole(path, bytes, max_samples * 8); !st.ok) return st;
    if (Status st = read_png_rgb(bytes.data(), bytes.size(), path, img); !st.ok) return st;
    // Aspect ratios more than 1 % apart are worth a word: the colours will look stretched.
    const double ra = static_cast<double>(img.w) * g.h, rb = static_cast<double>(g.w) * img.h;
    if (std::fabs(ra - rb) > 0.01 * std::max(ra, rb))
        notes.push_back(path + ": " + std::to_string(img.w) + " x " + std::to_string(img.h) +
                        " stretched over the heights' " + std::to_string(g.w) + " x " + std::to_string(g.h));
    return {};
}

// Colours for cells from an image fitted like the heights; voids keep the colour they have.
void colour_from_image(const RgbImage &img, const Fit &fit, const std::vector<uint8_t> &voids, Map &m) {
    std::vector<uint8_t> rgb(3 * cellules);
    resample_rgb(img.rgb.data(), img.w, img.h, fit, rgb.data());
    parallel_rows(lignes, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < colonnes; ++x) {
                const size_t i = static_cast<size_t>(y) * colonnes + x;
                if (!voids[i]) m.colour[i] = pack_rgb(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], x, y);
            }
    });
}

}  // namespace

float LevelScale::operator()(double v) const {
    v = std::clamp(v, lo, hi);
    if (has_sea) {
        if (v < sea) return static_cast<float>(-128.0 * (sea - v) / (sea - lo));
        return hi > sea ? static_cast<float>(127.0 * (v - sea) / (hi - sea)) : 0.0f;
    }
    if (hi == lo) return 0.0f;
    // Divided last, so levels written by export (v = (h + 128) · 257 over 0 … 65535) come back exact.
    return static_cast<float>(-128.0 + (v - lo) * 255.0 / (hi - lo));
}

Status choose_scale(const HeightGrid &g, const ImportOptions &o, const std::string &name, LevelScale &s) {
    s.has_sea = o.has_sea;
    s.sea = o.sea;
    if (o.has_range) {
        s.lo = o.range_lo;
        s.hi = o.range_hi;
        return {};
    }
    if (g.has_range) {
        s.lo = g.range_lo;
        s.hi = g.range_hi;
        return {};
    }
    bool any = false;
    float lo = 0, hi = 0;
    for (size_t i = 0; i < g.z.size(); ++i) {
        if (g.voids[i]) continue;
        if (!any) lo = hi = g.z[i], any = true;
        lo = std::min(lo, g.z[i]);
        hi = std::max(hi, g.z[i]);
    }
    if (!any) return Status::fail(name + ": no heights: every sample is a void");
    s.lo = lo;
    s.hi = hi;
    return {};
}

Status import_map(const ImportOptions &o, Map &m, std::vector<std::string> &notes) {
    HeightGrid g;
    if (Status st = read_heights(o.heights, g, o.size_w, o.size_h); !st.ok) return st;
    notes.insert(notes.end(), g.notes.begin(), g.notes.end());
    RgbImage img;
    if (!o.colour.empty()) {
        if (Status st = read_colour(o.colour, g, img, notes); !st.ok) return st;
    }
    LevelScale scale;
    if (Status st = choose_scale(g, o, o.heights, scale); !st.ok) return st;
    if (!o.has_range && g.has_range) notes.push_back(o.heights + ": written by mvx export --heights: read as map levels");
    std::string how = "heights " + num(scale.lo) + " to " + num(scale.hi) + " mapped onto levels -128 to 127";
    if (scale.has_sea) how += ", " + num(scale.sea) + " at sea level (0)";
    if (scale.lo == scale.hi && !scale.has_sea) how = "every height is " + num(scale.lo) + ": the map is flat at level 0";
    notes.push_back(o.heights + ": " + std::to_string(g.w) + " x " + std::to_string(g.h) + ", " + how);

    parallel_rows(g.h, [&](int y0, int y1) {
        for (size_t i = static_cast<size_t>(y0) * g.w; i < static_cast<size_t>(y1) * g.w; ++i)
            if (!g.voids[i]) g.z[i] = scale(g.z[i]);
    });
    const Fit fit = fit_into(g.w, g.h, colonnes, lignes);
    if (const std::string d = describe_fit(g.w, g.h, fit); !d.empty()) notes.push_back(o.heights + ": " + d);

    std::vector<float> level(cellules);
    std::vector<uint8_t> voids(cellules);
    resample(g.z.data(), g.voids.data(), g.w, g.h, fit, level.data(), voids.data());
    const bool any_void = std::find(voids.begin(), voids.end(), 1) != voids.end();
    // The relief pass also gives voids their colour, so with an image it runs only when there are voids.
    if (o.colour.empty() || any_void) colour_relief(level.data(), colonnes, lignes, m.colour.data(), voids.data());
    if (!o.colour.empty()) colour_from_image(img, fit, voids, m);
    parallel_rows(lignes, [&](int y0, int y1) {
        for (size_t i = static_cast<size_t>(y0) * colonnes; i < static_cast<size_t>(y1) * colonnes; ++i)
            m.height[i] = voids[i] ? 0 : quantise(level[i]);
    });
    return {};
}

Status parse_import(int argc, char **argv, ImportOptions &o, bool &help) {
    const std::vector<Option> options = {
        {"-o", true, [&](const char *v) { o.out = v; return Status{}; }},
        {"--colour", true, [&](const char *v) { o.colour = v; return Status{}; }},
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
    };
    Status st = parse_options("import", argc, argv, options, [&](const char *a) {
        if (!o.heights.empty()) return Status::fail("import: one height file only ('" + o.heights + "' and '" + a + "')");
        o.heights = a;
        return Status{};
    }, help);
    if (st.ok && !help && o.heights.empty()) return Status::fail("import: no height file given (see mvx import --help)");
    return st;
}
