// One read: a window of a tile decoded, its voids masked, and its samples summed across and then down into the cells.
#include "engine.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace engine {

namespace {

// Sample rows taken together: each cell's weights are then applied to this many rows at once,
// which the compiler turns into vector operations.
constexpr int group = 8;
constexpr size_t handles_kept = 4;
constexpr double inf = std::numeric_limits<double>::infinity();

}  // namespace

bool Reader::open_level(const TilePlan &tp, int tile) {
    auto it = std::find_if(open_.begin(), open_.end(), [&](const Open &o) { return o.tile == tile; });
    Open o;
    if (it != open_.end()) {
        o = std::move(*it);
        open_.erase(it);
    } else {
        o.tile = tile;
        o.ds = open_dataset(tp.tile->name);
        if (!o.ds) return false;
        if (open_.size() >= handles_kept) open_.erase(open_.begin());
    }
    GDALRasterBandH b = GDALGetRasterBand(o.ds.get(), 1);
    band_ = tp.level < 0 ? b : GDALGetOverview(b, tp.level);
    mask_ = band_ && tp.tile->masked ? GDALGetMaskBand(band_) : nullptr;
    open_.push_back(std::move(o));
    return band_ != nullptr && (!tp.tile->masked || mask_ != nullptr);
}

// Rows j0 ... j0+group-1 of the unit as heights in ground order, interleaved: voids (NoData,
// masked, NaN, infinities and values beyond the float range) at share 0, a sample that n tiles
// cover at share 1/n. Rows past the unit's last are voids.
void Reader::mask_rows(const TilePlan &tp, const Unit &u, int j0, bool clamp) {
    const Tile &t = *tp.tile;
    const int nx = u.nx;
    const float nodata = static_cast<float>(t.nodata);
    const bool has_nodata = t.has_nodata && std::isfinite(nodata);
    const size_t n = static_cast<size_t>(nx) * group;
    val_.resize(n), ok_.resize(n), share_.resize(static_cast<size_t>(nx));
    if (clamp) height_.resize(n);
    voids_ = !tp.shared.empty();
    for (int s = 0; s < group; ++s) {
        const int j = j0 + s;
        if (j >= u.ny) {
            for (int i = 0; i < nx; ++i) {
                const size_t at = static_cast<size_t>(i) * group + s;
                val_[at] = ok_[at] = 0;
                if (clamp) height_[at] = inf;
            }
            continue;
        }
        const size_t row = static_cast<size_t>(tp.flip_y ? u.ny - 1 - j : j) * nx;
        const float *z = z_.data() + row;
        const uint8_t *c = mask_ ? cover_.data() + row : nullptr;
        std::fill(share_.begin(), share_.end(), 1.0);
        const long long gy = u.gy0 + j;
        for (const auto &[x0, x1, y0, y1] : tp.shared)
            if (gy >= y0 && gy < y1)
                for (long long g = std::max(x0, u.gx0); g < std::min(x1, u.gx0 + nx); ++g) share_[g - u.gx0] += 1;
        int bad = 0;
        for (int i = 0; i < nx; ++i) {
            const int k = tp.flip_x ? nx - 1 - i : i;
            const float v = z[k];
            const bool good = std::fabs(v) < FLT_MAX && !(has_nodata && v == nodata) && (!c || c[k]);
            const double ok = good ? 1 / share_[i] : 0;
            const double h = v * t.scale + t.offset;
            const size_t at = static_cast<size_t>(i) * group + s;
            ok_[at] = ok;
            val_[at] = good ? h * ok : 0;
            if (clamp) height_[at] = good ? h : inf;
            bad += !good;
        }
        voids_ = voids_ || bad > 0;
    }
}

