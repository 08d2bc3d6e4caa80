// The read budget: a plan's samples and cells, a band's samples and its blocks' bytes, checked before any is read.
#include "import/read_budget.h"

#include "import/read_plan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

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

Status check_plans(const HeightSource &src, const Placement &p, const std::vector<engine::TilePlan> &plans, double max_samples) {
    double samples = 0, cells = 0;
    size_t most_samples = 0;
    for (size_t i = 0; i < plans.size(); ++i) {
        const engine::TilePlan &tp = plans[i];
        samples += static_cast<double>(tp.samples());
        if (tp.samples() > plans[most_samples].samples()) most_samples = i;
        if (tp.samples() > 0) cells += static_cast<double>(tp.cx1 - tp.cx0) * (tp.cy1 - tp.cy0);
    }
    char b[200];
    if (samples > max_samples) {
        std::snprintf(b, sizeof b, "%.3g samples to read at the resolution needed, more than the %.3g mvx reads", samples,
                      max_samples);
        return Status::fail(src.label + ": " + b + "; build overviews first (gdaladdo -r average " +
                            src.tiles[most_samples].path + "), or import a part with --bounds");
    }
    const double passes = cells / (static_cast<double>(p.w) * p.h);
    if (passes > max_cell_passes) {
        std::snprintf(b, sizeof b, "the tiles cover the map %.0f times over, more than the %.0f mvx works through", passes,
                      max_cell_passes);
        return Status::fail(src.label + ": " + b + " (is a tile named more than once?)");
    }
    return {};
}
