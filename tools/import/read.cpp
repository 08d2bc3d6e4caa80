// The read: which band and void rule to use, the sample limit, and row bands over reader threads.
#include "read.h"

#include "text.h"

#include <cpl_error.h>
#include <gdal.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

constexpr int band_rows = 64;           // output rows per RasterIO
constexpr float sentinel = -FLT_MAX;    // the NoData of our own wrapper bands

// How voids show in what a read returns.
enum class VoidRule {
    none,       // every sample is valid (non-finite values aside)
    value,      // cells equal to `nodata` (NaN included)
    mask,       // where the mask band, read alongside, is 0
};

struct Plan {
    std::string name;   // what readers open
    VoidRule rule = VoidRule::none;
    float nodata = 0;
    GDALRIOResampleAlg alg = GRIORA_Average;
    double scale = 1, offset = 0;  // what the samples stand for: sample × scale + offset
};

GDALRIOResampleAlg gdal_alg(Resampling r) {
    switch (r) {
    case Resampling::average: return GRIORA_Average;
    case Resampling::cubic: return GRIORA_Cubic;
    case Resampling::nearest: return GRIORA_NearestNeighbour;
    default: return GRIORA_Bilinear;
    }
}

// A float band with `nodata` over the source band 1: NODATA is what the source calls no data
// (or its mask, or NaN), so that GDAL leaves voids out of interpolations too.
std::string wrapper_vrt(const HeightSource &src, const char *source_rule, const char *nodata) {
    return "<VRTDataset rasterXSize=\"" + std::to_string(src.w) + "\" rasterYSize=\"" + std::to_string(src.h) +
           "\"><VRTRasterBand dataType=\"Float32\" band=\"1\"><NoDataValue>" + nodata +
           "</NoDataValue><ComplexSource><SourceFilename relativeToVRT=\"0\">" + xml_escaped(src.open_name) +
           "</SourceFilename><SourceBand>1</SourceBand>" + source_rule + "</ComplexSource></VRTRasterBand></VRTDataset>";
}

// Picks the cheapest read that keeps voids out: GDAL's area average already skips NoData and
// masked samples, so the band is read as it is; interpolations need a band whose NoData they know.
Status plan_read(const HeightSource &src, Resampling r, Plan &plan, std::unique_ptr<MemFile> &wrapper) {
    GDALRasterBandH b = GDALGetRasterBand(src.ds.get(), 1);
    const int flags = GDALGetMaskFlags(b);
    int has_nodata = 0;
    const double nd = GDALGetRasterNoDataValue(b, &has_nodata);
    const GDALDataType t = GDALGetRasterDataType(b);
    const bool floating = t == GDT_Float32 || t == GDT_Float64;
    plan.alg = gdal_alg(r);
    plan.name = src.open_name;
    // Packed data (netCDF's scale_factor and add_offset, a GeoTIFF's scale) are read as stored.
    plan.scale = GDALGetRasterScale(b, nullptr);
    plan.offset = GDALGetRasterOffset(b, nullptr);
    const std::string nodata_rule = has_nodata ? "<NODATA>" + number(nd, 17) + "</NODATA>" : "";
    if (r == Resampling::average) {
        if (flags & GMF_NODATA) {
            plan.rule = VoidRule::value;
            plan.nodata = static_cast<float>(nd);
            return {};
        }
        if (flags & GMF_PER_DATASET) {
            plan.rule = VoidRule::mask;
            return {};
        }
        if (!floating) return {};
        // Without a NoData value a NaN would spread over every cell it touches.
        wrapper = std::make_unique<MemFile>("nan.vrt");
        wrapper->write("<VRTDataset rasterXSize=\"" + std::to_string(src.w) + "\" rasterYSize=\"" + std::to_string(src.h) +
                       "\"><VRTRasterBand dataType=\"Float32\" band=\"1\"><NoDataValue>nan</NoDataValue><SimpleSource>"
                       "<SourceFilename relativeToVRT=\"0\">" + xml_escaped(src.open_name) +
                       "</SourceFilename><SourceBand>1</SourceBand></SimpleSource></VRTRasterBand></VRTDataset>");
        plan.name = wrapper->name();
        plan.rule = VoidRule::value;
        plan.nodata = NAN;
        return {};
    }
    const std::string rule = (flags & GMF_PER_DATASET) ? "<UseMaskBand>true</UseMaskBand>"
                             : has_nodata             ? nodata_rule
                             : floating               ? "<NODATA>nan</NODATA>"
                                                      : "";
    // All the digits: a rounded -FLT_MAX would lie beyond the float range and read back as -inf.
    wrapper = std::make_unique<MemFile>("voids.vrt");
    wrapper->write(wrapper_vrt(src, rule.c_str(), number(sentinel, 17).c_str()));
    plan.name = wrapper->name();
    plan.rule = VoidRule::value;
    plan.nodata = sentinel;
    return {};
}

