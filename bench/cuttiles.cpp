// Cuts the tile benchmark's inputs from one GeoTIFF: a directory of tiles, and the same data again as one file, compressed alike.
#include <cpl_conv.h>
#include <gdal_priv.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// As elevation tiles are published: DEFLATE with the floating-point predictor, internally tiled
// (256 x 256) when large, in strips when small; or in strips whatever their size.
const char *const tiled[] = {"COMPRESS=DEFLATE", "PREDICTOR=3", "TILED=YES", "BIGTIFF=IF_SAFER", nullptr};
const char *const striped[] = {"COMPRESS=DEFLATE", "PREDICTOR=3", "BIGTIFF=IF_SAFER", nullptr};

// Pixels x0 ... x0+w-1, y0 ... y0+h-1 of `src` into `path`, georeferenced where they lie.
bool write_part(GDALDataset *src, int x0, int y0, int w, int h, const std::string &path, bool strips) {
    GDALDriver *drv = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALRasterBand *in = src->GetRasterBand(1);
    const char *const *options = w >= 512 && h >= 512 && !strips ? tiled : striped;
    GDALDataset *out = drv->Create(path.c_str(), w, h, 1, in->GetRasterDataType(), const_cast<char **>(options));
    if (!out) return false;
    double gt[6];
    src->GetGeoTransform(gt);
    gt[0] += x0 * gt[1], gt[3] += y0 * gt[5];
    int has_nodata = 0;
    const double nodata = in->GetNoDataValue(&has_nodata);
    bool ok = out->SetGeoTransform(gt) == CE_None && out->SetSpatialRef(src->GetSpatialRef()) == CE_None &&
              (!has_nodata || out->GetRasterBand(1)->SetNoDataValue(nodata) == CE_None);
    // A band of rows at a time keeps memory small whatever the part's size.
    std::vector<float> rows;
    for (int y = 0; ok && y < h; y += 256) {
        const int n = std::min(256, h - y);
        rows.resize(static_cast<size_t>(w) * n);
        ok = in->RasterIO(GF_Read, x0, y0 + y, w, n, rows.data(), w, n, GDT_Float32, 0, 0, nullptr) == CE_None &&
             out->GetRasterBand(1)->RasterIO(GF_Write, 0, y, w, n, rows.data(), w, n, GDT_Float32, 0, 0, nullptr) == CE_None;
    }
    GDALClose(out);
    return ok && CPLGetLastErrorType() < CE_Failure;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 6 && !(argc == 7 && !std::strcmp(argv[6], "strips"))) {
        std::fprintf(stderr, "usage: bench_cuttiles SRC.tif DIR TILE_W TILE_H WHOLE.tif [strips]\n"
                             "  writes SRC as tiles DIR/rROW_cCOL.tif of TILE_W x TILE_H, and whole as WHOLE.tif (- for none);\n"
                             "  tiles of 512 or more each way are tiled 256 x 256 inside unless strips is given\n");
        return 1;
    }
    const bool strips = argc == 7;
    GDALAllRegister();
    const std::string src_path = argv[1], dir = argv[2], whole = argv[5];
    const int tw = std::atoi(argv[3]), th = std::atoi(argv[4]);
    GDALDataset *probe = GDALDataset::Open(src_path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY);
    if (!probe || tw < 16 || th < 16) {
        std::fprintf(stderr, "bench_cuttiles: %s: cannot read, or tiles under 16 pixels\n", src_path.c_str());
        return 1;
    }
    const int w = probe->GetRasterXSize(), h = probe->GetRasterYSize();
    GDALClose(probe);
    const int cols = (w + tw - 1) / tw, rows = (h + th - 1) / th;
    // Jobs: the whole file first (the longest), then every tile; two threads, each with its own handle.
    std::atomic<int> next{0};
    std::atomic<bool> ok{true};
    auto work = [&] {
        GDALDataset *src = GDALDataset::Open(src_path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY);
        if (!src) ok = false;
        for (int j; ok && (j = next++) <= cols * rows;) {
            if (j == 0) {
                if (whole != "-") ok = ok && write_part(src, 0, 0, w, h, whole, strips);
                continue;
            }
            const int r = (j - 1) / cols, c = (j - 1) % cols;
            const std::string path = dir + "/r" + std::to_string(r) + "_c" + std::to_string(c) + ".tif";
            ok = ok && write_part(src, c * tw, r * th, std::min(tw, w - c * tw), std::min(th, h - r * th), path, strips);
        }
        if (src) GDALClose(src);
    };
    std::thread other(work);
    work();
    other.join();
    if (!ok) {
        std::fprintf(stderr, "bench_cuttiles: cannot write the tiles of %s into %s\n", src_path.c_str(), dir.c_str());
        return 1;
    }
    std::printf("%d tiles of %d x %d (%d x %d)%s\n", cols * rows, tw, th, cols, rows, strips ? " in strips" : "");
    return 0;
}
