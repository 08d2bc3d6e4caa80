// Raster quirks: grey colour images, rotated georeferencing, 16-bit interlaced PNGs' byte order, front-to-back formats.
#include "import/raster_quirks.h"

#include "common/text.h"
#include "import/pixel_sample.h"
#include "import/raster_open.h"
#include "import/read_budget.h"

#include <cpl_vsi.h>
#include <gdal_version.h>

#include <cmath>
#include <cstring>

namespace {

// Heights need one number per pixel: a colour or palette image is taken only when it is grey.
Status single_band(const std::string &path, HeightSource &src, Dataset &ds, std::string &name) {
    GDALRasterBandH b = GDALGetRasterBand(ds.get(), 1);
    const GDALColorInterp ci = GDALGetRasterColorInterpretation(b);
    if (ci == GCI_PaletteIndex) {
        GDALColorTableH ct = GDALGetRasterColorTable(b);
        for (int i = 0; ct && i < GDALGetColorEntryCount(ct); ++i) {
            const GDALColorEntry *e = GDALGetColorEntry(ct, i);
            if (e->c1 != e->c2 || e->c1 != e->c3)
                return Status::at(path, "a palette image, not greyscale heights (convert it to greyscale, or give it as --colour)");
        }
        name = translate_to_vrt(ds.get(), {"-expand", "gray"}, src.owned);
        if (name.empty()) return Status::at(path, gdal_reason_or("cannot expand its palette"));
        src.notes.push_back(path + ": palette image with only grey entries, read as greyscale");
        ds = open_dataset(name);
        return ds ? Status{} : open_failure(path);
    }
    if (ci != GCI_RedBand || GDALGetRasterCount(ds.get()) < 3) return {};
    // Every pixel looked at must be grey: all of them in an image of up to max_sample_pixels, else
    // a bounded sample (an overview, or blocks spread over it), planned before any is read.
    GDALDriverH d = GDALGetDatasetDriver(ds.get());
    bool grey = true, every_pixel = false;
    const Status st = sample_pixels(path, ds.get(), 3, decodes_sequentially(d ? GDALGetDriverShortName(d) : "", name),
                                    [&](const double *v, size_t n) {
                                        for (size_t i = 0; i < n && grey; ++i) grey = v[i] == v[n + i] && v[i] == v[2 * n + i];
                                        return grey;
                                    },
                                    every_pixel);
    if (!st.ok) return st;
    if (!grey) return Status::at(path, "a colour image, not greyscale heights (convert it to greyscale, or give it as --colour)");
    src.notes.push_back(path + (every_pixel ? ": colour image with only grey pixels, read as greyscale"
                                            : ": colour image whose pixels looked at (a sample of it) are all grey, read as greyscale"));
    return {};
}

// A rotated or sheared raster warped north-up (bilinear). Rows running south to north and columns
// running east to west need no warp: the readers take the samples in the order the ground runs.
Status north_up(const std::string &path, HeightSource &src, Dataset &ds, std::string &name) {
    double gt[6];
    if (!has_geotransform(ds.get(), gt)) return {};
    const double det = gt[1] * gt[5] - gt[2] * gt[4];
    if (!(std::isfinite(det) && det != 0) || !std::isfinite(gt[0]) || !std::isfinite(gt[3]))
        return Status::at(path, "unusable georeferencing: its pixels have no size (the geotransform has no inverse)");
    if (gt[2] == 0 && gt[4] == 0) {
        if (gt[5] > 0) src.notes.push_back(path + ": rows run south to north: read with north at the top");
        if (gt[1] < 0) src.notes.push_back(path + ": columns run east to west: read with east on the right");
        return {};
    }
    name = warp_to_vrt(ds.get(), {"-r", "bilinear", "-ot", "Float32", "-dstnodata", "nan"}, src.owned);
    if (name.empty()) return Status::at(path, "cannot turn it north-up: " + gdal_reason_or("GDAL's warper refused it"));
    src.notes.push_back(path + ": rotated georeferencing: warped north-up (bilinear)");
    ds = open_dataset(name);
    return ds ? Status{} : open_failure(path);
}

// GDAL before 3.10 leaves the samples of 16-bit interlaced PNGs byte-swapped on little-endian
// machines. Such a file is decoded whole by GDAL anyway; here it is copied to memory and swapped back.
Status unswap_interlaced_png16(const std::string &path, HeightSource &src, Dataset &ds, std::string &name) {
#if GDAL_VERSION_NUM < GDAL_COMPUTE_VERSION(3, 10, 1) && !defined(CPL_MSB)
    GDALDriverH d = GDALGetDatasetDriver(ds.get());
    if (!d || std::strcmp(GDALGetDriverShortName(d), "PNG") != 0) return {};
    uint8_t ihdr[29] = {};
    if (VSILFILE *f = VSIFOpenL(name.c_str(), "rb")) {
        const size_t n = VSIFReadL(ihdr, 1, sizeof ihdr, f);
        VSIFCloseL(f);
        if (n < sizeof ihdr) return {};
    }
    if (ihdr[24] != 16 || ihdr[28] != 1) return {};
    // Decoded whole, then copied and swapped: three images at once, held to what one block may take.
    const double bytes = 2.0 * GDALGetRasterXSize(ds.get()) * GDALGetRasterYSize(ds.get()) * GDALGetRasterCount(ds.get());
    if (bytes > max_block_bytes)
        return Status::at(path, "a 16-bit interlaced PNG, decoded whole into " + grouped(static_cast<long long>(bytes)) +
                                    " bytes, more than mvx decodes at once: save it without interlacing");
    auto copy = std::make_unique<MemFile>("png16.tif");
    if (!Dataset(GDALCreateCopy(GDALGetDriverByName("GTiff"), copy->name().c_str(), ds.get(), FALSE, nullptr, nullptr, nullptr)))
        return Status::at(path, gdal_reason_or("cannot decode it"));
    Dataset out(GDALOpen(copy->name().c_str(), GA_Update));
    if (!out) return Status::at(path, gdal_reason_or("cannot decode it"));
    const int w = GDALGetRasterXSize(out.get()), h = GDALGetRasterYSize(out.get());
    std::vector<uint16_t> v(static_cast<size_t>(w) * h);
    for (int b = 1; b <= GDALGetRasterCount(out.get()); ++b) {
        GDALRasterBandH band = GDALGetRasterBand(out.get(), b);
        if (GDALRasterIO(band, GF_Read, 0, 0, w, h, v.data(), w, h, GDT_UInt16, 0, 0) != CE_None)
            return Status::at(path, gdal_reason_or("cannot decode it"));
        for (uint16_t &x : v) x = static_cast<uint16_t>(x >> 8 | x << 8);
        if (GDALRasterIO(band, GF_Write, 0, 0, w, h, v.data(), w, h, GDT_UInt16, 0, 0) != CE_None)
            return Status::at(path, gdal_reason_or("cannot decode it"));
    }
    out.reset();
    name = copy->name();
    src.owned.push_back(std::move(copy));
    ds = open_dataset(name);
    return ds ? Status{} : open_failure(path);
#else
    (void)path, (void)src, (void)ds, (void)name;
    return {};
#endif
}

}  // namespace

// Formats that decode only front to back: two readers would each decode the whole file.
bool decodes_sequentially(const std::string &driver, const std::string &name) {
    for (const char *d : {"PNG", "JPEG", "GIF", "AAIGrid", "GRASSASCIIGrid", "XYZ", "USGSDEM", "ISG"})
        if (driver == d) return true;
    return name.rfind("/vsigzip/", 0) == 0 || name.rfind("/vsizip/", 0) == 0 || name.rfind("/vsitar/", 0) == 0;
}

Status apply_quirks(const std::string &path, HeightSource &src, Dataset &ds, std::string &name) {
    if (Status st = unswap_interlaced_png16(path, src, ds, name); !st.ok) return st;
    if (Status st = single_band(path, src, ds, name); !st.ok) return st;
    return north_up(path, src, ds, name);
}
