// What the import's tests share: rasters of known heights written to a scratch folder, and read as import reads them.
#pragma once

#include "import/import.h"
#include "tests/support/gdal_rasters.h"
#include "tests/support/rasters.h"

#include "tests/unit/scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

using Heightfn = std::function<double(double lon, double lat)>;

// A lonlat raster of `f` at its pixels' centres: w x h pixels of dx x dy degrees from (west, north).
inline RasterSpec sampled(int w, int h, double west, double north, double dx, double dy, const Heightfn &f) {
    RasterSpec s = lonlat_raster(w, h, west, north, dx, {});
    s.gt[5] = -dy;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) s.values.push_back(f(west + (x + 0.5) * dx, north - (y + 0.5) * dy));
    return s;
}

// Pixels x0 ... x0+w-1, y0 ... y0+h-1 of `s`, georeferenced where they lie.
inline RasterSpec cut(const RasterSpec &s, int x0, int y0, int w, int h) {
    RasterSpec t = s;
    t.w = w, t.h = h, t.values.clear();
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) t.values.push_back(s.values[static_cast<size_t>(y) * s.w + x]);
    t.gt[0] = s.gt[0] + x0 * s.gt[1], t.gt[3] = s.gt[3] + y0 * s.gt[5];
    return t;
}

inline double relief(double lon, double lat) { return 900 * std::sin(lon * 7) * std::cos(lat * 5) + 40 * lon - 25 * lat; }

// 16-bit samples, big-endian, as PNG holds them.
inline Bytes be16(std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) b.push_back(static_cast<uint8_t>(x >> 8)), b.push_back(static_cast<uint8_t>(x));
    return b;
}

// Reads the inputs as import does, into a grid of the raster's own size, so that every sample
// arrives as the file holds it.
inline Status read_native(const std::vector<std::string> &paths, Heights &h, int size_w = 0, int size_h = 0) {
    HeightSource probe;
    if (Status st = open_heights(paths, size_w, size_h, probe); !st.ok) return st;
    ImportOptions o;
    o.heights = paths;
    o.size_w = size_w, o.size_h = size_h;
    o.fit = FitMode::stretch;
    std::vector<std::string> notes;
    return read_import(o, probe.w, probe.h, h, notes);
}

// Whether any of `notes` says `part`.
inline bool said(const std::vector<std::string> &notes, const std::string &part) {
    return std::any_of(notes.begin(), notes.end(), [&](const std::string &n) { return n.find(part) != std::string::npos; });
}

class HeightFiles : public Scratch {
protected:
    std::string write(const std::string &name, const RasterSpec &s) {
        const std::string path = dir + "/" + name;
        write_raster(path, "GTiff", s);
        return path;
    }
    // The inputs read into a gw x gh grid, stretched over it.
    Heights read(const std::vector<std::string> &inputs, int gw, int gh, Resampling r = Resampling::automatic,
                 const std::string &list = "") {
        ImportOptions o;
        o.heights = inputs, o.input_list = list, o.fit = FitMode::stretch, o.resample = r;
        Heights h;
        std::vector<std::string> notes;
        const Status st = read_import(o, gw, gh, h, notes);
        EXPECT_TRUE(st.ok) << st.why;
        return h;
    }
    // Reads `s` written as GeoTIFF into a grid_w x grid_h grid, as import places it.
    Heights read_spec(const RasterSpec &s, int grid_w, int grid_h, FitMode fit = FitMode::pad, const Bounds *b = nullptr,
                      Resampling r = Resampling::automatic) {
        const std::string path = dir + "/r" + std::to_string(files++) + ".tif";
        write_raster(path, "GTiff", s);
        ImportOptions o;
        o.heights = {path};
        o.fit = fit;
        o.resample = r;
        if (b) o.has_bounds = true, o.bounds = *b;
        Heights h;
        std::vector<std::string> notes;
        const Status st = read_import(o, grid_w, grid_h, h, notes);
        EXPECT_TRUE(st.ok) << st.why;
        return h;
    }
    // The whole import, its map unpacked.
    Status import(ImportOptions o, Map &m, Sidecar &sc, std::vector<std::string> &notes) {
        std::vector<uint8_t> bytes(grid_bytes);
        const Status st = import_map(o, bytes.data(), sc, notes);
        for (size_t i = 0; i < grid_cells; ++i) m.colour[i] = colour_of(&bytes[cell_bytes * i]), m.height[i] = height_of(&bytes[cell_bytes * i]);
        return st;
    }
    int files = 0;
};
