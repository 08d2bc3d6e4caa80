// The accumulator: one band of the grid's rows, each read's part added in turn, then divided once into the field.
#include "accumulator.h"

#include <algorithm>
#include <limits>

namespace engine {

void Accumulator::start(const Placement &p, int y0, int y1, bool clamp) {
    p_ = &p, y0_ = y0, y1_ = y1, clamp_ = clamp;
    const size_t n = static_cast<size_t>(y1 - y0) * p.w;
    constexpr double inf = std::numeric_limits<double>::infinity();
    sum_.assign(n, 0.0), wt_.assign(n, 0.0);
    if (clamp) lo_.assign(n, inf), hi_.assign(n, -inf);
}

void Accumulator::add(const Unit &u, const Part &pt) {
    if (pt.empty) return;
    const Placement &p = *p_;
    for (int y = std::max(y0_, u.cy0); y < std::min(y1_, u.cy1); ++y) {
        const size_t at = static_cast<size_t>(y - y0_) * p.w + (u.cx0 - p.x0);
        add_row(u, pt, y, sum_.data() + at, wt_.data() + at, clamp_ ? lo_.data() + at : nullptr,
                clamp_ ? hi_.data() + at : nullptr);
    }
}

// Adds part `pt` of read `u` to the band's row y (grid row), its cells from u.cx0.
void Accumulator::add_row(const Unit &u, const Part &pt, int y, double *sum, double *wt, double *lo, double *hi) {
    const int fw = pt.width;
    const double *s = nullptr, *w = nullptr;
    if (!pt.by_sample) {
        const size_t at = static_cast<size_t>(y - u.cy0) * fw;
        s = pt.sum.data() + at, w = pt.wt.data() + at;
        if (clamp_)
            for (int i = 0; i < fw; ++i) lo[i] = std::min(lo[i], pt.lo[at + i]), hi[i] = std::max(hi[i], pt.hi[at + i]);
    } else {
        // The read's sample rows that reach row y, in order, summed as the read would have.
        row_sum_.assign(static_cast<size_t>(fw), 0.0), row_wt_.assign(static_cast<size_t>(fw), 0.0);
        const Taps &d = pt.down;
        for (int j = 0; j < pt.rows; ++j) {
            const int k = y - (d.c0 + d.from[j]);
            if (k < 0 || k >= d.count[j]) continue;
            const double wj = d.w[d.at[j] + k];
            if (wj == 0) continue;
            const size_t at = static_cast<size_t>(j) * fw;
            for (int i = 0; i < fw; ++i) row_sum_[i] += wj * pt.sum[at + i], row_wt_[i] += wj * pt.wt[at + i];
            if (clamp_)
                for (int i = 0; i < fw; ++i) lo[i] = std::min(lo[i], pt.lo[at + i]), hi[i] = std::max(hi[i], pt.hi[at + i]);
        }
        s = row_sum_.data(), w = row_wt_.data();
    }
    for (int i = 0; i < fw; ++i) sum[i] += s[i], wt[i] += w[i];
}

void Accumulator::finish(Field &f) const {
    const Placement &p = *p_;
    for (int y = y0_; y < y1_; ++y) {
        const size_t from = static_cast<size_t>(y - y0_) * p.w;
        const size_t to = static_cast<size_t>(y) * f.w + p.x0;
        for (int i = 0; i < p.w; ++i) {
            const double w = wt_[from + i];
            if (!(w > 1e-9)) continue;
            double z = sum_[from + i] / w;
            if (clamp_) z = std::clamp(z, lo_[from + i], hi_[from + i]);
            f.z[to + i] = static_cast<float>(z);
            f.voids[to + i] = 0;
        }
    }
}

}  // namespace engine