// Samples read at the resolution GDAL will pick: the coarsest overview that still has at least
// as many samples as the box has cells.
double samples_to_read(const HeightSource &src, const Placement &p) {
    double factor = 1;
    GDALRasterBandH b = GDALGetRasterBand(src.ds.get(), 1);
    for (int i = 0; i < GDALGetOverviewCount(b); ++i) {
        GDALRasterBandH o = GDALGetOverview(b, i);
        const double f = static_cast<double>(src.w) / GDALGetRasterBandXSize(o);
        if (p.sw / f >= p.w && p.sh / f >= p.h) factor = std::max(factor, f);
    }
    return (p.sw / factor) * (p.sh / factor);
}

// One reader: its own dataset handle (GDAL's are not shared between threads).
struct Reader {
    Dataset ds;
    GDALRasterBandH band = nullptr, mask = nullptr;
    std::vector<uint8_t> cover;
};

// Rows j0 ... j1 of the box, straight into the field.
bool read_rows(Reader &rd, const Plan &plan, const Placement &p, int j0, int j1, Field &f) {
    const double ky = p.sh / p.h;
    Window win = window_of(p.sx, p.sy + j0 * ky, p.sw, (j1 - j0) * ky, GDALGetRasterBandXSize(rd.band),
                           GDALGetRasterBandYSize(rd.band), plan.alg);
    const int rows = j1 - j0;
    float *out = f.z.data() + static_cast<size_t>(p.y0 + j0) * f.w + p.x0;
    const GSpacing line = static_cast<GSpacing>(f.w) * sizeof(float);
    if (GDALRasterIOEx(rd.band, GF_Read, win.x0, win.y0, win.w, win.h, out, p.w, rows, GDT_Float32, sizeof(float), line,
                       &win.extra) != CE_None)
        return false;
    if (plan.rule == VoidRule::mask) {
        rd.cover.resize(static_cast<size_t>(p.w) * rows);
        if (GDALRasterIOEx(rd.mask, GF_Read, win.x0, win.y0, win.w, win.h, rd.cover.data(), p.w, rows, GDT_Byte, 1, p.w,
                           &win.extra) != CE_None)
            return false;
    }
    const bool nan_nodata = std::isnan(plan.nodata);
    for (int j = 0; j < rows; ++j) {
        float *z = out + static_cast<size_t>(j) * f.w;
        uint8_t *v = f.voids.data() + static_cast<size_t>(p.y0 + j0 + j) * f.w + p.x0;
        const uint8_t *c = plan.rule == VoidRule::mask ? rd.cover.data() + static_cast<size_t>(j) * p.w : nullptr;
        for (int i = 0; i < p.w; ++i) {
            // Infinities, and doubles beyond the float range, are no heights either.
            const bool hole = !(std::fabs(z[i]) < FLT_MAX) ||
                              (plan.rule == VoidRule::value && !nan_nodata && z[i] == plan.nodata) || (c && c[i] == 0);
            v[i] = hole;
            z[i] = hole ? 0 : static_cast<float>(z[i] * plan.scale + plan.offset);
        }
    }
    return true;
}

}  // namespace

