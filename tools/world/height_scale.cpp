// The default world's height scale: its sea level and levels per unit of height, from quantiles of the whole map.
#include "world/worldgen_stages.h"

#include "common/parallel.h"
#include "format/map.h"
#include "world/world_tunables.h"

#include <algorithm>
#include <cmath>

namespace worldgen {

namespace {

// The value of quantile q (0 … 1) of `v`; reorders v.
float quantile(std::vector<float> &v, double q) {
    if (v.empty()) return 0;
    const size_t k = std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())));
    std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
    return v[k];
}

}  // namespace

Scale calibrate(const Lattice &la, const Seeds &sd, int threads) {
    const int ax0 = -la.i0, ay0 = -la.j0, anx = grid_columns / static_cast<int>(step_a), any = grid_rows / static_cast<int>(step_a);
    std::vector<float> samples;
    samples.reserve(static_cast<size_t>(anx) * any);
    for (int j = 0; j < any; ++j)
        for (int i = 0; i < anx; ++i) samples.push_back(la.at(ax0 + i, ay0 + j)[A_LAND]);
    Scale k;
    k.sea = quantile(samples, water_fraction);
    std::vector<float> raw(samples.size());
    parallel_rows(any, [&](int j0, int j1) {
        ScratchRows r(anx, 2);
        std::vector<float> b(static_cast<size_t>(anx) * B_CH);
        for (int j = j0; j < j1; ++j) {
            for (int i = 0; i < anx; ++i) r[0][i] = static_cast<float>(i) * step_a, r[1][i] = static_cast<float>(j) * step_a;
            stage_b_row(r[0], r[1], la.at(ax0, ay0 + j), anx, sd, k.sea, step_a, b.data());
            for (int i = 0; i < anx; ++i) raw[static_cast<size_t>(j) * anx + i] = b[static_cast<size_t>(i) * B_CH + B_Z];
        }
    }, threads);
    // Sea level moves a little where mountains and hills rise from the shallows.
    samples = raw;
    k.shift = quantile(samples, water_fraction);
    std::vector<float> above, below;
    for (float e : raw) (e > k.shift ? above : below).push_back(e - k.shift);
    // The highest 0.1% of the land (finer octaves add some more) reach the top level…
    k.level = 140 / std::max(quantile(above, 0.999), 1e-3f);
    // … and the deepest 2% of the sea the lowest.
    k.deep = std::max(-quantile(below, 0.02), 1e-3f) / std::pow(std::log(256.0f), 2.0f / 3);
    return k;
}

}  // namespace worldgen
