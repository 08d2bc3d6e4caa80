// Imagery: choosing the colour bands, warping or stretching them onto the box, scaling and dithering.
#include "import/imagery.h"

#include "common/parallel.h"
#include "common/text.h"
#include "import/kernels.h"
#include "import/pixel_sample.h"
#include "import/raster_open.h"
#include "import/read_budget.h"
#include "import/read_field.h"
#include "world/relief.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>

namespace {

constexpr int band_rows = 64;

// A fractional window of a raster as RasterIO takes it: the whole pixels that cover it, and the
// exact window in the extra argument, so that resampling sees where the cells really fall.
struct Window {
    int x0, y0, w, h;
    GDALRasterIOExtraArg extra;
};
Window rasterio_window(double x, double y, double w, double h, int raster_w, int raster_h, GDALRIOResampleAlg alg) {
    Window win;
    win.x0 = static_cast<int>(std::clamp<long long>(clamped_index(std::floor(x)), 0, raster_w));
    win.y0 = static_cast<int>(std::clamp<long long>(clamped_index(std::floor(y)), 0, raster_h));
    win.w = static_cast<int>(std::clamp<long long>(clamped_index(std::ceil(x + w)), win.x0, raster_w)) - win.x0;
    win.h = static_cast<int>(std::clamp<long long>(clamped_index(std::ceil(y + h)), win.y0, raster_h)) - win.y0;
    INIT_RASTERIO_EXTRA_ARG(win.extra);
    win.extra.eResampleAlg = alg;
    win.extra.bFloatingPointWindowValidity = TRUE;
    win.extra.dfXOff = x, win.extra.dfYOff = y, win.extra.dfXSize = w, win.extra.dfYSize = h;
    return win;
}

// Three bands of colour as a VRT: the ones asked for, the image's red, green and blue, a palette
// expanded, or one grey band three times.
Status colour_bands(const std::string &path, Dataset &ds, const std::vector<int> &asked, std::string &name,
                    std::vector<std::unique_ptr<MemFile>> &owned) {
    const int n = GDALGetRasterCount(ds.get());
    std::vector<std::string> args;
    if (!asked.empty()) {
        for (int b : asked) {
            if (b < 1 || b > n)
                return Status::at(path, "--bands: it has no band " + std::to_string(b) + " (it has " + std::to_string(n) + ")");
            args.insert(args.end(), {"-b", std::to_string(b)});
        }
    } else if (GDALGetRasterColorInterpretation(GDALGetRasterBand(ds.get(), 1)) == GCI_PaletteIndex) {
        args.insert(args.end(), {"-expand", "rgb"});
    } else if (n >= 3) {
        args.insert(args.end(), {"-b", "1", "-b", "2", "-b", "3"});
    } else {
        args.insert(args.end(), {"-b", "1", "-b", "1", "-b", "1"});
    }
    // An alpha band says where the image has no data, for the tints to fill in.
    for (int b = 1; b <= n; ++b)
        if (GDALGetRasterColorInterpretation(GDALGetRasterBand(ds.get(), b)) == GCI_AlphaBand)
            args.insert(args.end(), {"-mask", std::to_string(b)});
    name = translate_to_vrt(ds.get(), args, owned);
    if (name.empty()) return Status::at(path, gdal_reason_or("cannot take its colour bands"));
    ds = open_dataset(name);
    return ds ? Status{} : Status::at(path, gdal_reason_or("cannot take its colour bands"));
}

// The sample value that is white: 255 for 8-bit images, else the largest value the bands hold
// (NoData aside) in a bounded sample of them.
Status white_of(const std::string &path, GDALDatasetH ds, double &white) {
    white = 255;
    bool wide[3], nodata[3];
    double none[3];
    for (int b = 0; b < 3; ++b) {
        GDALRasterBandH band = GDALGetRasterBand(ds, b + 1);
        wide[b] = GDALGetRasterDataType(band) != GDT_Byte;
        int has = 0;
        none[b] = GDALGetRasterNoDataValue(band, &has);
        nodata[b] = has;
    }
    if (!wide[0] && !wide[1] && !wide[2]) return {};
    bool every_pixel = false;
    return sample_pixels(path, ds, 3, false, [&](const double *v, size_t n) {
        for (int b = 0; b < 3; ++b)
            for (size_t i = 0; wide[b] && i < n; ++i) {
                const double x = v[b * n + i];
                if (std::isfinite(x) && !(nodata[b] && x == none[b])) white = std::max(white, x);
            }
        return true;
    }, every_pixel);
}

// The part of the image, in its pixels, that the box covers: what the warper reads of it. All of
// it when the box cannot be put in the image's coordinates.
void warp_window(GDALDatasetH ds, const HeightSource &heights, const Placement &p, double &ww, double &wh) {
    const double iw = GDALGetRasterXSize(ds), ih = GDALGetRasterYSize(ds);
    ww = iw, wh = ih;
    const double x0 = p.gt[0] + p.x0 * p.gt[1], y0 = p.gt[3] + p.y0 * p.gt[5];
    const double x1 = x0 + p.w * p.gt[1], y1 = y0 + p.h * p.gt[5];
    const double box[4] = {std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)};
    double in[4] = {box[0], box[1], box[2], box[3]};
    const std::string wkt = GDALGetProjectionRef(ds);
    if (!heights.wkt.empty() && !wkt.empty() && !same_crs(heights.wkt, wkt) &&
        !transform_box(SpatialRef(heights.wkt), SpatialRef(wkt), box, in))
        return;
    double gt[6], inv[6];
    if (GDALGetGeoTransform(ds, gt) != CE_None || !GDALInvGeoTransform(gt, inv)) return;
    double lx = INFINITY, hx = -INFINITY, ly = INFINITY, hy = -INFINITY;
    for (const auto &[x, y] : {std::pair{in[0], in[1]}, std::pair{in[2], in[1]}, std::pair{in[0], in[3]}, std::pair{in[2], in[3]}}) {
        const double px = inv[0] + x * inv[1] + y * inv[2], py = inv[3] + x * inv[4] + y * inv[5];
        lx = std::min(lx, px), hx = std::max(hx, px), ly = std::min(ly, py), hy = std::max(hy, py);
    }
    if (!std::isfinite(lx + hx + ly + hy)) return;
    ww = std::max(0.0, std::min(hx, iw) - std::max(lx, 0.0));
    wh = std::max(0.0, std::min(hy, ih) - std::max(ly, 0.0));
}

