// The read budget's checks, and bounded looks at an image's pixels for what it holds.
#include "budget.h"

#include "gdal_env.h"
#include "kernel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

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
