// Bounded looks at an image's pixels: the level to read, the windows spread over it, read a piece at a time.
#include "import/pixel_sample.h"

#include "import/read_budget.h"
#include "sandbox/gdal_env.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using Level = std::vector<GDALRasterBandH>;  // one band after another, at one resolution

// A window of a level, in its pixels.
struct Box {
    long long x, y, w, h;
};

double pixels(const Level &l) { return static_cast<double>(GDALGetRasterBandXSize(l[0])) * GDALGetRasterBandYSize(l[0]); }

// The levels every one of bands 1 ... n has alike: the full resolution first, then the overviews, finest first.
std::vector<Level> levels_alike(GDALDatasetH ds, int n) {
    std::vector<Level> levels(1);
    for (int b = 1; b <= n; ++b) levels[0].push_back(GDALGetRasterBand(ds, b));
    for (int i = 0; i < GDALGetOverviewCount(levels[0][0]); ++i) {
        Level level;
        for (GDALRasterBandH band : levels[0]) {
            GDALRasterBandH o = i < GDALGetOverviewCount(band) ? GDALGetOverview(band, i) : nullptr;
            if (!o || GDALGetRasterBandXSize(o) != GDALGetRasterBandXSize(GDALGetOverview(levels[0][0], i)) ||
                GDALGetRasterBandYSize(o) != GDALGetRasterBandYSize(GDALGetOverview(levels[0][0], i)))
                break;
            level.push_back(o);
        }
        if (static_cast<int>(level.size()) == n) levels.push_back(level);
    }
    std::stable_sort(levels.begin() + 1, levels.end(), [&](const auto &a, const auto &b) { return pixels(a) > pixels(b); });
    return levels;
}

// The windows to read of `level`: all of it, its first rows, or blocks spread over it.
std::vector<Box> boxes_of(const Level &level, bool sequential) {
    const long long lw = GDALGetRasterBandXSize(level[0]), lh = GDALGetRasterBandYSize(level[0]);
    if (pixels(level) <= max_sample_pixels) return {{0, 0, lw, lh}};
    if (sequential) return {{0, 0, lw, std::clamp(static_cast<long long>(max_sample_pixels / lw), 1LL, lh)}};
    std::vector<Box> boxes;
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
    return boxes;
}

// Each window in pieces of at most 64 Ki pixels, every band of a piece together, handed to `fn`
// until it returns false.
Status read_boxes(const std::string &label, const Level &level, const std::vector<Box> &boxes,
                  const std::function<bool(const double *values, size_t count)> &fn) {
    constexpr long long piece = 65536;
    const int n = static_cast<int>(level.size());
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

}  // namespace

Status sample_pixels(const std::string &label, GDALDatasetH ds, int n, bool sequential,
                     const std::function<bool(const double *values, size_t count)> &fn, bool &every_pixel) {
    const std::vector<Level> levels = levels_alike(ds, n);
    size_t pick = levels.size() - 1;
    for (size_t i = 0; i < levels.size(); ++i)
        if (pixels(levels[i]) <= max_sample_pixels) {
            pick = i;
            break;
        }
    const Level &level = levels[pick];
    if (Status st = check_read(label, level[0], 0, max_read_samples, ""); !st.ok) return st;
    const std::vector<Box> boxes = boxes_of(level, sequential);
    const long long lw = GDALGetRasterBandXSize(level[0]), lh = GDALGetRasterBandYSize(level[0]);
    every_pixel = pick == 0 && boxes.size() == 1 && boxes[0].w == lw && boxes[0].h == lh;
    return read_boxes(label, level, boxes, fn);
}
