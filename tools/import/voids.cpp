// Nearest data for every void: an exact Euclidean feature transform, one pass down the columns, one along the rows.
#include "import/voids.h"

#include "common/parallel.h"

#include <algorithm>
#include <cstdint>
#include <memory>

namespace {

// A cell's nearest data in its column, as a code: the rows to it, with `below` set when it lies
// below; `far` when the column has none. Data cells are 0.
constexpr uint16_t far = 0xffff, below = 0x8000, rows_of = 0x7fff;

// The rows to the data, as masks (all ones or none) rather than branches: `far` stays the largest.
uint16_t rows_to(uint16_t code) { return static_cast<uint16_t>((code & rows_of) | (-(code == far) & below)); }

// Each row of a column group branch-free, which the compiler turns into vector code.
// Down: a void one further from the data above than the cell above is.
void take_above(const uint8_t *__restrict v, const uint16_t *__restrict up, uint16_t *__restrict c, int count) {
    for (int x = 0; x < count; ++x) {
        const uint16_t step = up[x] == far ? far : static_cast<uint16_t>(up[x] + 1);
        c[x] = v[x] ? step : 0;
    }
}

// Up: a void one further from the data below than the cell below, where that is nearer.
void take_below(const uint16_t *__restrict down, uint16_t *__restrict c, int count) {
    for (int x = 0; x < count; ++x) {
        const uint16_t step = static_cast<uint16_t>((((down[x] & rows_of) + 1) | below) | -(down[x] == far));
        const uint16_t nearer = static_cast<uint16_t>(-(rows_to(step) < rows_to(c[x])));
        c[x] = static_cast<uint16_t>((step & nearer) | (c[x] & ~nearer));
    }
}

// Down and up each column: `code` gets each void's nearest data in its column (the one above on a
// tie). Only rows with voids (`holed`, in order) are visited: a row without is all data, and its
// codes are never read. Columns in groups wide enough to run along cache lines.
void nearest_in_columns(const Field &f, const std::vector<int> &holed, uint16_t *code) {
    const int w = f.w, group = 256;
    const size_t n = holed.size();
    const std::vector<uint16_t> data(static_cast<size_t>(w), 0), none(static_cast<size_t>(w), far);
    parallel_rows((w + group - 1) / group, [&](int g0, int g1) {
        const int x0 = g0 * group, count = std::min(w, g1 * group) - x0;
        for (size_t r = 0; r < n; ++r) {
            const int y = holed[r];
            const size_t i = static_cast<size_t>(y) * w + x0;
            const uint16_t *up = y == 0 ? &none[x0] : r > 0 && holed[r - 1] == y - 1 ? code + i - w : &data[x0];
            take_above(&f.voids[i], up, code + i, count);
        }
        for (size_t r = n; r-- > 0;) {
            const int y = holed[r];
            if (y == f.h - 1) continue;
            const size_t i = static_cast<size_t>(y) * w + x0;
            take_below(r + 1 < n && holed[r + 1] == y + 1 ? code + i + w : &data[x0], code + i, count);
        }
    });
}

// Along one row: each column whose own nearest data is `dist` rows away is a parabola
// (x - column)² + dist²; the lowest of them over each void is its nearest data (the lower envelope
// of parabolas, as in Felzenszwalb and Huttenlocher's distance transform). A data cell in the row
// is nearer than every column beyond it, so a run of voids needs only the columns from the data
// before it to the data after it: the envelope there, and so the choice between equals, is the one
// the whole row would give.
struct RowPass {
    std::vector<int> site;     // columns whose parabola is on the envelope, left to right
    std::vector<double> from;  // where each of them starts being the lowest
    explicit RowPass(int w) : site(w), from(w + 1) {}

    void run(Field &f, const uint16_t *code, int y) {
        const int w = f.w;
        const size_t row = static_cast<size_t>(y) * w;
        const uint8_t *voids = &f.voids[row];
        for (int a = 0; a < w;) {
            if (!voids[a]) {
                ++a;
                continue;
            }
            int b = a;
            while (b < w && voids[b]) ++b;
            fill_run(f, code + row, y, std::max(a - 1, 0), std::min(b, w - 1), a, b);
            a = b;
        }
    }

    // Voids a ... b - 1 of row y from the columns lo ... hi; those at lo and hi, when in the run's
    // row, are data. Each takes the z of a data cell, which no void's filling changes.
    void fill_run(Field &f, const uint16_t *code, int y, int lo, int hi, int a, int b) {
        auto height = [&](int q) {
            const double d = code[q] & rows_of;
            return static_cast<double>(q) * q + d * d;
        };
        int n = 0;
        for (int q = lo; q <= hi; ++q) {
            if (code[q] == far) continue;
            double s = 0;
            while (n > 0 && (s = (height(q) - height(site[n - 1])) / (2.0 * (q - site[n - 1]))) <= from[n - 1]) --n;
            site[n] = q;
            from[n] = n == 0 ? -1e300 : s;
            ++n;
        }
        if (n == 0) return;
        from[n] = 1e300;
        auto source = [&](int q) {
            const int d = code[q] & rows_of;
            return static_cast<size_t>(code[q] & below ? y + d : y - d) * f.w + q;
        };
        float *out = &f.z[static_cast<size_t>(y) * f.w];
        for (int x = a, k = 0; x < b; ++x) {
            while (from[k + 1] < x) ++k;
            out[x] = f.z[source(site[k])];
        }
    }
};

}  // namespace

void fill_voids_from_nearest(Field &f) {
    std::vector<int> holed;
    for (int y = 0; y < f.h; ++y) {
        const uint8_t *v = &f.voids[static_cast<size_t>(y) * f.w];
        if (std::any_of(v, v + f.w, [](uint8_t b) { return b != 0; })) holed.push_back(y);
    }
    if (holed.empty()) return;
    // Left unset: only the rows with voids are written, and only they are read.
    const std::unique_ptr<uint16_t[]> code(new uint16_t[f.z.size()]);
    nearest_in_columns(f, holed, code.get());
    parallel_rows(static_cast<int>(holed.size()), [&](int r0, int r1) {
        RowPass pass(f.w);
        for (int r = r0; r < r1; ++r) pass.run(f, code.get(), holed[r]);
    });
}
