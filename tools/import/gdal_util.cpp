// GDAL's utilities as the import uses them: in-memory VRTs, translations and warps, coordinate systems.
#include "import/gdal_util.h"

#include "sandbox/gdal_env.h"

#include <gdal_utils.h>
#include <ogr_srs_api.h>

#include <atomic>
#include <memory>

MemFile::MemFile(const char *tag) {
    static std::atomic<unsigned> next{0};
    name_ = "/vsimem/mvx/" + std::to_string(next++) + "-" + tag;
}

MemFile::~MemFile() { VSIUnlink(name_.c_str()); }

void MemFile::write(const std::string &text) const {
    if (VSILFILE *f = VSIFOpenL(name_.c_str(), "wb")) {
        VSIFWriteL(text.data(), 1, text.size(), f);
        VSIFCloseL(f);
    }
}

std::string xml_escaped(const std::string &s) {
    std::string r;
    for (char c : s) {
        switch (c) {
        case '&': r += "&amp;"; break;
        case '<': r += "&lt;"; break;
        case '>': r += "&gt;"; break;
        case '"': r += "&quot;"; break;
        default: r += c;
        }
    }
    return r;
}

namespace {

template <class Make>
std::string to_vrt(const std::vector<std::string> &args, std::vector<std::unique_ptr<MemFile>> &owned, Make make) {
    std::vector<char *> argv;
    for (const char *a : {"-of", "VRT"}) argv.push_back(const_cast<char *>(a));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    auto vrt = std::make_unique<MemFile>("made.vrt");
    gdal_reset_errors();
    if (!Dataset(make(vrt->name().c_str(), argv.data()))) return "";
    std::string name = vrt->name();
    owned.push_back(std::move(vrt));
    return name;
}

}  // namespace

std::string translate_to_vrt(GDALDatasetH in, const std::vector<std::string> &args,
                             std::vector<std::unique_ptr<MemFile>> &owned) {
    return to_vrt(args, owned, [&](const char *name, char **argv) {
        GDALTranslateOptions *o = GDALTranslateOptionsNew(argv, nullptr);
        GDALDatasetH out = GDALTranslate(name, in, o, nullptr);
        GDALTranslateOptionsFree(o);
        return out;
    });
}

std::string warp_to_vrt(GDALDatasetH in, const std::vector<std::string> &args, std::vector<std::unique_ptr<MemFile>> &owned) {
    return to_vrt(args, owned, [&](const char *name, char **argv) {
        GDALWarpAppOptions *o = GDALWarpAppOptionsNew(argv, nullptr);
        int usage = 0;
        GDALDatasetH src = in;
        GDALDatasetH out = GDALWarp(name, nullptr, 1, &src, o, &usage);
        GDALWarpAppOptionsFree(o);
        return out;
    });
}

bool has_geotransform(GDALDatasetH ds, double gt[6]) {
    if (GDALGetGeoTransform(ds, gt) != CE_None) return false;
    return !(gt[0] == 0 && gt[1] == 1 && gt[2] == 0 && gt[3] == 0 && gt[4] == 0 && gt[5] == 1);
}

SpatialRef::SpatialRef(const std::string &wkt) {
    if (wkt.empty()) return;
    h_ = OSRNewSpatialReference(wkt.c_str());
    if (h_) OSRSetAxisMappingStrategy(h_, OAMS_TRADITIONAL_GIS_ORDER);
}

SpatialRef SpatialRef::wgs84() {
    SpatialRef s("");
    s.h_ = OSRNewSpatialReference(nullptr);
    OSRSetWellKnownGeogCS(s.h_, "WGS84");
    OSRSetAxisMappingStrategy(s.h_, OAMS_TRADITIONAL_GIS_ORDER);
    return s;
}

SpatialRef::~SpatialRef() {
    if (h_) OSRDestroySpatialReference(h_);
}

bool transform_box(const SpatialRef &from, const SpatialRef &to, const double in[4], double out[4]) {
    if (!from.get() || !to.get()) return false;
    OGRCoordinateTransformationH ct = OCTNewCoordinateTransformation(from.get(), to.get());
    const bool ok = ct && OCTTransformBounds(ct, in[0], in[1], in[2], in[3], &out[0], &out[1], &out[2], &out[3], 21);
    if (ct) OCTDestroyCoordinateTransformation(ct);
    return ok;
}

std::string crs_name(const std::string &wkt) {
    const SpatialRef s(wkt);
    if (!s.get()) return "";
    const char *auth = OSRGetAuthorityName(s.get(), nullptr), *code = OSRGetAuthorityCode(s.get(), nullptr);
    if (auth && code) return std::string(auth) + ":" + code;
    const char *name = OSRGetName(s.get());
    return name ? name : "unnamed";
}

bool same_crs(const std::string &a, const std::string &b) {
    if (a == b) return true;
    const SpatialRef sa(a), sb(b);
    const char *opts[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES", nullptr};
    return sa.get() && sb.get() && OSRIsSameEx(sa.get(), sb.get(), opts);
}
