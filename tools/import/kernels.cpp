// The kernels: how a tile's samples along one axis spread over the grid's cells, and tables of their weights.
#include "import/kernels.h"

#include <algorithm>
#include <cmath>

Kernel kernel_for(Resampling r, double size) {
    switch (r) {
    case Resampling::average: return Kernel::box;
    case Resampling::bilinear: return Kernel::tent;
    case Resampling::cubic: return Kernel::cubic;
    case Resampling::nearest: return Kernel::nearest;
    default: return size <= 1 ? Kernel::box : Kernel::cubic;
    }
}

long long clamped_index(double v) {
    constexpr double limit = 4611686018427387904.0;
    return v != v ? 0 : static_cast<long long>(std::clamp(v, -limit, limit));
}

namespace {

// Keys' cubic convolution (a = -0.5), for |x| in kernel widths.
double keys(double x) {
    x = std::fabs(x);
    if (x < 1) return (1.5 * x - 2.5) * x * x + 1;
    if (x < 2) return ((-0.5 * x + 2.5) * x - 4) * x + 2;
    return 0;
}

// The cells sample g reaches, c0 ... c1-1 (some may get no weight).
void cells_of(const Axis &ax, long long g, long long &c0, long long &c1) {
    const double e0 = ax.a + ax.b * g, e1 = ax.a + ax.b * (g + 1), m = (e0 + e1) / 2;
    switch (ax.kernel) {
    case Kernel::box:
        c0 = clamped_index(std::floor(e0)), c1 = clamped_index(std::ceil(e1));
        break;
    case Kernel::nearest:
        c0 = clamped_index(std::ceil(e0 - 0.5)), c1 = clamped_index(std::ceil(e1 - 0.5));
        break;
    default: {
        const double s = reach(ax);
        c0 = clamped_index(std::floor(m - s - 0.5)), c1 = clamped_index(std::ceil(m + s - 0.5)) + 1;
    }
    }
}

}  // namespace

double reach(const Axis &ax) {
    const double r = std::max(ax.b, 1.0);
    switch (ax.kernel) {
    case Kernel::tent: return r;
    case Kernel::cubic: return 2 * r;
    default: return ax.b / 2;
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

void reaching(const Axis &ax, int n, int lo, int hi, long long &g0, long long &g1) {
    const double s = reach(ax) + 1;
    g0 = std::max(0LL, clamped_index(std::floor((lo - s - ax.a) / ax.b)));
    g1 = std::min(static_cast<long long>(n), clamped_index(std::ceil((hi + s - ax.a) / ax.b)) + 1);
}

void span_of(const Axis &ax, long long g0, int n, int lo, int hi, int &c0, int &c1) {
    long long a0, a1, b0, b1;
    cells_of(ax, g0, a0, a1);
    cells_of(ax, g0 + n - 1, b0, b1);
    c0 = static_cast<int>(std::clamp<long long>(a0, lo, hi));
    c1 = static_cast<int>(std::clamp<long long>(b1, lo, hi));
}

namespace {

// Appends row i's weights, columns lo ... hi-1 less the zero weights at both ends.
template <class Weight>
void add_row(Taps &out, long long lo, long long hi, long long origin, const Weight &w) {
    while (lo < hi && w(lo) == 0) ++lo;
    while (hi > lo && w(hi - 1) == 0) --hi;
    out.from.push_back(static_cast<int>(lo - origin));
    out.count.push_back(static_cast<int>(hi - lo));
    out.at.push_back(out.w.size());
    for (long long k = lo; k < hi; ++k) out.w.push_back(w(k));
}

void clear(Taps &out, long long g0, int c0) {
    out.g0 = g0, out.c0 = c0;
    out.from.clear(), out.count.clear(), out.at.clear(), out.w.clear();
}

}  // namespace

void taps_by_cell(const Axis &ax, long long g0, long long g1, int c0, int c1, Taps &out) {
    clear(out, g0, c0);
    // The samples whose weight may reach cell c, from the kernel's reach about each sample's
    // centre and the cell's half width: a sample at a time would cost the memory of every
    // sample when thousands fall in a cell.
    const double e = reach(ax) + 0.5;
    for (int c = c0; c < c1; ++c) {
        const double centre = c + 0.5;
        const long long l = std::max(g0, clamped_index(std::floor((centre - e - ax.a) / ax.b - 0.5)));
        const long long h = std::min(g1, clamped_index(std::ceil((centre + e - ax.a) / ax.b - 0.5)) + 1);
        add_row(out, l, std::max(l, h), g0, [&](long long g) { return weight(ax, g, c); });
    }
}

void taps_by_sample(const Axis &ax, long long g0, long long g1, int c0, int c1, Taps &out) {
    clear(out, g0, c0);
    for (long long g = g0; g < g1; ++g) {
        long long lo, hi;
        cells_of(ax, g, lo, hi);
        lo = std::clamp<long long>(lo, c0, c1), hi = std::clamp<long long>(hi, c0, c1);
        add_row(out, lo, hi, c0, [&](long long c) { return weight(ax, g, c); });
    }
}
