// Turns a DEM kept as a NumPy .npz (int16 `elevation`, rows north first, with `dx`, `dy`, `xmin`, `xmax`, `ymin`, `ymax` in degrees) into a GeoTIFF.
// usage: npz_to_geotiff IN.npz OUT.tif
#include <cpl_vsi.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const std::string &what, const std::string &why) {
    std::fprintf(stderr, "npz_to_geotiff: %s: %s\n", what.c_str(), why.c_str());
    std::exit(1);
}

// One .npy member: its dtype, shape and raw little-endian samples.
struct Array {
    std::string descr;
    std::vector<long long> shape;
    std::vector<uint8_t> data;
};

// The value of `key` in the .npy header's Python dict, as text.
std::string header_value(const std::string &h, const std::string &key, const std::string &what) {
    const size_t k = h.find("'" + key + "'");
    const size_t colon = k == std::string::npos ? k : h.find(':', k);
    if (colon == std::string::npos) fail(what, "no '" + key + "' in the header");
    const size_t from = h.find_first_not_of(' ', colon + 1);
    if (from == std::string::npos) fail(what, "a header that does not parse");
    const char close = h[from] == '(' ? ')' : h[from] == '\'' ? '\'' : ',';
    const size_t to = h.find(close, from + 1);
    if (to == std::string::npos) fail(what, "a header that does not parse");
    return close == ',' ? h.substr(from, to - from) : h.substr(from + 1, to - from - 1);
}

Array read_npy(const std::string &npz, const std::string &member) {
    const std::string what = npz + ": " + member;
    VSILFILE *f = VSIFOpenL(("/vsizip/{" + npz + "}/" + member).c_str(), "rb");
    if (!f) fail(what, "cannot open");
    // At most a few MB: the samples of a small DEM.
    std::vector<uint8_t> bytes(1 << 24);
    const size_t n = VSIFReadL(bytes.data(), 1, bytes.size(), f);
    VSIFCloseL(f);
    if (n == bytes.size()) fail(what, "larger than 16 MB");
    if (n < 10 || std::memcmp(bytes.data(), "\x93NUMPY", 6) != 0) fail(what, "not a .npy array");
    const bool v1 = bytes[6] == 1;
    const size_t len = v1 ? bytes[8] | bytes[9] << 8 : bytes[8] | bytes[9] << 8 | bytes[10] << 16 | size_t(bytes[11]) << 24;
    const size_t start = (v1 ? 10 : 12) + len;
    if (start > n) fail(what, "cut short in its header");
    const std::string h(bytes.begin() + (v1 ? 10 : 12), bytes.begin() + start);
    Array a;
    a.descr = header_value(h, "descr", what);
    if (header_value(h, "fortran_order", what) != "False") fail(what, "in Fortran order");
    const std::string shape = header_value(h, "shape", what);
    long long count = 1;
    for (const char *p = shape.c_str(); *p;) {
        char *end = nullptr;
        const long long d = std::strtoll(p, &end, 10);
        if (end == p) {
            ++p;
            continue;
        }
        if (d < 1 || d > 100000) fail(what, "a dimension of " + std::to_string(d));
        a.shape.push_back(d), count *= d, p = end;
    }
    const int size = a.descr == "<i2" ? 2 : a.descr == "<f8" ? 8 : 0;
    if (!size) fail(what, "samples of type " + a.descr + ", not <i2 or <f8");
    if (static_cast<long long>(n - start) != count * size) fail(what, "not as many samples as its shape says");
    a.data.assign(bytes.begin() + start, bytes.begin() + n);
    return a;
}

double scalar(const std::string &npz, const std::string &name) {
    const Array a = read_npy(npz, name + ".npy");
    if (a.descr != "<f8" || !a.shape.empty()) fail(npz + ": " + name + ".npy", "not one float64");
    double v;
    std::memcpy(&v, a.data.data(), 8);
    if (!std::isfinite(v)) fail(npz + ": " + name + ".npy", "not finite");
    return v;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: npz_to_geotiff IN.npz OUT.tif\n");
        return 2;
    }
    const std::string npz = argv[1], out = argv[2];
    GDALAllRegister();
    const Array z = read_npy(npz, "elevation.npy");
    if (z.descr != "<i2" || z.shape.size() != 2) fail(npz + ": elevation.npy", "not a 2-D int16 array");
    const int h = static_cast<int>(z.shape[0]), w = static_cast<int>(z.shape[1]);
    const double dx = scalar(npz, "dx"), dy = scalar(npz, "dy");
    const double x0 = scalar(npz, "xmin"), x1 = scalar(npz, "xmax");
    const double y0 = scalar(npz, "ymin"), y1 = scalar(npz, "ymax");
    // The extents must be the shape's, cell edges to cell edges, whichever way the y's are named.
    if (!(dx > 0 && dy > 0) || std::fabs((x1 - x0) / dx - w) > 1e-6 || std::fabs(std::fabs(y1 - y0) / dy - h) > 1e-6)
        fail(npz, "its extents are not its " + std::to_string(w) + " x " + std::to_string(h) + " cells");
    std::vector<int16_t> samples(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(z.data[2 * i] | z.data[2 * i + 1] << 8);
    double gt[6] = {std::min(x0, x1), dx, 0, std::max(y0, y1), 0, -dy};
    const char *opts[] = {"COMPRESS=DEFLATE", nullptr};
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), out.c_str(), w, h, 1, GDT_Int16, const_cast<char **>(opts));
    if (!ds) fail(out, "cannot create");
    GDALRasterBandH b = GDALGetRasterBand(ds, 1);
    OGRSpatialReferenceH wgs84 = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(wgs84, 4326);
    const bool ok = GDALSetGeoTransform(ds, gt) == CE_None && GDALSetSpatialRef(ds, wgs84) == CE_None &&
                    GDALSetRasterUnitType(b, "m") == CE_None &&
                    GDALRasterIO(b, GF_Write, 0, 0, w, h, samples.data(), w, h, GDT_Int16, 0, 0) == CE_None;
    GDALClose(ds);
    OSRDestroySpatialReference(wgs84);
    if (!ok) fail(out, "cannot write");
    std::printf("wrote %s (%d x %d)\n", out.c_str(), w, h);
    return 0;
}