Window window_of(double x, double y, double w, double h, int raster_w, int raster_h, GDALRIOResampleAlg alg) {
    Window win;
    win.x0 = std::max(0, static_cast<int>(std::floor(x)));
    win.y0 = std::max(0, static_cast<int>(std::floor(y)));
    win.w = std::min(raster_w, static_cast<int>(std::ceil(x + w))) - win.x0;
    win.h = std::min(raster_h, static_cast<int>(std::ceil(y + h))) - win.y0;
    INIT_RASTERIO_EXTRA_ARG(win.extra);
    win.extra.eResampleAlg = alg;
    win.extra.bFloatingPointWindowValidity = TRUE;
    win.extra.dfXOff = x, win.extra.dfYOff = y, win.extra.dfXSize = w, win.extra.dfYSize = h;
    return win;
}

bool for_bands(int bands, int threads, const std::function<bool(int thread, int band)> &fn,
               const std::function<void(double)> &progress) {
    std::atomic<int> next{0}, done{0};
    std::atomic<bool> ok{true};
    auto work = [&](int t) {
        for (int b; ok && (b = next++) < bands;) {
            if (!fn(t, b)) ok = false;
            const int d = ++done;
            if (t == 0 && progress) progress(static_cast<double>(d) / bands);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work, t);
    work(0);
    for (std::thread &t : pool) t.join();
    return ok;
}

int reader_threads(const HeightSource &src) {
    return src.sequential ? 1 : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

Resampling resolve(Resampling r, const Placement &p) {
    if (r != Resampling::automatic) return r;
    return p.sw * p.sh > static_cast<double>(p.w) * p.h ? Resampling::average : Resampling::bilinear;
}

Status read_field(const HeightSource &src, const Placement &p, Resampling r, Field &f,
                  const std::function<void(double)> &progress, double max_samples) {
    max_samples = std::min(max_samples, max_read_samples);
    if (const double n = samples_to_read(src, p); n > max_samples) {
        char b[160];
        std::snprintf(b, sizeof b, "%.3g samples to read at the resolution needed, more than the %.3g mvx reads", n,
                      max_samples);
        return Status::fail(src.label + ": " + b + "; build overviews first (gdaladdo -r average " + src.inputs[0] +
                            "), or import a part with --bounds");
    }
    Plan plan;
    std::unique_ptr<MemFile> wrapper;
    if (Status st = plan_read(src, resolve(r, p), plan, wrapper); !st.ok) return st;
    f.w = p.grid_w, f.h = p.grid_h;
    f.z.assign(static_cast<size_t>(f.w) * f.h, 0.0f);
    f.voids.assign(static_cast<size_t>(f.w) * f.h, 1);

    const int bands = (p.h + band_rows - 1) / band_rows;
    // A small box is not worth a second handle and thread.
    const int threads = std::min(bands, static_cast<double>(p.w) * p.h < (1 << 18) ? 1 : reader_threads(src));
    std::vector<Reader> readers(static_cast<size_t>(threads));
    for (size_t t = 0; t < readers.size(); ++t) {
        Reader &rd = readers[t];
        // The first reader of the source itself uses the handle it was opened with.
        GDALDatasetH ds = t == 0 && plan.name == src.open_name ? src.ds.get() : (rd.ds = open_dataset(plan.name)).get();
        if (!ds) return Status::fail(src.label + ": " + gdal_reason());
        rd.band = GDALGetRasterBand(ds, 1);
        if (plan.rule == VoidRule::mask) rd.mask = GDALGetMaskBand(rd.band);
    }
    std::mutex m;
    std::string failure;
    for_bands(bands, threads, [&](int t, int b) {
        const int j0 = b * band_rows, j1 = std::min(p.h, j0 + band_rows);
        if (read_rows(readers[static_cast<size_t>(t)], plan, p, j0, j1, f)) return true;
        std::lock_guard<std::mutex> lock(m);
        if (failure.empty()) failure = "cannot read: " + gdal_reason();
        return false;
    }, progress);
    if (!failure.empty()) return Status::fail(src.label + ": " + failure);
    return {};
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
