// Nearest data for every void: an exact Euclidean feature transform, one pass down the columns, one along the rows.
#include "import/voids.h"

#include "common/parallel.h"

#include <algorithm>
#include <cstdint>

namespace {

// No data in the column: no vertical distance.
constexpr uint16_t far = 0xffff;

// Down and up each column: `dist` gets the rows to the nearest data in it, and each void the z of
// that data (the one above on a tie). Columns in groups wide enough to run along cache lines.
void nearest_in_columns(Field &f, std::vector<uint16_t> &dist) {
    const int w = f.w, h = f.h, group = 256;
    parallel_rows((w + group - 1) / group, [&](int g0, int g1) {
        const int x0 = g0 * group, x1 = std::min(w, g1 * group);
        for (int y = 0; y < h; ++y) {
            const size_t row = static_cast<size_t>(y) * w;
            for (int x = x0; x < x1; ++x) {
                const size_t i = row + x;
                if (!f.voids[i]) {
                    dist[i] = 0;
                } else if (y > 0 && dist[i - w] != far) {
                    dist[i] = static_cast<uint16_t>(dist[i - w] + 1);
                    f.z[i] = f.z[i - w];
                } else {
                    dist[i] = far;
                }
            }
        }
        for (int y = h - 2; y >= 0; --y) {
            const size_t row = static_cast<size_t>(y) * w;
            for (int x = x0; x < x1; ++x) {
                const size_t i = row + x;
                if (dist[i + w] != far && dist[i + w] + 1 < dist[i]) {
                    dist[i] = static_cast<uint16_t>(dist[i + w] + 1);
                    f.z[i] = f.z[i + w];
                }
            }
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
    std::vector<int> site;      // columns whose parabola is on the envelope, left to right
    std::vector<double> from;   // where each of them starts being the lowest
    std::vector<float> z;       // the run's columns' values before the pass
    explicit RowPass(int w) : site(w), from(w + 1), z(w) {}

    void run(Field &f, const std::vector<uint16_t> &dist, int y) {
        const int w = f.w;
        const size_t row = static_cast<size_t>(y) * w;
        const uint8_t *voids = &f.voids[row];
        float *out = &f.z[row];
        for (int a = 0; a < w;) {
            if (!voids[a]) {
                ++a;
                continue;
            }
            int b = a;
            while (b < w && voids[b]) ++b;
            fill_run(&dist[row], out, std::max(a - 1, 0), std::min(b, w - 1), a, b);
            a = b;
        }
    }

    // Voids a ... b - 1 from the columns lo ... hi; those at lo and hi, when in the run's row, are data.
    void fill_run(const uint16_t *d, float *out, int lo, int hi, int a, int b) {
        auto height = [&](int q) { return static_cast<double>(q) * q + static_cast<double>(d[q]) * d[q]; };
        int n = 0;
        for (int q = lo; q <= hi; ++q) {
            if (d[q] == far) continue;
            double s = 0;
            while (n > 0 && (s = (height(q) - height(site[n - 1])) / (2.0 * (q - site[n - 1]))) <= from[n - 1]) --n;
            site[n] = q;
            from[n] = n == 0 ? -1e300 : s;
            ++n;
        }
        if (n == 0) return;
        from[n] = 1e300;
        std::copy(out + lo, out + hi + 1, z.begin() + lo);
        for (int x = a, k = 0; x < b; ++x) {
            while (from[k + 1] < x) ++k;
            out[x] = z[site[k]];
        }
    }
};

}  // namespace

void fill_voids_from_nearest(Field &f) {
    if (std::none_of(f.voids.begin(), f.voids.end(), [](uint8_t v) { return v != 0; })) return;
    std::vector<uint16_t> dist(f.z.size());
    nearest_in_columns(f, dist);
    parallel_rows(f.h, [&](int y0, int y1) {
        RowPass pass(f.w);
        for (int y = y0; y < y1; ++y) pass.run(f, dist, y);
    });
}
