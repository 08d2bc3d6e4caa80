// The import pipeline: heights to levels, fitted into the grid, coloured, quantised.
#include "import.h"

#include "parallel.h"
#include "relief.h"
#include "resample.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

std::string num(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.10g", v);
    return b;
}

// The colour image, read before any heavy work so that a bad one fails at once.
Status read_colour(const std::string &path, const HeightGrid &g, RgbImage &img, std::vector<std::string> &notes) {
    std::vector<uint8_t> bytes;
    if (Status st = read_file(path, bytes, max_samples * 8); !st.ok) return st;
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
    std::vector<uint8_t> rgb(3 * map_cells);
    resample_rgb(img.rgb.data(), img.w, img.h, fit, rgb.data());
    parallel_rows(map_h, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < map_w; ++x) {
                const size_t i = static_cast<size_t>(y) * map_w + x;
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
    const Fit fit = fit_into(g.w, g.h, map_w, map_h);
    if (const std::string d = describe_fit(g.w, g.h, fit); !d.empty()) notes.push_back(o.heights + ": " + d);

    std::vector<float> level(map_cells);
    std::vector<uint8_t> voids(map_cells);
    resample(g.z.data(), g.voids.data(), g.w, g.h, fit, level.data(), voids.data());
    const bool any_void = std::find(voids.begin(), voids.end(), 1) != voids.end();
    // The relief pass also gives voids their colour, so with an image it runs only when there are voids.
    if (o.colour.empty() || any_void) colour_relief(level.data(), map_w, map_h, m.colour.data(), voids.data());
    if (!o.colour.empty()) colour_from_image(img, fit, voids, m);
    parallel_rows(map_h, [&](int y0, int y1) {
        for (size_t i = static_cast<size_t>(y0) * map_w; i < static_cast<size_t>(y1) * map_w; ++i)
            m.height[i] = voids[i] ? 0 : quantise(level[i]);
    });
    return {};
}
