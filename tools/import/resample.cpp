// Bilinear fitting of rasters into the map grid, split over the cores by row bands.
#include "resample.h"

#include "parallel.h"

#include <algorithm>
#include <cmath>

namespace {

// For one axis: the two source indices and the weight of the second, per output cell of the area.
struct Taps {
    std::vector<int> lo, hi;
    std::vector<float> t;
};

Taps taps(int in, int out) {
    Taps k;
    k.lo.resize(out);
    k.hi.resize(out);
    k.t.resize(out);
    const double step = static_cast<double>(in) / out;
    for (int i = 0; i < out; ++i) {
        // Pixel centres line up: cell i's centre is at source position (i + 0.5) · step − 0.5.
        const double s = std::clamp((i + 0.5) * step - 0.5, 0.0, static_cast<double>(in - 1));
        const int l = static_cast<int>(s);
        k.lo[i] = l;
        k.hi[i] = std::min(l + 1, in - 1);
        k.t[i] = static_cast<float>(s - l);
    }
    return k;
}

}  // namespace

Fit fit_into(int in_w, int in_h, int out_w, int out_h) {
    Fit f;
    f.out_w = out_w;
    f.out_h = out_h;
    // Compare in_w / in_h with out_w / out_h without rounding.
    if (1LL * in_w * out_h >= 1LL * in_h * out_w) {
        f.w = out_w;
        f.h = static_cast<int>(std::max(1LL, (2LL * in_h * out_w + in_w) / (2LL * in_w)));
    } else {
        f.h = out_h;
        f.w = static_cast<int>(std::max(1LL, (2LL * in_w * out_h + in_h) / (2LL * in_h)));
    }
    f.x0 = (out_w - f.w) / 2;
    f.y0 = (out_h - f.h) / 2;
    return f;
}

std::string describe_fit(int in_w, int in_h, const Fit &f) {
    if (f.whole()) return "";
    const std::string size = std::to_string(in_w) + " x " + std::to_string(in_h);
    const std::string area = std::to_string(f.w) + " x " + std::to_string(f.h);
    if (f.w == f.out_w)
        return size + " is wider than the map's 3:2: fitted across its width as " + area + " cells in rows " +
               std::to_string(f.y0) + " to " + std::to_string(f.y0 + f.h - 1) + "; the rows above and below are voids";
    return size + " is narrower than the map's 3:2: fitted to its height as " + area + " cells in columns " +
           std::to_string(f.x0) + " to " + std::to_string(f.x0 + f.w - 1) + "; the columns on either side are voids";
}

void resample(const float *z, const uint8_t *voids, int w, int h, const Fit &f, float *out, uint8_t *out_voids) {
    const Taps tx = taps(w, f.w), ty = taps(h, f.h);
    parallel_rows(f.out_h, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            float *o = out + static_cast<size_t>(y) * f.out_w;
            uint8_t *ov = out_voids + static_cast<size_t>(y) * f.out_w;
            const int j = y - f.y0;
            if (j < 0 || j >= f.h) {
                std::fill(o, o + f.out_w, 0.0f);
                std::fill(ov, ov + f.out_w, 1);
                continue;
            }
            std::fill(o, o + f.x0, 0.0f);
            std::fill(ov, ov + f.x0, 1);
            std::fill(o + f.x0 + f.w, o + f.out_w, 0.0f);
            std::fill(ov + f.x0 + f.w, ov + f.out_w, 1);
            const size_t ra = static_cast<size_t>(ty.lo[j]) * w, rb = static_cast<size_t>(ty.hi[j]) * w;
            const float b = ty.t[j], a = 1 - b;
            for (int i = 0; i < f.w; ++i) {
                const size_t l = static_cast<size_t>(tx.lo[i]), r = static_cast<size_t>(tx.hi[i]);
                const float d = tx.t[i], c = 1 - d;
                const size_t idx[4] = {ra + l, ra + r, rb + l, rb + r};
                const float wt[4] = {a * c, a * d, b * c, b * d};
                float sum = 0, wsum = 0;
                for (int k = 0; k < 4; ++k) {
                    if (voids && voids[idx[k]]) continue;
                    sum += wt[k] * z[idx[k]];
                    wsum += wt[k];
                }
                const bool hole = wsum < 0.5f;
                o[f.x0 + i] = hole ? 0.0f : sum / wsum;
                ov[f.x0 + i] = hole;
            }
        }
    });
}

void resample_rgb(const uint8_t *rgb, int w, int h, const Fit &f, uint8_t *out) {
    const Taps tx = taps(w, f.w), ty = taps(h, f.h);
    parallel_rows(f.h, [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            const uint8_t *ra = rgb + 3ULL * ty.lo[j] * w, *rb = rgb + 3ULL * ty.hi[j] * w;
            uint8_t *o = out + 3ULL * ((static_cast<size_t>(j) + f.y0) * f.out_w + f.x0);
            const float b = ty.t[j], a = 1 - b;
            for (int i = 0; i < f.w; ++i) {
                const size_t l = 3ULL * tx.lo[i], r = 3ULL * tx.hi[i];
                const float d = tx.t[i], c = 1 - d;
                for (int k = 0; k < 3; ++k) {
                    const float v = a * (c * ra[l + k] + d * ra[r + k]) + b * (c * rb[l + k] + d * rb[r + k]);
                    o[3 * i + k] = static_cast<uint8_t>(std::clamp(v + 0.5f, 0.0f, 255.0f));
                }
            }
        }
    });
}
