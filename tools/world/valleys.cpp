// Stage E of the default world: every 8 cells over the whole map, the terrain drained and cut by its rivers, phase by phase.
#include "world/worldgen_stages.h"

#include "world/world_tunables.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <queue>

namespace worldgen {

namespace {

using Item = std::pair<float, int>;
using Queue = std::priority_queue<Item, std::vector<Item>, std::greater<Item>>;

bool in_lattice(int i, int j, int nx, int ny) { return i >= 0 && j >= 0 && i < nx && j < ny; }

// Where the flood starts: land on the edge, and drained points next to land not yet drained. The
// open sea is drained already and never reaches land, so it stays out of the queue.
void flood_sources(const std::vector<float> &fill, const std::vector<uint8_t> &seen, int nx, int ny, Queue &queue) {
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const int p = j * nx + i;
            if (!seen[p]) continue;
            bool coast = fill[p] >= 0;
            for (int dj = -1; dj <= 1 && !coast; ++dj)
                for (int di = -1; di <= 1; ++di)
                    if (in_lattice(i + di, j + dj, nx, ny) && !seen[(j + dj) * nx + i + di]) coast = true;
            if (coast) queue.push({fill[p], p});
        }
}

}  // namespace

// Points leave the queue lowest first, each reached from its lowest neighbour already drained;
// ties go by index, so the order is fixed.
Drainage flood(const std::vector<float> &z, int nx, int ny) {
    Drainage d{z, std::vector<int>(z.size(), -1), {}};
    d.order.reserve(z.size());
    std::vector<uint8_t> seen(z.size());
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) seen[j * nx + i] = z[j * nx + i] < 0 || i == 0 || j == 0 || i == nx - 1 || j == ny - 1;
    Queue queue;
    flood_sources(d.fill, seen, nx, ny, queue);
    while (!queue.empty()) {
        const int p = queue.top().second;
        queue.pop();
        d.order.push_back(p);
        const int pi = p % nx, pj = p / nx;
        for (int dj = -1; dj <= 1; ++dj)
            for (int di = -1; di <= 1; ++di) {
                const int q = (pj + dj) * nx + pi + di;
                if (!in_lattice(pi + di, pj + dj, nx, ny) || seen[q]) continue;
                seen[q] = 1;
                d.parent[q] = p;
                d.fill[q] = std::max(d.fill[q], d.fill[p] + 1e-3f);
                queue.push({d.fill[q], q});
            }
    }
    return d;
}

std::vector<float> drainage_areas(const Drainage &d) {
    std::vector<float> area(d.parent.size(), 1.0f);
    for (auto t = d.order.rbegin(); t != d.order.rend(); ++t)
        if (d.parent[*t] >= 0) area[d.parent[*t]] += area[*t];
    return area;
}

// The steady state of stream-power erosion, where the slope falls as a power (about the square
// root) of the area drained: a point standing higher above the next one downstream than a river
// draining its area would leave it is lowered. Downstream first, so each point builds on its floor.
std::vector<float> river_floor(const Drainage &d, const std::vector<float> &area, int nx, float steepest) {
    std::vector<float> low(d.fill.size());
    for (int p : d.order) {
        const int q = d.parent[p];
        if (q < 0) {
            low[p] = std::max(d.fill[p], 0.0f);
            continue;
        }
        const float dist = (p % nx != q % nx && p / nx != q / nx) ? 1.41421356f : 1.0f;
        low[p] = std::min(d.fill[p], low[q] + dist * steepest * std::pow(area[p], -river_concavity));
    }
    return low;
}

// Mountains, lifted fastest, are cut hardest; plains keep most of their gentle relief.
std::vector<float> river_cuts(const Drainage &d, const std::vector<float> &low, const std::vector<float> &mountain) {
    std::vector<float> cut(d.fill.size(), 0.0f);
    for (size_t p = 0; p < cut.size(); ++p)
        if (d.fill[p] > 0) cut[p] = std::min(0.0f, (low[p] - d.fill[p]) * (plain_cut + (1 - plain_cut) * mountain[p]));
    return cut;
}

void cap_cuts(std::vector<float> &cut, const std::vector<float> &fill, const std::vector<float> &deepest) {
    for (size_t p = 0; p < cut.size(); ++p) cut[p] = fill[p] > 0 ? std::max(cut[p], deepest[p]) : 0.0f;
}

// A river cut is only one point wide; two chamfer sweeps spread it sideways.
void widen_cuts(std::vector<float> &c, const std::vector<float> &fill, int nx, int ny, float spread) {
    const float diag = spread * 1.41421356f;
    auto relax = [&](int p, int q, float d) { c[p] = std::min(c[p], c[q] + d); };
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const int p = j * nx + i;
            if (fill[p] <= 0) continue;
            if (i > 0) relax(p, p - 1, spread);
            if (j > 0) {
                relax(p, p - nx, spread);
                if (i > 0) relax(p, p - nx - 1, diag);
                if (i < nx - 1) relax(p, p - nx + 1, diag);
            }
        }
    for (int j = ny - 1; j >= 0; --j)
        for (int i = nx - 1; i >= 0; --i) {
            const int p = j * nx + i;
            if (fill[p] <= 0) continue;
            if (i < nx - 1) relax(p, p + 1, spread);
            if (j < ny - 1) {
                relax(p, p + nx, spread);
                if (i < nx - 1) relax(p, p + nx + 1, diag);
                if (i > 0) relax(p, p + nx - 1, diag);
            }
        }
}

// Interpolation between lattice points would ring on the kinks of a V.
void round_cuts(std::vector<float> &c, int nx, int ny) {
    std::vector<float> t(c.size());
    for (int pass = 0; pass < 2; ++pass) {
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                const int p = j * nx + i;
                t[p] = i == 0 || i == nx - 1 ? c[p] : 0.25f * (c[p - 1] + 2 * c[p] + c[p + 1]);
            }
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                const int p = j * nx + i;
                c[p] = j == 0 || j == ny - 1 ? t[p] : 0.25f * (t[p - nx] + 2 * t[p] + t[p + nx]);
            }
    }
}

Lattice carve_valleys(const Lattice &l, const Scale &k) {
    const size_t n = static_cast<size_t>(l.nx) * l.ny;
    std::vector<float> z(n), mountain(n), deepest(n);
    for (size_t p = 0; p < n; ++p) {
        const float *b = &l.v[p * l.ch];
        z[p] = b[B_Z];
        mountain[p] = b[B_RIDGE] * (ridge_sum / ridge_levels);
        // Cuts never take more than a fixed share of a point's height, so high basins stay high
        // and land stays land.
        deepest[p] = -max_cut * std::max(0.0f, b[B_Z]);
    }
    const Drainage d = flood(z, l.nx, l.ny);
    const std::vector<float> low = river_floor(d, drainage_areas(d), l.nx, valley_wall_levels * l.sx / k.level);
    Lattice out;
    out.i0 = l.i0, out.j0 = l.j0, out.nx = l.nx, out.ny = l.ny, out.ch = 1, out.sx = l.sx, out.sy = l.sy;
    out.v = river_cuts(d, low, mountain);
    cap_cuts(out.v, d.fill, deepest);  // first, so valleys widen from depths their points may take
    widen_cuts(out.v, d.fill, l.nx, l.ny, valley_spread_levels * l.sx / k.level);
    round_cuts(out.v, l.nx, l.ny);
    cap_cuts(out.v, d.fill, deepest);  // rounding pulls shallow points toward deep neighbours
    return out;
}

}  // namespace worldgen
