// The accumulator: one band of the grid's rows, each read's part added in turn, then divided once into the field.
#include "import/accumulator.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace engine {

void Accumulator::start(const Placement &p, int y0, int y1, bool clamp) {
    p_ = &p, y0_ = y0, y1_ = y1, clamp_ = clamp;
    const size_t n = static_cast<size_t>(y1 - y0) * p.w;
    constexpr double inf = std::numeric_limits<double>::infinity();
    sum_.assign(n, 0.0), wt_.assign(n, 0.0);
    if (clamp) lo_.assign(n, inf), hi_.assign(n, -inf);
}

namespace {

// Adds part `pt` of read `u` to row y (a grid row) of a band's sums, its cells from u.cx0;
// `row_sum` and `row_wt` hold the row when the part goes by sample row.
void add_row(const Unit &u, const Part &pt, int y, bool clamp, double *sum, double *wt, double *lo, double *hi,
             std::vector<double> &row_sum, std::vector<double> &row_wt) {
    const int fw = pt.width;
    const double *s = nullptr, *w = nullptr;
    if (!pt.by_sample) {
        const size_t at = static_cast<size_t>(y - u.cy0) * fw;
        s = pt.sum.data() + at, w = pt.wt.data() + at;
        if (clamp)
            for (int i = 0; i < fw; ++i) lo[i] = std::min(lo[i], pt.lo[at + i]), hi[i] = std::max(hi[i], pt.hi[at + i]);
    } else {
        // The read's sample rows that reach row y, in order, summed as the read would have.
        row_sum.assign(static_cast<size_t>(fw), 0.0), row_wt.assign(static_cast<size_t>(fw), 0.0);
        const Taps &d = pt.down;
        for (int j = 0; j < pt.rows; ++j) {
            const int k = y - (d.c0 + d.from[j]);
            if (k < 0 || k >= d.count[j]) continue;
            const double wj = d.w[d.at[j] + k];
            if (wj == 0) continue;
            const size_t at = static_cast<size_t>(j) * fw;
            for (int i = 0; i < fw; ++i) row_sum[i] += wj * pt.sum[at + i], row_wt[i] += wj * pt.wt[at + i];
            if (clamp)
                for (int i = 0; i < fw; ++i) lo[i] = std::min(lo[i], pt.lo[at + i]), hi[i] = std::max(hi[i], pt.hi[at + i]);
        }
        s = row_sum.data(), w = row_wt.data();
    }
    for (int i = 0; i < fw; ++i) sum[i] += s[i], wt[i] += w[i];
}

}  // namespace

void Accumulator::add(const Unit &u, const Part &pt) {
    if (pt.empty) return;
    const Placement &p = *p_;
    const bool clamp = clamp_;
    const int y0 = y0_, y1 = y1_;
    for (int y = std::max(y0, u.cy0); y < std::min(y1, u.cy1); ++y) {
        const size_t at = static_cast<size_t>(y - y0) * p.w + (u.cx0 - p.x0);
        add_row(u, pt, y, clamp, sum_.data() + at, wt_.data() + at, clamp ? lo_.data() + at : nullptr,
                clamp ? hi_.data() + at : nullptr, row_sum_, row_wt_);
    }
}

void Accumulator::finish(Field &f) const {
    const Placement &p = *p_;
    const bool clamp = clamp_;
    const int y0 = y0_, y1 = y1_, bw = p.w, x0 = p.x0;
    const double *sum = sum_.data(), *wt = wt_.data(), *lo = lo_.data(), *hi = hi_.data();
    float *z_out = f.z.data();
    uint8_t *voids = f.voids.data();
    for (int y = y0; y < y1; ++y) {
        const size_t from = static_cast<size_t>(y - y0) * bw;
        const size_t to = static_cast<size_t>(y) * f.w + x0;
        for (int i = 0; i < bw; ++i) {
            const double w = wt[from + i];
            if (!(w > 1e-9)) continue;
            double z = sum[from + i] / w;
            if (clamp) z = std::clamp(z, lo[from + i], hi[from + i]);
            z_out[to + i] = static_cast<float>(z);
            voids[to + i] = 0;
        }
    }
}

}  // namespace engine
