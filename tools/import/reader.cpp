// The reader: one read of a tile decoded, its voids masked, its samples summed across and then down into the cells.
#include "import/reader.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <emmintrin.h>
#include <limits>
#include <type_traits>

namespace engine {

namespace {

// Sample rows taken together: each cell's weights are then applied to this many rows at once,
// which the compiler turns into vector operations.
constexpr int group = 8;
constexpr size_t handles_kept = 4;

// A sample's values in the first 2P rows of a group, two rows a vector (as every x86-64 has
// them), held in registers while a cell's samples are added.
typedef double Pair __attribute__((vector_size(2 * sizeof(double)), aligned(sizeof(double)), may_alias));
template <int P>
struct PairSums {
    Pair v[P];
    PairSums() {
        for (int i = 0; i < P; ++i) v[i] = Pair{0, 0};
    }
    void add(const double *p, double w) {
        const Pair *q = reinterpret_cast<const Pair *>(p);
        for (int i = 0; i < P; ++i) v[i] += q[i] * w;
    }
    // Row r's value to p[r · stride].
    void put(double *p, size_t stride) const {
        for (int i = 0; i < P; ++i) p[2 * i * stride] = v[i][0], p[(2 * i + 1) * stride] = v[i][1];
    }
};
static_assert(group == 8, "a group is four pairs of rows");

// The sums of a cell's samples over the group's first 2P rows: values from `val`, and weights
// from `ok` when the cell has a void or a shared sample under it (else its weight `total` stands).
template <int P>
void sum_cell(const double *val, const double *ok, const double *w, long long n, bool odd, double *sum, double *wt,
              size_t stride) {
    PairSums<P> s;
    for (long long k = 0; k < n; ++k) s.add(val + k * group, w[k]);
    s.put(sum, stride);
    if (!odd) return;
    PairSums<P> ws;
    for (long long k = 0; k < n; ++k) ws.add(ok + k * group, w[k]);
    ws.put(wt, stride);
}
constexpr double inf = std::numeric_limits<double>::infinity();

// Calls f with each flag as a compile-time constant, so that the loop it runs is made for them.
template <class F>
void with_flags(F &&f) {
    f();
}
template <class F, class... Rest>
void with_flags(F &&f, bool first, Rest... rest) {
    if (first)
        with_flags([&](auto... b) { f(std::true_type{}, b...); }, rest...);
    else
        with_flags([&](auto... b) { f(std::false_type{}, b...); }, rest...);
}

// Columns of a group's first `count` rows, rounded up to pairs (row s at rows[s], its mask at
// covers[s]) as heights, interleaved
// sample by sample: a void (NoData, masked, NaN, an infinity or a value beyond the float range) at
// value and share 0 and height infinity, any other at share 1. odd[i] counts the samples before i
// whose rows are not all whole. Compared as doubles (every float is one), two rows at a time, each
// comparison giving both rows' masks (SSE2, which every x86-64 has).
template <bool flip, bool masked, bool heights>
void mask_whole_columns(const float *const *rows, const uint8_t *const *covers, int count, int nx, float nodata,
                        double scale, double offset, double *val, double *ok, double *height, int *odd) {
    const __m128d lo = _mm_set1_pd(-FLT_MAX), hi = _mm_set1_pd(FLT_MAX), none = _mm_set1_pd(nodata), one = _mm_set1_pd(1.0);
    const __m128d times = _mm_set1_pd(scale), plus = _mm_set1_pd(offset), infinite = _mm_set1_pd(inf);
    odd[0] = 0;
    for (int i = 0; i < nx; ++i) {
        const size_t k = static_cast<size_t>(flip ? nx - 1 - i : i), at = static_cast<size_t>(i) * group;
        __m128d whole = _mm_cmpeq_pd(one, one);
        for (int p = 0; p < count; p += 2) {
            const __m128d d = _mm_set_pd(rows[p + 1][k], rows[p][k]);
            __m128d g = _mm_and_pd(_mm_and_pd(_mm_cmpgt_pd(d, lo), _mm_cmplt_pd(d, hi)), _mm_cmpneq_pd(d, none));
            if (masked)
                g = _mm_and_pd(g, _mm_castsi128_pd(_mm_set_epi64x(-static_cast<long long>(covers[p + 1][k] != 0),
                                                                   -static_cast<long long>(covers[p][k] != 0))));
            const __m128d h = _mm_add_pd(_mm_mul_pd(d, times), plus);
            _mm_storeu_pd(ok + at + p, _mm_and_pd(g, one));
            _mm_storeu_pd(val + at + p, _mm_and_pd(g, h));
            if (heights) _mm_storeu_pd(height + at + p, _mm_or_pd(_mm_and_pd(g, h), _mm_andnot_pd(g, infinite)));
            whole = _mm_and_pd(whole, g);
        }
        odd[i + 1] = odd[i] + (_mm_movemask_pd(whole) != 3);
    }
}

}  // namespace

bool Reader::open_level(const TilePlan &tp, int tile) {
    auto it = std::find_if(open_.begin(), open_.end(), [&](const Open &o) { return o.tile == tile; });
    Open o;
    if (it != open_.end()) {
        o = std::move(*it);
        open_.erase(it);
    } else {
        o.tile = tile;
        if (tp.tile->opened) o.at = tp.tile->opened->take();
        if (!o.at.ds && !o.at.tiff) o.at.ds = open_dataset(tp.tile->name);
        if (!o.at.ds && !o.at.tiff) return false;
        if (open_.size() >= handles_kept) open_.erase(open_.begin());
    }
    own_blocks_ = tp.level < 0 && (o.at.tiff ? blocks_.attach(o.at.tiff->tif()) : blocks_.attach(o.at.ds.get()));
    open_.push_back(std::move(o));
    band_ = mask_ = nullptr;
    // libtiff's handle alone serves until a block needs GDAL.
    return (own_blocks_ && !open_.back().at.ds) || gdal_band(tp);
}

// The tile's band (or overview) and mask as GDAL reads them, its dataset opened now if it was not.
bool Reader::gdal_band(const TilePlan &tp) {
    Dataset &ds = open_.back().at.ds;
    if (!ds) ds = open_dataset(tp.tile->name);
    if (!ds) return false;
    GDALRasterBandH b = GDALGetRasterBand(ds.get(), 1);
    band_ = tp.level < 0 ? b : GDALGetOverview(b, tp.level);
    mask_ = band_ && tp.tile->masked ? GDALGetMaskBand(band_) : nullptr;
    return band_ != nullptr && (!tp.tile->masked || mask_ != nullptr);
}

// The unit's samples as the file has them (and its mask band's).
bool Reader::read_unit(const TilePlan &tp, const Unit &u) {
    const int nx = u.nx, ny = u.ny;
    const long long fx0 = tp.flip_x ? tp.lw - u.gx0 - nx : u.gx0, fy0 = tp.flip_y ? tp.lh - u.gy0 - ny : u.gy0;
    const size_t n = static_cast<size_t>(nx) * ny;
    z_.resize(n);
    const bool own = own_blocks_ && blocks_.read(static_cast<int>(fx0), static_cast<int>(fy0), nx, ny, z_.data());
    if (!own && ((!band_ && !gdal_band(tp)) || GDALRasterIO(band_, GF_Read, static_cast<int>(fx0), static_cast<int>(fy0), nx,
                                                            ny, z_.data(), nx, ny, GDT_Float32, 0, 0) != CE_None))
        return false;
    if (!mask_) return true;
    cover_.resize(n);
    return GDALRasterIO(mask_, GF_Read, static_cast<int>(fx0), static_cast<int>(fy0), nx, ny, cover_.data(), nx, ny,
                        GDT_Byte, 0, 0) == CE_None;
}

// Ground rows j0 ... j0+group-1 of the unit as heights, interleaved: a sample that n tiles cover
// at share 1/n. Rows past the unit's last are left as they are: nothing takes their sums.
void Reader::mask_rows(const TilePlan &tp, const Unit &u, int j0, bool clamp) {
    const Tile &t = *tp.tile;
    const int nx = u.nx;
    // NaN where there is no NoData value: no sample equals it.
    const float nodata = t.has_nodata && std::isfinite(static_cast<float>(t.nodata)) ? static_cast<float>(t.nodata)
                                                                                     : std::numeric_limits<float>::quiet_NaN();
    const size_t n = static_cast<size_t>(nx) * group;
    val_.resize(n), ok_.resize(n), odd_.resize(static_cast<size_t>(nx) + 1);
    if (clamp) height_.resize(n);
    // Each ground row's samples as read; past the unit's last, a row of zeros whose sums no band takes.
    if (gap_.size() < static_cast<size_t>(nx)) gap_.assign(static_cast<size_t>(nx), 0.0f);
    if (mask_ && bare_.size() < static_cast<size_t>(nx)) bare_.assign(static_cast<size_t>(nx), 1);
    const float *rows[group];
    const uint8_t *covers[group];
    for (int s = 0; s < group; ++s) {
        const int j = j0 + s;
        const size_t at = static_cast<size_t>(tp.flip_y ? u.ny - 1 - j : j) * nx;
        rows[s] = j < u.ny ? z_.data() + at : gap_.data();
        covers[s] = !mask_ ? nullptr : j < u.ny ? cover_.data() + at : bare_.data();
    }
    const int count = std::min(group, u.ny - j0);
    with_flags(
        [&](auto flip, auto masked, auto heights) {
            mask_whole_columns<flip, masked, heights>(rows, covers, count, nx, nodata, t.scale, t.offset, val_.data(),
                                                      ok_.data(), clamp ? height_.data() : nullptr, odd_.data());
        },
        tp.flip_x, mask_ != nullptr, clamp);
    if (tp.shared.empty()) return;
    // A sample that n tiles cover counts for 1/n: its value and share divided, its row odd.
    share_.assign(static_cast<size_t>(nx), 1.0);
    for (int s = 0; s < group && j0 + s < u.ny; ++s) {
        const long long gy = u.gy0 + j0 + s;
        std::fill(share_.begin(), share_.end(), 1.0);
        bool any = false;
        for (const auto &[x0, x1, y0, y1] : tp.shared)
            if (gy >= y0 && gy < y1)
                for (long long g = std::max(x0, u.gx0); g < std::min(x1, u.gx0 + nx); ++g) share_[g - u.gx0] += 1, any = true;
        if (!any) continue;
        for (int i = 0; i < nx; ++i) {
            if (share_[i] == 1.0) continue;
            const size_t at = static_cast<size_t>(i) * group + s;
            const double share = 1 / share_[i];
            // A void stays one; any other sample is its height at that share.
            if (ok_[at] != 0) val_[at] *= share, ok_[at] = share;
        }
    }
    for (int i = 0; i < nx; ++i) {
        int odd = 0;
        for (int s = 0; s < count; ++s) odd |= ok_[static_cast<size_t>(i) * group + s] != 1.0;
        odd_[i + 1] = odd_[i] + odd;
    }
}

// The group's rows summed across into the unit's cells: each cell's samples in order, their
// weights taken from the plan's table and applied to every row of the group at once.
void Reader::across(const Taps &x, const Unit &u, int rows, bool clamp) {
    const int fw = u.cx1 - u.cx0;
    rsum_.resize(static_cast<size_t>(fw) * group);
    if (clamp) rlo_.resize(rsum_.size()), rhi_.resize(rsum_.size());
    // The weights the last group wrote back to the cells' own.
    for (int c : written_)
        for (int r = 0; r < group; ++r) rwt_[static_cast<size_t>(r) * fw + c] = total_[c];
    written_.clear();
    for (int c = 0; c < fw; ++c) {
        const size_t i = static_cast<size_t>(u.cx0 + c - x.c0);
        const long long lo = x.g0 + x.from[i], hi = lo + x.count[i];
        const long long a = std::max(lo, u.gx0), b = std::min(hi, u.gx0 + u.nx);
        const double *w = x.w.data() + x.at[i] + (a - lo);
        const size_t first = static_cast<size_t>(a - u.gx0) * group;
        const long long n = b - a;
        // A cell whose samples are all whole and unshared has its weight in every row already.
        const size_t g = static_cast<size_t>(a - u.gx0);
        const bool odd = odd_[g + n] != odd_[g];
        if (odd) written_.push_back(c);
        // Only the pairs of rows the unit has: a raster a row high costs one.
        auto sum = [&](auto pairs) {
            sum_cell<decltype(pairs)::value>(val_.data() + first, ok_.data() + first, w, n, odd, rsum_.data() + c,
                                             rwt_.data() + c, fw);
        };
        switch ((rows + 1) / 2) {
        case 1: sum(std::integral_constant<int, 1>{}); break;
        case 2: sum(std::integral_constant<int, 2>{}); break;
        case 3: sum(std::integral_constant<int, 3>{}); break;
        default: sum(std::integral_constant<int, 4>{});
        }
        if (!clamp) continue;
        // The range of the heights under the cell, voids (at infinity) left out.
        for (int r = 0; r < group; ++r) {
            double l = inf, h = -inf;
            for (long long k = 0; k < n; ++k) {
                const double e = height_[first + k * group + r];
                l = std::min(l, e), h = e == inf ? h : std::max(h, e);
            }
            rlo_[static_cast<size_t>(r) * fw + c] = l, rhi_[static_cast<size_t>(r) * fw + c] = h;
        }
    }
}

// The group's rows summed across, added down: into the cell rows each reaches, or kept as they
// are when the part goes by sample row.
void Reader::down(const Taps &y, const Unit &u, int j0, bool clamp, Part &out) {
    const int fw = out.width;
    for (int r = 0; r < group && j0 + r < u.ny; ++r) {
        const size_t from = static_cast<size_t>(r) * fw;
        if (out.by_sample) {
            const size_t to = static_cast<size_t>(j0 + r) * fw;
            std::copy_n(rsum_.data() + from, fw, out.sum.data() + to);
            std::copy_n(rwt_.data() + from, fw, out.wt.data() + to);
            if (clamp) std::copy_n(rlo_.data() + from, fw, out.lo.data() + to), std::copy_n(rhi_.data() + from, fw, out.hi.data() + to);
            continue;
        }
        const size_t i = static_cast<size_t>(u.gy0 + j0 + r - y.g0);
        for (int k = 0; k < y.count[i]; ++k) {
            const double w = y.w[y.at[i] + k];
            if (w == 0) continue;
            const size_t at = static_cast<size_t>(y.c0 + y.from[i] + k - u.cy0) * fw;
            double *s = out.sum.data() + at, *ws = out.wt.data() + at;
            const double *rs = rsum_.data() + from, *rw = rwt_.data() + from;
            for (int c = 0; c < fw; ++c) s[c] += w * rs[c], ws[c] += w * rw[c];
            if (!clamp) continue;
            double *l = out.lo.data() + at, *h = out.hi.data() + at;
            const double *rl = rlo_.data() + from, *rh = rhi_.data() + from;
            for (int c = 0; c < fw; ++c) l[c] = std::min(l[c], rl[c]), h[c] = std::max(h[c], rh[c]);
        }
    }
}

// The unit's weights: across, over its own samples (a read of a raster wider than memory holds
// tables only for its part), and down; kept for the next read of the same samples.
void Reader::weigh(const TilePlan &tp, int plan, const Unit &u) {
    const std::array<long long, 5> x_of = {plan, u.gx0, u.nx, u.cx0, u.cx1}, y_of = {plan, u.gy0, u.ny, tp.cy0, tp.cy1};
    if (x_of != x_of_) taps_by_cell(tp.x, u.gx0, u.gx0 + u.nx, u.cx0, u.cx1, x_), x_of_ = x_of;
    if (y_of != y_of_) taps_by_sample(tp.y, u.gy0, u.gy0 + u.ny, tp.cy0, tp.cy1, y_), y_of_ = y_of;
}

bool Reader::sum(const TilePlan &tp, int plan, const Unit &u, bool clamp, Part &out) {
    if (!open_level(tp, plan)) return false;
    const Tile &t = *tp.tile;
    const int nx = u.nx, ny = u.ny;
    const long long fx0 = tp.flip_x ? tp.lw - u.gx0 - nx : u.gx0, fy0 = tp.flip_y ? tp.lh - u.gy0 - ny : u.gy0;
    out = Part();
    // A part that a sparse file leaves out reads as NoData: nothing to decode. (Without a NoData
    // value it would read as zeros, and GDAL also calls a corrupt file's missing parts empty:
    // those are read, so that their failure shows.)
    if ((t.has_nodata || t.masked) &&
        (band_ ? GDALGetDataCoverageStatus(band_, static_cast<int>(fx0), static_cast<int>(fy0), nx, ny, 0, nullptr) ==
                     GDAL_DATA_COVERAGE_STATUS_EMPTY
               : blocks_.absent(static_cast<int>(fx0), static_cast<int>(fy0), nx, ny)))
        return true;
    weigh(tp, plan, u);
    out.empty = false;
    out.width = u.cx1 - u.cx0;
    out.by_sample = u.cy1 - u.cy0 > ny;
    out.rows = out.by_sample ? ny : u.cy1 - u.cy0;
    const size_t cells = static_cast<size_t>(out.rows) * out.width;
    out.sum.assign(cells, 0.0), out.wt.assign(cells, 0.0);
    if (clamp) out.lo.assign(cells, inf), out.hi.assign(cells, -inf);
    // Each cell's weights summed once, in the order the samples add them: its weight wherever
    // no sample under it is void or shared.
    total_.assign(static_cast<size_t>(out.width), 0.0);
    for (int c = 0; c < out.width; ++c) {
        const size_t i = static_cast<size_t>(u.cx0 + c - x_.c0);
        const long long lo = x_.g0 + x_.from[i], hi = lo + x_.count[i];
        const long long a = std::max(lo, u.gx0), b = std::min(hi, u.gx0 + nx);
        for (long long k = a; k < b; ++k) total_[c] += 1.0 * x_.w[x_.at[i] + (k - lo)];
    }
    rwt_.resize(static_cast<size_t>(out.width) * group);
    for (int r = 0; r < group; ++r) std::copy(total_.begin(), total_.end(), rwt_.begin() + static_cast<long>(r) * out.width);
    written_.clear();
    if (!read_unit(tp, u)) return false;
    for (int j0 = 0; j0 < ny; j0 += group) {
        mask_rows(tp, u, j0, clamp);
        across(x_, u, std::min(group, ny - j0), clamp);
        down(y_, u, j0, clamp, out);
    }
    if (out.by_sample) {
        // Each sample row's cells and weights down the grid, for the bands that take them.
        const Taps &y = y_;
        out.down.g0 = u.gy0, out.down.c0 = y.c0;
        for (int j = 0; j < ny; ++j) {
            const size_t i = static_cast<size_t>(u.gy0 + j - y.g0);
            out.down.from.push_back(y.from[i]);
            out.down.count.push_back(y.count[i]);
            out.down.at.push_back(out.down.w.size());
            out.down.w.insert(out.down.w.end(), y.w.begin() + static_cast<long>(y.at[i]),
                              y.w.begin() + static_cast<long>(y.at[i] + y.count[i]));
        }
    }
    return true;
}

}  // namespace engine
