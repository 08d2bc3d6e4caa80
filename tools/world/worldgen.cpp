// Default world generator: warped continents, river-cut ridged mountains and slope-damped hills, coarse to fine.
//
// Each stage works on its own lattice in full-map cell coordinates, in this order:
//  A. every 16 cells over the whole map: domain warp, continents and "mountainness" (continents.cpp).
//     The same lattice fixes sea level and the height scale from quantiles (height_scale.cpp), so
//     they do not depend on the output size.
//  E. every 8 cells over the whole map: the terrain so far, drained and cut by its rivers (valleys.cpp).
//  B. every 4 cells over the output: mountains and hills down to wavelengths of about 20 cells, on A
//     and the river cuts interpolated; a raw height plus what the last stage needs to go on (mountains.cpp).
//  C. every output cell: B interpolated, plus the finest octaves, then the level range (fine_detail.cpp).
// Smooth layers are computed coarse and interpolated with C1 cubics (the hillshade sees derivatives),
// so only a few noise octaves are evaluated per output cell. Everything up to stage B depends only on
// the seed, never on the output's size, position or thread count.
#include "world/worldgen.h"
#include "world/worldgen_stages.h"

#include "common/parallel.h"
#include "format/map.h"
#include "world/world_tunables.h"

#include <algorithm>

namespace {

using namespace worldgen;

std::vector<float> generate(const Frame &fr, uint64_t seed, int threads, const ProgressFn &progress) {
    const Seeds sd(seed);
    auto report = [&](double f) {
        if (progress) progress(f);
    };
    Lattice la = cover(0, 0, grid_columns, grid_rows, step_a, step_a, A_CH);
    parallel_rows(la.ny, [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) stage_a_row(la, j, sd);
    }, threads);
    const Scale k = calibrate(la, sd, threads);
    report(0.05);

    Lattice le = cover(0, 0, grid_columns, grid_rows, step_e, step_e, B_CH);
    fill_b(la, le, sd, k, step_e, nullptr, threads, {});
    const Lattice carve = carve_valleys(le, k);
    report(0.12);

    // Stage B over the output, never finer than the output cells.
    const float sbx = std::max(step_b, fr.sx), sby = std::max(step_b, fr.sy);
    const float u1 = fr.u0 + fr.sx * static_cast<float>(fr.w), v1 = fr.v0 + fr.sy * static_cast<float>(fr.h);
    Lattice lb = cover(fr.u0, fr.v0, u1, v1, sbx, sby, B_CH);
    fill_b(la, lb, sd, k, std::max(sbx, sby), &carve, threads, [&](int done) { report(0.12 + 0.1 * done / lb.ny); });

    std::vector<float> z(static_cast<size_t>(fr.w) * fr.h);
    stage_c(fr, lb, sd, k, z.data(), threads, [&](int done) { report(0.22 + 0.78 * done / fr.h); });
    return z;
}

}  // namespace

std::vector<float> world_heights(int w, int h, uint64_t seed, int threads, const ProgressFn &progress) {
    if (w <= 0 || h <= 0) return {};
    const float sx = static_cast<float>(grid_columns) / static_cast<float>(w), sy = static_cast<float>(grid_rows) / static_cast<float>(h);
    return generate({0, 0, sx, sy, w, h}, seed, threads, progress);
}

std::vector<float> world_window(int x0, int y0, int w, int h, uint64_t seed, int threads) {
    if (w <= 0 || h <= 0) return {};
    return generate({static_cast<float>(x0), static_cast<float>(y0), 1, 1, w, h}, seed, threads, {});
}