// The image warped onto the box's cells in the heights' coordinate system, with an alpha band
// that is 0 where the image has no data.
Status warp_onto_box(const std::string &path, GDALDatasetH ds, const HeightSource &heights, const Placement &p,
                     std::string &name, std::vector<std::unique_ptr<MemFile>> &owned) {
    const double x0 = p.gt[0] + p.x0 * p.gt[1], y0 = p.gt[3] + p.y0 * p.gt[5];
    const double x1 = x0 + p.w * p.gt[1], y1 = y0 + p.h * p.gt[5];
    const bool finer = 1.0 * GDALGetRasterXSize(ds) * GDALGetRasterYSize(ds) > 1.0 * p.w * p.h;
    std::vector<std::string> args = {"-ot", "Float32", "-dstalpha", "-r", finer ? "average" : "bilinear",
                                     "-te", number(std::min(x0, x1), 17), number(std::min(y0, y1), 17), number(std::max(x0, x1), 17),
                                     number(std::max(y0, y1), 17), "-ts", std::to_string(p.w), std::to_string(p.h)};
    if (!heights.wkt.empty()) args.insert(args.end(), {"-t_srs", heights.wkt});
    name = warp_to_vrt(ds, args, owned);
    if (name.empty()) return Status::at(path, "cannot place it over the heights: " + gdal_reason_or("GDAL's warper refused it"));
    return {};
}

// How the image is read onto the box: its three-band VRT (warped onto the box's cells, or the
// part of the image that corresponds to the heights' window), the resampling and the scale to 8 bits.
struct ImagePlan {
    std::string name;
    std::vector<std::unique_ptr<MemFile>> owned;
    double wx = 0, wy = 0, ww = 0, wh = 0;
    GDALRIOResampleAlg alg = GRIORA_Bilinear;
    bool warped = false;
    float scale = 1;
};

Status plan_imagery(const std::string &path, const std::vector<int> &bands, const HeightSource &heights,
                    const Placement &p, ImagePlan &plan, std::vector<std::string> &notes) {
    Dataset ds;
    if (Status st = open_raster_file(path, ds, plan.name); !st.ok) return st;
    if (Status st = check_latitudes(path, ds.get()); !st.ok) return st;
    // The image's own blocks: the VRT that picks its bands shows blocks of its own.
    if (Status st = check_read(path, GDALGetRasterBand(ds.get(), 1), 0, max_read_samples, ""); !st.ok) return st;
    if (Status st = colour_bands(path, ds, bands, plan.name, plan.owned); !st.ok) return st;
    double igt[6];
    plan.warped = heights.georeferenced && has_geotransform(ds.get(), igt);
    const int iw = GDALGetRasterXSize(ds.get()), ih = GDALGetRasterYSize(ds.get());
    // Stretched, the image covers what the heights' window covers of the heights.
    const double kx = static_cast<double>(iw) / heights.w, ky = static_cast<double>(ih) / heights.h;
    // What the read will decode, checked before any pixel is: the image's part over the box, at
    // the overview the warp or the read picks.
    double ww = p.sw * kx, wh = p.sh * ky;
    if (plan.warped) warp_window(ds.get(), heights, p, ww, wh);
    GDALRasterBandH first = GDALGetRasterBand(ds.get(), 1);
    if (Status st = check_read(path, first, samples_at_resolution(first, ww, wh, p.w, p.h), max_read_samples,
                               "build overviews first (gdaladdo -r average " + path + ")");
        !st.ok)
        return st;
    double white = 255;
    if (Status st = white_of(path, ds.get(), white); !st.ok) return st;
    plan.scale = static_cast<float>(255 / white);
    if (plan.warped) {
        plan.ww = p.w, plan.wh = p.h;
        plan.alg = GRIORA_NearestNeighbour;  // the warp has resampled already: one pixel a cell
        return warp_onto_box(path, ds.get(), heights, p, plan.name, plan.owned);
    }
    plan.wx = p.sx * kx, plan.wy = p.sy * ky, plan.ww = p.sw * kx, plan.wh = p.sh * ky;
    plan.alg = plan.ww * plan.wh > 1.0 * p.w * p.h ? GRIORA_Average : GRIORA_Bilinear;
    const double ra = plan.ww * p.h, rb = plan.wh * p.w;
    if (std::fabs(ra - rb) > 0.01 * std::max(ra, rb))
        notes.push_back(path + ": " + std::to_string(iw) + " x " + std::to_string(ih) + " stretched over the heights' " +
                        std::to_string(heights.w) + " x " + std::to_string(heights.h));
    return {};
}