// The group's rows summed across into the unit's cells: each cell's samples in order, their
// weights taken from the plan's table and applied to every row of the group at once.
void Reader::across(const Taps &x, const Unit &u, bool clamp) {
    const int fw = u.cx1 - u.cx0;
    rsum_.resize(static_cast<size_t>(fw) * group), rwt_.resize(rsum_.size());
    if (clamp) rlo_.resize(rsum_.size()), rhi_.resize(rsum_.size());
    for (int c = 0; c < fw; ++c) {
        const size_t i = static_cast<size_t>(u.cx0 + c - x.c0);
        const long long lo = x.g0 + x.from[i], hi = lo + x.count[i];
        const long long a = std::max(lo, u.gx0), b = std::min(hi, u.gx0 + u.nx);
        const double *w = x.w.data() + x.at[i] + (a - lo);
        const size_t first = static_cast<size_t>(a - u.gx0) * group;
        const double *v = val_.data() + first, *o = ok_.data() + first;
        double s[group] = {}, ws[group] = {};
        for (long long k = 0; k < b - a; ++k)
            for (int r = 0; r < group; ++r) s[r] += v[k * group + r] * w[k];
        if (voids_)
            for (long long k = 0; k < b - a; ++k)
                for (int r = 0; r < group; ++r) ws[r] += o[k * group + r] * w[k];
        for (int r = 0; r < group; ++r) rsum_[static_cast<size_t>(r) * fw + c] = s[r];
        for (int r = 0; r < group; ++r) rwt_[static_cast<size_t>(r) * fw + c] = voids_ ? ws[r] : total_[c];
        if (!clamp) continue;
        // The range of the heights under the cell, voids (at infinity) left out.
        const double *h = height_.data() + first;
        double l[group], u_[group];
        std::fill(l, l + group, inf), std::fill(u_, u_ + group, -inf);
        for (long long k = 0; k < b - a; ++k)
            for (int r = 0; r < group; ++r) {
                const double e = h[k * group + r];
                l[r] = std::min(l[r], e), u_[r] = std::max(u_[r], e == inf ? -inf : e);
            }
        for (int r = 0; r < group; ++r) rlo_[static_cast<size_t>(r) * fw + c] = l[r], rhi_[static_cast<size_t>(r) * fw + c] = u_[r];
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

bool Reader::sum(const TilePlan &tp, int plan, const PlanWeights &pw, const Unit &u, bool clamp, Part &out) {
    if (!open_level(tp, plan)) return false;
    const Tile &t = *tp.tile;
    const int nx = u.nx, ny = u.ny;
    const long long fx0 = tp.flip_x ? tp.lw - u.gx0 - nx : u.gx0, fy0 = tp.flip_y ? tp.lh - u.gy0 - ny : u.gy0;
    const size_t n = static_cast<size_t>(nx) * ny;
    out = Part();
    // A part that a sparse file leaves out reads as NoData: nothing to decode. (Without a NoData
    // value it would read as zeros, and GDAL also calls a corrupt file's missing parts empty:
    // those are read, so that their failure shows.)
    if ((t.has_nodata || t.masked) &&
        GDALGetDataCoverageStatus(band_, static_cast<int>(fx0), static_cast<int>(fy0), nx, ny, 0, nullptr) ==
            GDAL_DATA_COVERAGE_STATUS_EMPTY)
        return true;
    z_.resize(n);
    if (GDALRasterIO(band_, GF_Read, static_cast<int>(fx0), static_cast<int>(fy0), nx, ny, z_.data(), nx, ny, GDT_Float32, 0,
                     0) != CE_None)
        return false;
    if (mask_) {
        cover_.resize(n);
        if (GDALRasterIO(mask_, GF_Read, static_cast<int>(fx0), static_cast<int>(fy0), nx, ny, cover_.data(), nx, ny,
                         GDT_Byte, 0, 0) != CE_None)
            return false;
    }
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
        const size_t i = static_cast<size_t>(u.cx0 + c - pw.x.c0);
        const long long lo = pw.x.g0 + pw.x.from[i], hi = lo + pw.x.count[i];
        const long long a = std::max(lo, u.gx0), b = std::min(hi, u.gx0 + nx);
        for (long long k = a; k < b; ++k) total_[c] += 1.0 * pw.x.w[pw.x.at[i] + (k - lo)];
    }
    for (int j0 = 0; j0 < ny; j0 += group) {
        mask_rows(tp, u, j0, clamp);
        across(pw.x, u, clamp);
        down(pw.y, u, j0, clamp, out);
    }
    if (out.by_sample) {
        // Each sample row's cells and weights down the grid, for the bands that take them.
        const Taps &y = pw.y;
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
