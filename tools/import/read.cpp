// The read: each tile's samples spread over the cells they cover, summed per cell, divided once at the end.
#include "read.h"

#include "text.h"

#include <cpl_error.h>
#include <gdal.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

namespace {

// How one axis of a tile's samples is spread over the grid's cells. Sample k covers grid
// coordinates a + b·k to a + b·(k+1) (b < 0 when the file runs against the ground).
enum class Kernel { box, tent, cubic, nearest };
struct Axis {
    double a = 0, b = 1;
    Kernel kernel = Kernel::box;
};

// The kernel `r` stands for on an axis whose samples are `size` cells wide: automatic takes the
// area average (box) for samples no wider than a cell, else interpolates (tent).
Kernel kernel_for(Resampling r, double size) {
    switch (r) {
    case Resampling::average: return Kernel::box;
    case Resampling::bilinear: return Kernel::tent;
    case Resampling::cubic: return Kernel::cubic;
    case Resampling::nearest: return Kernel::nearest;
    default: return size <= 1 ? Kernel::box : Kernel::tent;
    }
}

constexpr long long unit_samples = 1LL << 22;  // samples one read takes: 16 MiB of floats
constexpr long long unit_cells = 1LL << 20;    // cells one read's sums cover: 16 MiB of doubles
constexpr int ledger_rows = 32;                // grid rows summed and finished together
constexpr size_t waiting_cap = 128u << 20;     // bytes of sums held for their turn before readers wait

// A whole number from a rounded double, held within ±2^62 (NaN: 0): georeferencing from a file can
// put samples anywhere, and a conversion out of range is undefined.
long long whole(double v) {
    constexpr double limit = 4611686018427387904.0;
    return v != v ? 0 : static_cast<long long>(std::clamp(v, -limit, limit));
}

// Keys' cubic convolution (a = -0.5), for |x| in kernel widths.
double keys(double x) {
    x = std::fabs(x);
    if (x < 1) return (1.5 * x - 2.5) * x * x + 1;
    if (x < 2) return ((-0.5 * x + 2.5) * x - 4) * x + 2;
    return 0;
}

// How far from a sample's centre, in cells, its weight reaches.
double reach(const Axis &ax) {
    const double r = std::max(ax.b, 1.0);
    switch (ax.kernel) {
    case Kernel::tent: return r;
    case Kernel::cubic: return 2 * r;
    default: return ax.b / 2;
    }
}

// The cells sample g reaches, c0 ... c1-1 (some may get no weight), and its weight in cell c.
void cells_of(const Axis &ax, long long g, long long &c0, long long &c1) {
    const double e0 = ax.a + ax.b * g, e1 = ax.a + ax.b * (g + 1), m = (e0 + e1) / 2;
    switch (ax.kernel) {
    case Kernel::box:
        c0 = whole(std::floor(e0)), c1 = whole(std::ceil(e1));
        break;
    case Kernel::nearest:
        c0 = whole(std::ceil(e0 - 0.5)), c1 = whole(std::ceil(e1 - 0.5));
        break;
    default: {
        const double s = reach(ax);
        c0 = whole(std::floor(m - s - 0.5)), c1 = whole(std::ceil(m + s - 0.5)) + 1;
    }
    }
}

double weight(const Axis &ax, long long g, long long c) {
    const double e0 = ax.a + ax.b * g, e1 = ax.a + ax.b * (g + 1), m = (e0 + e1) / 2;
    switch (ax.kernel) {
    case Kernel::box: return std::max(0.0, std::min(e1, c + 1.0) - std::max(e0, static_cast<double>(c)));
    case Kernel::nearest: return c + 0.5 >= e0 && c + 0.5 < e1 ? 1 : 0;
    case Kernel::tent: return std::max(0.0, 1 - std::fabs(c + 0.5 - m) / std::max(ax.b, 1.0));
    case Kernel::cubic: return keys((c + 0.5 - m) / std::max(ax.b, 1.0));
    }
    return 0;
}

// The cells lo ... hi-1 that samples g0 ... g0+n-1 reach: [c0, c1), empty when c0 >= c1.
void span_of(const Axis &ax, long long g0, int n, int lo, int hi, int &c0, int &c1) {
    long long a0, a1, b0, b1;
    cells_of(ax, g0, a0, a1);
    cells_of(ax, g0 + n - 1, b0, b1);
    c0 = static_cast<int>(std::clamp<long long>(a0, lo, hi));
    c1 = static_cast<int>(std::clamp<long long>(b1, lo, hi));
}

// One tile as it is read: the level (overview) chosen, its axes in the order of the ground, and
// the samples of it that reach the box.
struct TilePlan {
    const Tile *tile = nullptr;
    int level = -1;             // GDAL's overview index; -1: the full resolution
    int lw = 0, lh = 0;         // that level's size
    Axis x, y;                  // in ground order: sample 0 is the western column, the northern row
    bool flip_x = false, flip_y = false;  // the file runs against the ground on that axis
    long long gx0 = 0, gx1 = 0, gy0 = 0, gy1 = 0;  // the samples, in ground order, that reach the box
    // Samples [x0, x1) x [y0, y1) (ground order) that other tiles cover too, one range per tile:
    // each of them counts for 1/n where n tiles cover it, so that an overlap is counted once.
    std::vector<std::array<long long, 4>> shared;
};

// One read: a window of one tile, and the cells it adds to.
struct Unit {
    int plan = 0;
    long long gx0 = 0, gy0 = 0;  // its first sample in ground order
    int nx = 0, ny = 0;
    int cx0 = 0, cx1 = 0, cy0 = 0, cy1 = 0;
    long long samples() const { return static_cast<long long>(nx) * ny; }
};

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

// The samples g of an n-sample axis whose weight can reach cells lo ... hi-1.
void reaching(const Axis &ax, int n, int lo, int hi, long long &g0, long long &g1) {
    const double s = reach(ax) + 1;
    g0 = std::max(0LL, whole(std::floor((lo - s - ax.a) / ax.b)));
    g1 = std::min(static_cast<long long>(n), whole(std::ceil((hi + s - ax.a) / ax.b)) + 1);
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
        auto at = [](double v, double o, double size) { return whole(std::floor((v - o) / size)); };
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
        lo = std::clamp<long long>(whole(std::floor(a - 0.5)) + 1, 0, n);
        hi = std::clamp<long long>(whole(std::ceil(b - 0.5)), 0, n);
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
    // Columns split only when one block row of the whole width is too much.
    const long long col_step = static_cast<long long>(t.block_h) * nx > unit_samples
                                   ? step_of(nx, t.block_h, unit_samples, t.block_w)
                                   : nx;
    // The cells a row of samples adds to: fewer than its samples when shrinking, many more when enlarging.
    const double cells_across = std::min<double>(p.w, col_step * tp.x.b + 2 * reach(tp.x) + 2);
    const long long row_step = std::min(step_of(ny, col_step, unit_samples, t.block_h),
                                        step_of(ny, whole(std::ceil(cells_across * tp.y.b)) + 1, unit_cells,
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

// A band matrix of weights: row i (a sample, or a cell) gives columns first[i] ... first[i]+per-1
// the weights w[i·per ...]; columns outside the range asked for get none.
struct Weights {
    int per = 0;
    std::vector<int> first;
    std::vector<double> w;
};

// Per sample g0 ... g0+n-1: the cells c0 ... c1-1 it adds to.
void by_sample(const Axis &ax, long long g0, int n, int c0, int c1, Weights &out) {
    out.per = 0;
    std::vector<long long> lo(static_cast<size_t>(n)), hi(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        cells_of(ax, g0 + i, lo[i], hi[i]);
        lo[i] = std::clamp<long long>(lo[i], c0, c1), hi[i] = std::clamp<long long>(hi[i], c0, c1);
        out.per = std::max(out.per, static_cast<int>(hi[i] - lo[i]));
    }
    out.first.assign(static_cast<size_t>(n), c0);
    out.w.assign(static_cast<size_t>(n) * out.per, 0.0);
    for (int i = 0; i < n; ++i) {
        const int f = static_cast<int>(std::clamp<long long>(lo[i], c0, c1 - out.per));
        out.first[i] = f;
        for (long long c = lo[i]; c < hi[i]; ++c) out.w[static_cast<size_t>(i) * out.per + (c - f)] = weight(ax, g0 + i, c);
    }
}

// Per cell c0 ... c1-1: the samples (0 ... n-1, from g0) that add to it.
void by_cell(const Axis &ax, long long g0, int n, int c0, int c1, Weights &out) {
    // The samples whose weight may reach cell c, from the kernel's reach about each sample's
    // centre and the cell's half width, narrowed to those that do: a sample at a time would
    // cost the memory of every sample when thousands fall in a cell.
    const double e = reach(ax) + 0.5;
    const int cells = c1 - c0;
    std::vector<int> lo(static_cast<size_t>(cells)), hi(static_cast<size_t>(cells));
    out.per = 1;
    for (int c = 0; c < cells; ++c) {
        const double centre = c0 + c + 0.5;
        long long l = std::max(g0, whole(std::floor((centre - e - ax.a) / ax.b - 0.5)));
        long long h = std::min(g0 + n, whole(std::ceil((centre + e - ax.a) / ax.b - 0.5)) + 1);
        while (l < h && weight(ax, l, c0 + c) == 0) ++l;
        while (h > l && weight(ax, h - 1, c0 + c) == 0) --h;
        lo[c] = static_cast<int>(l - g0), hi[c] = static_cast<int>(h - g0);
        out.per = std::max(out.per, hi[c] - lo[c]);
    }
    out.per = std::min(out.per, n);
    out.first.assign(static_cast<size_t>(cells), 0);
    out.w.assign(static_cast<size_t>(cells) * out.per, 0.0);
    for (int c = 0; c < cells; ++c) {
        if (hi[c] <= lo[c]) continue;
        const int f = std::clamp(lo[c], 0, n - out.per);
        out.first[c] = f;
        for (int i = lo[c]; i < hi[c]; ++i) out.w[static_cast<size_t>(c) * out.per + (i - f)] = weight(ax, g0 + i, c0 + c);
    }
}

// A unit's sums over its cells, value × weight and weight, rows of cx1 - cx0; none when it holds
// no valid sample.
struct Sums {
    int unit = 0;
    std::vector<double> sum, wt;
    size_t bytes() const { return (sum.size() + wt.size()) * sizeof(double); }
};

// One reader thread's GDAL handle: the tile it has open and that level's bands.
// One reader thread's GDAL handles: the last few tiles it read, kept open, as reads in the order of
// the grid's rows go from tile to tile and back; and its buffers.
struct Reader {
    struct Open {
        int tile = -1;
        Dataset ds;
    };
    std::vector<Open> open;  // most recently used last
    GDALRasterBandH band = nullptr, mask = nullptr;
    std::vector<float> z;
    std::vector<uint8_t> cover;
    std::vector<double> val, ok, rowsum, rowwt, share;
    Weights wx, wy;
};
constexpr size_t handles_kept = 4;

bool open_level(Reader &rd, const TilePlan &tp, int tile) {
    auto it = std::find_if(rd.open.begin(), rd.open.end(), [&](const Reader::Open &o) { return o.tile == tile; });
    Reader::Open o;
    if (it != rd.open.end()) {
        o = std::move(*it);
        rd.open.erase(it);
    } else {
        o.tile = tile;
        o.ds = open_dataset(tp.tile->name);
        if (!o.ds) return false;
        if (rd.open.size() >= handles_kept) rd.open.erase(rd.open.begin());
    }
    GDALRasterBandH b = GDALGetRasterBand(o.ds.get(), 1);
    rd.band = tp.level < 0 ? b : GDALGetOverview(b, tp.level);
    rd.mask = rd.band && tp.tile->masked ? GDALGetMaskBand(rd.band) : nullptr;
    rd.open.push_back(std::move(o));
    return rd.band != nullptr && (!tp.tile->masked || rd.mask != nullptr);
}

// Reads unit `u` and sums it over its cells, in the order of the ground, so that a file that runs
// against it gives the same sums as its twin that does not.
bool sum_unit(Reader &rd, const TilePlan &tp, int tile, const Unit &u, Sums &out) {
    if (!open_level(rd, tp, tile)) return false;
    const Tile &t = *tp.tile;
    const int nx = u.nx, ny = u.ny;
    const long long fx0 = tp.flip_x ? tp.lw - u.gx0 - nx : u.gx0, fy0 = tp.flip_y ? tp.lh - u.gy0 - ny : u.gy0;
    const size_t n = static_cast<size_t>(nx) * ny;
    // A part that a sparse file leaves out reads as NoData: nothing to decode. (Without a NoData
    // value it would read as zeros, and GDAL also calls a corrupt file's missing parts empty:
    // those are read, so that their failure shows.)
    if ((t.has_nodata || t.masked) &&
        GDALGetDataCoverageStatus(rd.band, static_cast<int>(fx0), static_cast<int>(fy0), nx, ny, 0, nullptr) ==
            GDAL_DATA_COVERAGE_STATUS_EMPTY)
        return true;
    rd.z.resize(n);
    if (GDALRasterIO(rd.band, GF_Read, static_cast<int>(fx0), static_cast<int>(fy0), nx, ny, rd.z.data(), nx, ny,
                          GDT_Float32, 0, 0) != CE_None)
        return false;
    if (rd.mask) {
        rd.cover.resize(n);
        if (GDALRasterIO(rd.mask, GF_Read, static_cast<int>(fx0), static_cast<int>(fy0), nx, ny, rd.cover.data(), nx, ny,
                         GDT_Byte, 0, 0) != CE_None)
            return false;
    }
    Weights &wx = rd.wx, &wy = rd.wy;
    by_cell(tp.x, u.gx0, nx, u.cx0, u.cx1, wx);
    by_sample(tp.y, u.gy0, ny, u.cy0, u.cy1, wy);
    const int fw = u.cx1 - u.cx0;
    out.sum.assign(static_cast<size_t>(fw) * (u.cy1 - u.cy0), 0.0);
    out.wt.assign(out.sum.size(), 0.0);
    rd.val.resize(static_cast<size_t>(nx)), rd.ok.resize(static_cast<size_t>(nx)), rd.share.resize(static_cast<size_t>(nx));
    rd.rowsum.resize(static_cast<size_t>(fw)), rd.rowwt.resize(static_cast<size_t>(fw));
    const float nodata = static_cast<float>(t.nodata);
    const bool has_nodata = t.has_nodata && std::isfinite(nodata);
    for (int j = 0; j < ny; ++j) {
        const size_t row = static_cast<size_t>(tp.flip_y ? ny - 1 - j : j) * nx;
        const float *z = rd.z.data() + row;
        const uint8_t *c = rd.mask ? rd.cover.data() + row : nullptr;
        const long long gy = u.gy0 + j;
        std::fill(rd.share.begin(), rd.share.end(), 1.0);
        for (const auto &[x0, x1, y0, y1] : tp.shared)
            if (gy >= y0 && gy < y1)
                for (long long g = std::max(x0, u.gx0); g < std::min(x1, u.gx0 + nx); ++g) rd.share[g - u.gx0] += 1;
        // The row as heights in ground order, voids at weight 0; infinities and values beyond
        // the float range are no heights either.
        for (int i = 0; i < nx; ++i) {
            const int k = tp.flip_x ? nx - 1 - i : i;
            const float v = z[k];
            const bool good = std::fabs(v) < FLT_MAX && !(has_nodata && v == nodata) && (!c || c[k]);
            rd.ok[i] = good ? 1 / rd.share[i] : 0;
            rd.val[i] = good ? (v * t.scale + t.offset) * rd.ok[i] : 0;
        }
        for (int cx = 0; cx < fw; ++cx) {
            const double *w = wx.w.data() + static_cast<size_t>(cx) * wx.per;
            const double *v = rd.val.data() + wx.first[cx], *g = rd.ok.data() + wx.first[cx];
            double s = 0, ws = 0;
            for (int k = 0; k < wx.per; ++k) s += v[k] * w[k], ws += g[k] * w[k];
            rd.rowsum[cx] = s, rd.rowwt[cx] = ws;
        }
        for (int k = 0; k < wy.per; ++k) {
            const double w = wy.w[static_cast<size_t>(j) * wy.per + k];
            if (w == 0) continue;
            const size_t at = static_cast<size_t>(wy.first[j] + k - u.cy0) * fw;
            double *s = out.sum.data() + at, *ws = out.wt.data() + at;
            for (int cx = 0; cx < fw; ++cx) s[cx] += w * rd.rowsum[cx], ws[cx] += w * rd.rowwt[cx];
        }
    }
    return true;
}

// The grid's sums, ledger_rows rows at a time: made when a unit first adds to them, finished into
// the field (and freed) when the last unit that reaches them has added.
class Ledger {
public:
    Ledger(const Placement &p, const std::vector<Unit> &units, Field &f) : p_(p), f_(f) {
        const int bands = (p.grid_h + ledger_rows - 1) / ledger_rows;
        pending_.assign(static_cast<size_t>(bands), 0);
        sums_.resize(static_cast<size_t>(bands));
        for (const Unit &u : units)
            for (int b = u.cy0 / ledger_rows; b <= (u.cy1 - 1) / ledger_rows; ++b) ++pending_[b];
    }

    void add(const Unit &u, const Sums &s) {
        const int fw = u.cx1 - u.cx0;
        for (int b = u.cy0 / ledger_rows; b <= (u.cy1 - 1) / ledger_rows; ++b) {
            Band &band = sums_[b];
            if (s.sum.empty()) {
                if (--pending_[b] == 0) finish(b);
                continue;
            }
            if (band.sum.empty()) {
                band.sum.assign(static_cast<size_t>(ledger_rows) * p_.w, 0.0);
                band.wt.assign(band.sum.size(), 0.0);
            }
            const int y0 = std::max(u.cy0, b * ledger_rows), y1 = std::min(u.cy1, (b + 1) * ledger_rows);
            for (int y = y0; y < y1; ++y) {
                const size_t from = static_cast<size_t>(y - u.cy0) * fw;
                const size_t to = static_cast<size_t>(y - b * ledger_rows) * p_.w + (u.cx0 - p_.x0);
                for (int i = 0; i < fw; ++i) band.sum[to + i] += s.sum[from + i], band.wt[to + i] += s.wt[from + i];
            }
            if (--pending_[b] == 0) finish(b);
        }
    }

private:
    struct Band {
        std::vector<double> sum, wt;
    };

    void finish(int b) {
        Band &band = sums_[b];
        if (band.sum.empty()) return;
        const int y0 = std::max(p_.y0, b * ledger_rows), y1 = std::min(p_.y0 + p_.h, (b + 1) * ledger_rows);
        for (int y = y0; y < y1; ++y) {
            const size_t from = static_cast<size_t>(y - b * ledger_rows) * p_.w;
            const size_t to = static_cast<size_t>(y) * f_.w + p_.x0;
            for (int i = 0; i < p_.w; ++i) {
                const double w = band.wt[from + i];
                // A cell that no valid sample reaches stays a void; the cubic kernel's negative
                // lobes can leave next to nothing of a weight, which says as little.
                if (!(w > 1e-9)) continue;
                f_.z[to + i] = static_cast<float>(band.sum[from + i] / w);
                f_.voids[to + i] = 0;
            }
        }
        band = Band{};
    }

    const Placement &p_;
    Field &f_;
    std::vector<int> pending_;
    std::vector<Band> sums_;
};

// Reads go out in order; their sums are added in that same order whatever thread finishes first,
// so that the map is the same from run to run.
class Merger {
public:
    Merger(Ledger &ledger, const std::vector<Unit> &units) : ledger_(ledger), units_(units) {}

    // Waits until unit u may start: it is next to be added, or few sums are waiting.
    bool may_start(int u) {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return failed_ || u == next_ || waiting_ < waiting_cap; });
        return !failed_;
    }

    void done(Sums &&s) {
        std::unique_lock<std::mutex> lock(m_);
        waiting_ += s.bytes();
        const int u = s.unit;
        held_.emplace(u, std::move(s));
        for (auto it = held_.begin(); it != held_.end() && it->first == next_; it = held_.erase(it)) {
            ledger_.add(units_[static_cast<size_t>(next_)], it->second);
            waiting_ -= it->second.bytes();
            ++next_;
        }
        cv_.notify_all();
    }

    void fail() {
        std::lock_guard<std::mutex> lock(m_);
        failed_ = true;
        cv_.notify_all();
    }

private:
    Ledger &ledger_;
    const std::vector<Unit> &units_;
    std::mutex m_;
    std::condition_variable cv_;
    std::map<int, Sums> held_;
    size_t waiting_ = 0;
    int next_ = 0;
    bool failed_ = false;
};

}  // namespace

Window window_of(double x, double y, double w, double h, int raster_w, int raster_h, GDALRIOResampleAlg alg) {
    Window win;
    win.x0 = static_cast<int>(std::clamp<long long>(whole(std::floor(x)), 0, raster_w));
    win.y0 = static_cast<int>(std::clamp<long long>(whole(std::floor(y)), 0, raster_h));
    win.w = static_cast<int>(std::clamp<long long>(whole(std::ceil(x + w)), win.x0, raster_w)) - win.x0;
    win.h = static_cast<int>(std::clamp<long long>(whole(std::ceil(y + h)), win.y0, raster_h)) - win.y0;
    INIT_RASTERIO_EXTRA_ARG(win.extra);
    win.extra.eResampleAlg = alg;
    win.extra.bFloatingPointWindowValidity = TRUE;
    win.extra.dfXOff = x, win.extra.dfYOff = y, win.extra.dfXSize = w, win.extra.dfYSize = h;
    return win;
}

bool for_bands(int bands, int threads, const std::function<bool(int thread, int band)> &fn,
               const std::function<void(double)> &progress) {
    std::atomic<int> next{0}, done{0};
    std::atomic<bool> ok{true};
    auto work = [&](int t) {
        for (int b; ok && (b = next++) < bands;) {
            if (!fn(t, b)) ok = false;
            const int d = ++done;
            if (t == 0 && progress) progress(static_cast<double>(d) / bands);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work, t);
    work(0);
    for (std::thread &t : pool) t.join();
    return ok;
}

int reader_threads(const HeightSource &src) {
    return src.sequential ? 1 : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

Status read_field(const HeightSource &src, const Placement &p, Resampling r, Field &f,
                  const std::function<void(double)> &progress, double max_samples) {
    max_samples = std::min(max_samples, max_read_samples);
    std::vector<TilePlan> plans;
    std::vector<Unit> units;
    std::vector<double> per_tile;
    double total = 0;
    const std::vector<std::vector<int>> others = overlapping(src.tiles);
    // The samples reaching the box are counted before any read is planned: a huge raster of small
    // blocks would otherwise be cut into more reads than memory holds before it is refused.
    for (size_t i = 0; i < src.tiles.size(); ++i) {
        const Tile &t = src.tiles[i];
        plans.push_back(plan_tile(t, p, r));
        for (int o : others[i]) plans.back().shared.push_back(inside(plans.back(), src.tiles[o]));
        const TilePlan &tp = plans.back();
        const double n = static_cast<double>(std::max(0LL, tp.gx1 - tp.gx0)) * static_cast<double>(std::max(0LL, tp.gy1 - tp.gy0));
        per_tile.push_back(n);
        total += n;
    }
    if (total > max_samples) {
        const size_t big = static_cast<size_t>(std::max_element(per_tile.begin(), per_tile.end()) - per_tile.begin());
        char b[160];
        std::snprintf(b, sizeof b, "%.3g samples to read at the resolution needed, more than the %.3g mvx reads", total,
                      max_samples);
        return Status::fail(src.label + ": " + b + "; build overviews first (gdaladdo -r average " +
                            src.tiles[big].path + "), or import a part with --bounds");
    }
    for (size_t i = 0; i < plans.size(); ++i) cut_units(plans[i], static_cast<int>(i), p, units);
    total = 0;  // what is read, for the progress: reads that reach no cell are left out
    for (const Unit &u : units) total += static_cast<double>(u.samples());
    f.w = p.grid_w, f.h = p.grid_h;
    f.z.assign(static_cast<size_t>(f.w) * f.h, 0.0f);
    f.voids.assign(static_cast<size_t>(f.w) * f.h, 1);
    if (units.empty()) return {};

    // Reads in the order of the grid's rows, so that only the sums of a few rows are held at once
    // however the tiles lie; but a tile that decodes front to back is read at once, in the order
    // of its file, as one job, so that one reader goes through it once.
    {
        std::vector<int> first_row(plans.size(), p.grid_h);
        for (const Unit &u : units) first_row[u.plan] = std::min(first_row[u.plan], u.cy0);
        auto key = [&](const Unit &u) {
            const TilePlan &tp = plans[u.plan];
            const bool seq = tp.tile->sequential;
            return std::make_tuple(seq ? first_row[u.plan] : u.cy0, u.plan, seq && tp.flip_y ? -u.gy0 : u.gy0, u.gx0);
        };
        std::stable_sort(units.begin(), units.end(), [&](const Unit &a, const Unit &b) { return key(a) < key(b); });
    }
    // Jobs: one per unit, or a sequential tile's units together.
    std::vector<std::pair<int, int>> jobs;
    for (int u = 0; u < static_cast<int>(units.size());) {
        int v = u + 1;
        if (plans[units[u].plan].tile->sequential)
            while (v < static_cast<int>(units.size()) && units[v].plan == units[u].plan) ++v;
        jobs.emplace_back(u, v);
        u = v;
    }
    Ledger ledger(p, units, f);
    Merger merger(ledger, units);
    // A small read is not worth a second thread; the work is in the samples and, when enlarging,
    // in the many cells each one reaches.
    double effort = total;
    for (const Unit &u : units) effort += static_cast<double>(u.cx1 - u.cx0) * (u.cy1 - u.cy0);
    const int threads = std::min<int>(static_cast<int>(jobs.size()),
                                      effort < (1 << 18) ? 1 : static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    std::atomic<int> next{0};
    std::atomic<long long> read{0};
    std::mutex m;
    std::string failure;
    auto work = [&](int thread) {
        Reader rd;
        for (int j; (j = next++) < static_cast<int>(jobs.size());) {
            for (int u = jobs[j].first; u < jobs[j].second; ++u) {
                if (!merger.may_start(u)) return;
                const Unit &unit = units[static_cast<size_t>(u)];
                Sums s;
                s.unit = u;
                if (!sum_unit(rd, plans[unit.plan], unit.plan, unit, s)) {
                    std::lock_guard<std::mutex> lock(m);
                    if (failure.empty())
                        failure = plans[unit.plan].tile->path + ": cannot read: " + gdal_reason_or("GDAL failed");
                    merger.fail();
                    return;
                }
                merger.done(std::move(s));
                const long long d = read += unit.samples();
                if (thread == 0 && progress) progress(std::min(1.0, static_cast<double>(d) / total));
            }
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work, t);
    work(0);
    for (std::thread &t : pool) t.join();
    if (!failure.empty()) return Status::fail(failure);
    return {};
}

double samples_at_resolution(GDALRasterBandH band, double sw, double sh, int w, int h) {
    double factor = 1;
    const double full = GDALGetRasterBandXSize(band);
    for (int i = 0; i < GDALGetOverviewCount(band); ++i) {
        const double f = full / GDALGetRasterBandXSize(GDALGetOverview(band, i));
        if (sw / f >= w && sh / f >= h) factor = std::max(factor, f);
    }
    return (sw / factor) * (sh / factor);
}

namespace {

// Bytes one block of `band` holds in GDAL's cache: a file that interleaves its bands by pixel
// decodes all of them together.
double block_bytes(GDALRasterBandH band, int &bw, int &bh) {
    GDALGetBlockSize(band, &bw, &bh);
    double bytes = static_cast<double>(bw) * bh * GDALGetDataTypeSizeBytes(GDALGetRasterDataType(band));
    GDALDatasetH ds = GDALGetBandDataset(band);
    const char *interleave = ds ? GDALGetMetadataItem(ds, "INTERLEAVE", "IMAGE_STRUCTURE") : nullptr;
    if (interleave && !std::strcmp(interleave, "PIXEL")) bytes *= GDALGetRasterCount(ds);
    return bytes;
}

}  // namespace

Status check_read(const std::string &label, GDALRasterBandH band, double samples, double max_samples,
                  const std::string &hint) {
    char b[240];
    if (samples > max_samples) {
        std::snprintf(b, sizeof b, "%.3g samples to read at the resolution needed, more than the %.3g mvx reads", samples,
                      max_samples);
        return Status::at(label, std::string(b) + "; " + hint);
    }
    int bw = 0, bh = 0;
    if (const double bytes = block_bytes(band, bw, bh); bytes > max_block_bytes) {
        std::snprintf(b, sizeof b, "its blocks of %d x %d samples take %.0f MiB each, more than the %.0f MiB mvx decodes at once",
                      bw, bh, bytes / 1048576, max_block_bytes / 1048576);
        return Status::at(label, std::string(b) + "; rewrite it in tiles (gdal_translate -co TILED=YES)");
    }
    return {};
}

Status sample_pixels(const std::string &label, GDALDatasetH ds, int n, bool sequential,
                     const std::function<bool(const double *values, size_t count)> &fn, bool &whole) {
    // The levels every band has alike, finest first: the full resolution, then the overviews.
    std::vector<std::vector<GDALRasterBandH>> levels(1);
    for (int b = 1; b <= n; ++b) levels[0].push_back(GDALGetRasterBand(ds, b));
    for (int i = 0; i < GDALGetOverviewCount(levels[0][0]); ++i) {
        std::vector<GDALRasterBandH> level;
        for (GDALRasterBandH band : levels[0]) {
            GDALRasterBandH o = i < GDALGetOverviewCount(band) ? GDALGetOverview(band, i) : nullptr;
            if (!o || GDALGetRasterBandXSize(o) != GDALGetRasterBandXSize(GDALGetOverview(levels[0][0], i)) ||
                GDALGetRasterBandYSize(o) != GDALGetRasterBandYSize(GDALGetOverview(levels[0][0], i)))
                break;
            level.push_back(o);
        }
        if (static_cast<int>(level.size()) == n) levels.push_back(level);
    }
    auto pixels = [](const std::vector<GDALRasterBandH> &l) {
        return static_cast<double>(GDALGetRasterBandXSize(l[0])) * GDALGetRasterBandYSize(l[0]);
    };
    std::stable_sort(levels.begin() + 1, levels.end(), [&](const auto &a, const auto &b) { return pixels(a) > pixels(b); });
    size_t pick = levels.size() - 1;
    for (size_t i = 0; i < levels.size(); ++i)
        if (pixels(levels[i]) <= max_sample_pixels) {
            pick = i;
            break;
        }
    const std::vector<GDALRasterBandH> &level = levels[pick];
    const long long lw = GDALGetRasterBandXSize(level[0]), lh = GDALGetRasterBandYSize(level[0]);
    if (Status st = check_read(label, level[0], 0, max_read_samples, ""); !st.ok) return st;

    // The windows to read, in this level's pixels: all of it, its first rows, or blocks spread over it.
    struct Box {
        long long x, y, w, h;
    };
    std::vector<Box> boxes;
    if (pixels(level) <= max_sample_pixels) {
        boxes.push_back({0, 0, lw, lh});
    } else if (sequential) {
        boxes.push_back({0, 0, lw, std::clamp(static_cast<long long>(max_sample_pixels / lw), 1LL, lh)});
    } else {
        int bw = 0, bh = 0;
        GDALGetBlockSize(level[0], &bw, &bh);
        bw = std::max(bw, 1), bh = std::max(bh, 1);
        const long long across = (lw + bw - 1) / bw, down = (lh + bh - 1) / bh;
        const long long blocks = std::max(1LL, static_cast<long long>(max_sample_pixels / (static_cast<double>(bw) * bh)));
        const long long kx = std::clamp(static_cast<long long>(std::sqrt(static_cast<double>(blocks))), 1LL, across);
        const long long ky = std::clamp(blocks / kx, 1LL, down);
        for (long long j = 0; j < ky; ++j)
            for (long long i = 0; i < kx; ++i) {
                const long long bx = (2 * i + 1) * across / (2 * kx), by = (2 * j + 1) * down / (2 * ky);
                boxes.push_back({bx * bw, by * bh, std::min<long long>(bw, lw - bx * bw), std::min<long long>(bh, lh - by * bh)});
            }
    }
    whole = pick == 0 && boxes.size() == 1 && boxes[0].w == lw && boxes[0].h == lh;

    // Each window in pieces of at most 64 Ki pixels, every band of a piece together.
    constexpr long long piece = 65536;
    std::vector<double> buf;
    for (const Box &box : boxes)
        for (long long x = box.x; x < box.x + box.w; x += std::min(box.w, piece)) {
            const long long pw = std::min(piece, box.x + box.w - x), rows = std::max(1LL, piece / pw);
            for (long long y = box.y; y < box.y + box.h; y += rows) {
                const long long ph = std::min(rows, box.y + box.h - y);
                const size_t count = static_cast<size_t>(pw * ph);
                buf.resize(count * n);
                for (int b = 0; b < n; ++b)
                    if (GDALRasterIO(level[b], GF_Read, static_cast<int>(x), static_cast<int>(y), static_cast<int>(pw),
                                     static_cast<int>(ph), buf.data() + b * count, static_cast<int>(pw), static_cast<int>(ph),
                                     GDT_Float64, 0, 0) != CE_None)
                        return Status::at(label, "cannot read: " + gdal_reason_or("GDAL failed"));
                if (!fn(buf.data(), count)) return {};
            }
        }
    return {};
}