// Rows j0 ... j1 of the box from reader `r`: colours where the image has data. Returns the cells
// painted, or -1 when a read fails.
long long paint_rows(GDALDatasetH r, const ImagePlan &plan, const Placement &p, int j0, int j1,
                     std::vector<uint16_t> &colour, std::vector<uint8_t> &covered) {
    const int rows = j1 - j0;
    const size_t cells = static_cast<size_t>(p.w) * rows;
    std::vector<float> rgb(3 * cells);
    std::vector<uint8_t> alpha(cells, 255);
    Window win = rasterio_window(plan.wx, plan.wy + j0 * plan.wh / p.h, plan.ww, rows * plan.wh / p.h,
                                 GDALGetRasterXSize(r), GDALGetRasterYSize(r), plan.alg);
    int list[] = {1, 2, 3};
    if (GDALDatasetRasterIOEx(r, GF_Read, win.x0, win.y0, win.w, win.h, rgb.data(), p.w, rows, GDT_Float32, 3, list, 0, 0,
                              static_cast<GSpacing>(cells) * 4, &win.extra) != CE_None)
        return -1;
    // The warp's alpha band, or the image's own mask, says where it has data.
    GDALRasterBandH first = GDALGetRasterBand(r, 1);
    GDALRasterBandH mask = plan.warped ? GDALGetRasterBand(r, 4) : GDALGetMaskBand(first);
    if ((plan.warped || !(GDALGetMaskFlags(first) & GMF_ALL_VALID)) &&
        GDALRasterIOEx(mask, GF_Read, win.x0, win.y0, win.w, win.h, alpha.data(), p.w, rows, GDT_Byte, 0, 0, &win.extra) !=
            CE_None)
        return -1;
    long long n = 0;
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < p.w; ++i) {
            const size_t c = static_cast<size_t>(j) * p.w + i;
            if (!alpha[c]) continue;
            const int x = p.x0 + i, y = p.y0 + j0 + j;
            const size_t at = static_cast<size_t>(y) * p.grid_w + x;
            const float k = plan.scale;
            colour[at] = pack_rgb(rgb[c] * k, rgb[cells + c] * k, rgb[2 * cells + c] * k, x, y);
            covered[at] = 1;
            ++n;
        }
    return n;
}

}  // namespace

Status read_imagery(const std::string &path, const std::vector<int> &bands, const HeightSource &heights,
                    const Placement &p, std::vector<uint16_t> &colour, std::vector<uint8_t> &covered,
                    std::vector<std::string> &notes) {
    ImagePlan plan;
    if (Status st = plan_imagery(path, bands, heights, p, plan, notes); !st.ok) return st;
    const int threads = std::max(1, reader_threads(heights));
    std::vector<Dataset> readers(static_cast<size_t>(threads));
    for (Dataset &r : readers)
        if (!(r = open_dataset(plan.name))) return Status::at(path, gdal_reason_or("cannot open"));
    std::atomic<long long> painted{0};
    const bool ok = for_bands((p.h + band_rows - 1) / band_rows, threads, [&](int t, int b) {
        const long long n = paint_rows(readers[static_cast<size_t>(t)].get(), plan, p, b * band_rows,
                                       std::min(p.h, (b + 1) * band_rows), colour, covered);
        painted += std::max(n, 0LL);
        return n >= 0;
    });
    if (!ok) return Status::at(path, "cannot read: " + gdal_reason_or("GDAL failed"));
    const double share = static_cast<double>(painted) / (static_cast<double>(p.w) * p.h);
    if (share < 0.995)
        notes.push_back(path + ": covers " + percent(painted, 1LL * p.w * p.h) + " of the heights' area; height tints colour the rest");
    return {};
}
