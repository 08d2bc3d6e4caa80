// The read plan: each tile's level and axes, the overlaps between tiles, and the reads cut along GDAL's blocks, in order.
#include "import/read_plan.h"

#include "import/read_budget.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace engine {

namespace {

constexpr long long unit_samples = 1LL << 22;  // samples one read takes: 16 MiB of floats
constexpr long long unit_cells = 1LL << 20;    // cells one read's sums cover: 16 MiB of doubles
// Samples across one read: a reader holds a few rows of them interleaved as doubles, eight rows a
// group (16 MiB at this width), so a raster of very long rows is read in strips.
constexpr long long unit_width = 1LL << 17;

// An axis of a tile at a level, in ground order; `along` its sample size in the input's
// coordinates (negative when the file runs against the grid), `cell` the grid's.
Axis axis_of(double origin, double along, double grid_origin, double cell, int n, Resampling r, bool &flipped) {
    Axis ax;
    ax.a = (origin - grid_origin) / cell;
    ax.b = along / cell;
    flipped = ax.b < 0;
    if (flipped) ax.a += ax.b * n, ax.b = -ax.b;
    ax.kernel = kernel_for(r, ax.b);
    return ax;
}

// The level to read: the coarsest overview that still has two samples a cell or more each way.
void choose_level(const Tile &t, double bx, double by, TilePlan &tp) {
    tp.level = -1, tp.lw = t.w, tp.lh = t.h;
    for (size_t i = 0; i < t.overviews.size(); ++i) {
        const auto [ow, oh] = t.overviews[i];
        if (ow <= 0 || oh <= 0 || ow >= tp.lw || oh >= tp.lh) continue;
        const double fx = static_cast<double>(t.w) / ow, fy = static_cast<double>(t.h) / oh;
        if (std::fabs(bx) * fx <= 0.5 && std::fabs(by) * fy <= 0.5) tp.level = static_cast<int>(i), tp.lw = ow, tp.lh = oh;
    }
}

TilePlan plan_tile(const Tile &t, const Placement &p, Resampling r) {
    TilePlan tp;
    tp.tile = &t;
    choose_level(t, t.gt[1] / p.gt[1], t.gt[5] / p.gt[5], tp);
    const double fx = static_cast<double>(t.w) / tp.lw, fy = static_cast<double>(t.h) / tp.lh;
    tp.x = axis_of(t.gt[0], t.gt[1] * fx, p.gt[0], p.gt[1], tp.lw, r, tp.flip_x);
    tp.y = axis_of(t.gt[3], t.gt[5] * fy, p.gt[3], p.gt[5], tp.lh, r, tp.flip_y);
    // Georeferencing that puts the samples nowhere (sizes infinite or vanishing) reaches no cell.
    auto usable = [](const Axis &a) { return std::isfinite(a.a) && std::isfinite(a.b) && a.b > 0; };
    if (!usable(tp.x) || !usable(tp.y)) return tp;
    reaching(tp.x, tp.lw, p.x0, p.x0 + p.w, tp.gx0, tp.gx1);
    reaching(tp.y, tp.lh, p.y0, p.y0 + p.h, tp.gy0, tp.gy1);
    if (tp.samples() == 0) return tp;
    span_of(tp.x, tp.gx0, static_cast<int>(tp.gx1 - tp.gx0), p.x0, p.x0 + p.w, tp.cx0, tp.cx1);
    span_of(tp.y, tp.gy0, static_cast<int>(tp.gy1 - tp.gy0), p.y0, p.y0 + p.h, tp.cy0, tp.cy1);
    return tp;
}

// For each tile, the others whose extents overlap its own (by more than an edge), found through a
// grid of buckets the size of a typical tile, so that tens of thousands of tiles cost little.
// Tiles far larger than a bucket are tried against every tile instead.
std::vector<std::vector<int>> overlapping(const std::vector<Tile> &tiles) {
    std::vector<std::vector<int>> out(tiles.size());
    if (tiles.size() < 2) return out;
    std::vector<double> ws, hs;
    double ox = tiles[0].x0, oy = tiles[0].y0;
    for (const Tile &t : tiles) ws.push_back(t.x1 - t.x0), hs.push_back(t.y1 - t.y0), ox = std::min(ox, t.x0), oy = std::min(oy, t.y0);
    std::nth_element(ws.begin(), ws.begin() + ws.size() / 2, ws.end());
    std::nth_element(hs.begin(), hs.begin() + hs.size() / 2, hs.end());
    const double bw = ws[ws.size() / 2], bh = hs[hs.size() / 2];
    struct Range {
        long long x0, x1, y0, y1;
    };
    auto range = [&](const Tile &t) {
        auto at = [](double v, double o, double size) { return clamped_index(std::floor((v - o) / size)); };
        return Range{at(t.x0, ox, bw), at(t.x1, ox, bw), at(t.y0, oy, bh), at(t.y1, oy, bh)};
    };
    auto meet = [&](size_t i, size_t j) {
        const Tile &t = tiles[i], &o = tiles[j];
        const double ex = 1e-9 * (t.x1 - t.x0), ey = 1e-9 * (t.y1 - t.y0);
        if (o.x0 < t.x1 - ex && o.x1 > t.x0 + ex && o.y0 < t.y1 - ey && o.y1 > t.y0 + ey) out[i].push_back(static_cast<int>(j));
    };
    std::map<std::pair<long long, long long>, std::vector<size_t>> grid;
    std::vector<size_t> big;
    for (size_t i = 0; i < tiles.size(); ++i) {
        const Range r = range(tiles[i]);
        if (r.x1 - r.x0 > 64 || r.y1 - r.y0 > 64) {
            big.push_back(i);
            continue;
        }
        for (long long by = r.y0; by <= r.y1; ++by)
            for (long long bx = r.x0; bx <= r.x1; ++bx) grid[{bx, by}].push_back(i);
    }
    std::vector<size_t> seen(tiles.size(), tiles.size());
    for (size_t i = 0; i < tiles.size(); ++i) {
        const Range r = range(tiles[i]);
        if (r.x1 - r.x0 > 64 || r.y1 - r.y0 > 64) {
            for (size_t j = 0; j < tiles.size(); ++j)
                if (j != i) meet(i, j);
            continue;
        }
        for (long long by = r.y0; by <= r.y1; ++by)
            for (long long bx = r.x0; bx <= r.x1; ++bx)
                if (auto it = grid.find({bx, by}); it != grid.end())
                    for (size_t j : it->second)
                        if (j != i && seen[j] != i) seen[j] = i, meet(i, j);
        for (size_t j : big) meet(i, j);
    }
    return out;
}

// The samples of plan `tp` (ground order, at its level) whose centres lie inside tile `o`.
std::array<long long, 4> inside(const TilePlan &tp, const Tile &o) {
    const Tile &t = *tp.tile;
    const double dx = (t.x1 - t.x0) / tp.lw, dy = (t.y1 - t.y0) / tp.lh;
    // The whole numbers g with a < g + 0.5 < b.
    auto open = [](double a, double b, long long n, long long &lo, long long &hi) {
        lo = std::clamp<long long>(clamped_index(std::floor(a - 0.5)) + 1, 0, n);
        hi = std::clamp<long long>(clamped_index(std::ceil(b - 0.5)), 0, n);
    };
    std::array<long long, 4> r;
    open((o.x0 - t.x0) / dx, (o.x1 - t.x0) / dx, tp.lw, r[0], r[1]);
    open((t.y1 - o.y1) / dy, (t.y1 - o.y0) / dy, tp.lh, r[2], r[3]);
    return r;
}

// Cuts a tile's reaching samples into reads along GDAL's blocks, few enough samples and cells each.
void cut_units(const TilePlan &tp, int plan, const Placement &p, std::vector<Unit> &units) {
    const Tile &t = *tp.tile;
    const long long nx = tp.gx1 - tp.gx0, ny = tp.gy1 - tp.gy0;
    if (nx <= 0 || ny <= 0) return;
    auto step_of = [](long long n, long long per_line, long long cap, long long block) {
        long long rows = std::max(1LL, cap / std::max(1LL, per_line));
        if (rows >= block) rows = rows / block * block;
        return std::min(n, rows);
    };
    // Columns split only when one block row of the whole width is too much, or the rows too long.
    long long col_step = static_cast<long long>(t.block_h) * nx > unit_samples ? step_of(nx, t.block_h, unit_samples, t.block_w)
                                                                             : nx;
    if (col_step > unit_width) col_step = std::max<long long>(t.block_w <= unit_width ? unit_width / t.block_w * t.block_w : unit_width, 1);
    // The cells a row of samples adds to: fewer than its samples when shrinking, many more when enlarging.
    const double cells_across = std::min<double>(p.w, col_step * tp.x.b + 2 * reach(tp.x) + 2);
    const long long row_step = std::min(step_of(ny, col_step, unit_samples, t.block_h),
                                        step_of(ny, clamped_index(std::ceil(cells_across * tp.y.b)) + 1, unit_cells,
                                                t.block_h));
    for (long long gy = tp.gy0; gy < tp.gy1; gy += row_step)
        for (long long gx = tp.gx0; gx < tp.gx1; gx += col_step) {
            Unit u;
            u.plan = plan;
            u.gx0 = gx, u.gy0 = gy;
            u.nx = static_cast<int>(std::min(col_step, tp.gx1 - gx));
            u.ny = static_cast<int>(std::min(row_step, tp.gy1 - gy));
            span_of(tp.x, u.gx0, u.nx, p.x0, p.x0 + p.w, u.cx0, u.cx1);
            span_of(tp.y, u.gy0, u.ny, p.y0, p.y0 + p.h, u.cy0, u.cy1);
            if (u.cx0 < u.cx1 && u.cy0 < u.cy1) units.push_back(u);
        }
}

// Reads in the order of the grid's rows, so that only the sums of a few rows are held at once
// however the tiles lie; but a tile that decodes front to back is read at once, in the order of
// its file, as one job, so that one reader goes through it once.
void order_units(const Placement &p, Reads &reads) {
    const std::vector<TilePlan> &plans = reads.plans;
    std::vector<Unit> &units = reads.units;
    std::vector<int> first_row(plans.size(), p.grid_h);
    for (const Unit &u : units) first_row[u.plan] = std::min(first_row[u.plan], u.cy0);
    auto key = [&](const Unit &u) {
        const TilePlan &tp = plans[u.plan];
        const bool seq = tp.tile->sequential;
        return std::make_tuple(seq ? first_row[u.plan] : u.cy0, u.plan, seq && tp.flip_y ? -u.gy0 : u.gy0, u.gx0);
    };
    std::stable_sort(units.begin(), units.end(), [&](const Unit &a, const Unit &b) { return key(a) < key(b); });
    for (int u = 0; u < static_cast<int>(units.size());) {
        int v = u + 1;
        if (plans[units[u].plan].tile->sequential)
            while (v < static_cast<int>(units.size()) && units[v].plan == units[u].plan) ++v;
        reads.jobs.emplace_back(u, v);
        u = v;
    }
}

}  // namespace

Status plan_reads(const HeightSource &src, const Placement &p, Resampling r, double max_samples, Reads &reads) {
    reads = Reads();
    const std::vector<std::vector<int>> others = overlapping(src.tiles);
    for (size_t i = 0; i < src.tiles.size(); ++i) {
        reads.plans.push_back(plan_tile(src.tiles[i], p, r));
        TilePlan &tp = reads.plans.back();
        for (int o : others[i]) tp.shared.push_back(inside(tp, src.tiles[o]));
        if (tp.samples() > 0) reads.clamp = reads.clamp || tp.x.kernel == Kernel::cubic || tp.y.kernel == Kernel::cubic;
    }
    if (Status st = check_plans(src, p, reads.plans, std::min(max_samples, max_read_samples)); !st.ok) return st;
    for (size_t i = 0; i < reads.plans.size(); ++i) cut_units(reads.plans[i], static_cast<int>(i), p, reads.units);
    order_units(p, reads);
    return {};
}

}  // namespace engine
