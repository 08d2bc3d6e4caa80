// GDAL set-up: error capture, the block cache bound, network drivers and file systems refused.
#include "gdal_env.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>
#include <cpl_vsi_virtual.h>
#include <gdal.h>
#include <gdal_utils.h>
#include <ogr_srs_api.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// Block cache for all datasets together, when GDAL_CACHEMAX does not say otherwise: enough for
// a few rows of tiles of the largest inputs on each thread, small beside the map itself.
constexpr GIntBig cache_bytes = 96LL << 20;

const char *const network_drivers[] = {"WCS",    "WMS",   "WMTS",  "HTTP",        "PLMOSAIC", "PLSCENES",
                                       "EEDAI",  "EEDA",  "DAAS",  "OGCAPI",      "STACTA",   "STACIT",
                                       "NGW",    "PostGISRaster", "KMLSUPEROVERLAY"};

const char *const network_prefixes[] = {"/vsicurl/", "/vsicurl_streaming/", "/vsis3/",    "/vsis3_streaming/",
                                        "/vsigs/",   "/vsigs_streaming/",   "/vsiaz/",    "/vsiaz_streaming/",
                                        "/vsiadls/", "/vsioss/",            "/vsioss_streaming/", "/vsiswift/",
                                        "/vsiswift_streaming/", "/vsiwebhdfs/", "/vsihdfs/"};

thread_local std::string attempted;

void *refuse_open(void *, const char *name, const char *) {
    if (attempted.empty()) attempted = name;
    return nullptr;
}

int refuse_stat(void *, const char *name, VSIStatBufL *, int) {
    if (attempted.empty()) attempted = name;
    return -1;
}

void CPL_STDCALL quiet(CPLErr, CPLErrorNum, const char *) {}

}  // namespace

void gdal_setup() {
    static std::once_flag once;
    std::call_once(once, [] {
        GDALAllRegister();
        for (const char *name : network_drivers)
            if (GDALDriverH d = GDALGetDriverByName(name)) {
                GDALDeregisterDriver(d);
                GDALDestroyDriver(d);
            }
        VSIFilesystemPluginCallbacksStruct *cb = VSIAllocFilesystemPluginCallbacksStruct();
        cb->open = refuse_open;
        cb->stat = refuse_stat;
        // GDAL forgets the handlers it replaces; held here (never destroyed) they stay reachable, not leaked.
        static auto *replaced = new std::vector<VSIFilesystemHandler *>;
        for (const char *prefix : network_prefixes) {
            replaced->push_back(VSIFileManager::GetHandler(prefix));
            VSIInstallPluginHandler(prefix, cb);
        }
        VSIFreeFilesystemPluginCallbacksStruct(cb);
        OSRSetPROJEnableNetwork(FALSE);
        if (!CPLGetConfigOption("GDAL_CACHEMAX", nullptr)) GDALSetCacheMax64(cache_bytes);
        // Every open would otherwise list the file's whole directory to find its companions: with
        // thousands of tiles in one directory, that is most of the work. Asked one by one instead.
        if (!CPLGetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", nullptr))
            CPLSetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "TRUE");
        // Messages are read back with gdal_reason(); on the terminal they would repeat ours.
        CPLSetErrorHandler(quiet);
    });
}

std::string gdal_reason() {
    std::string r = CPLGetLastErrorType() >= CE_Failure ? CPLGetLastErrorMsg() : "";
    for (char &c : r)
        if (c == '\n' || c == '\r') c = ' ';
    // Our messages name the file already; GDAL's name it again, and where in its blocks it was.
    if (const size_t at = r.find("IReadBlock failed at X offset "); at != std::string::npos) {
        const size_t colon = r.find(": ", at);
        r.erase(at, colon == std::string::npos ? std::string::npos : colon + 2 - at);
    }
    // "NAME: ..." or "NAME, band N: ...", where NAME looks like a path.
    const size_t colon = r.find(": "), band = r.find(", band ");
    const size_t end = std::min(colon, band);
    if (colon != std::string::npos && r.find(' ') >= end && r.substr(0, end).find_first_of("./") != std::string::npos)
        r.erase(0, colon + 2);
    if (!r.empty() && r[0] == '`' && r.find("' not recognized as") != std::string::npos) r = "not in any raster format GDAL reads";
    while (!r.empty() && (r.back() == ' ' || r.back() == '.')) r.pop_back();
    return r;
}

std::string gdal_reason_or(const char *otherwise) {
    const std::string r = gdal_reason();
    return r.empty() ? otherwise : r;
}

bool is_network_name(const std::string &name) {
    if (name.find("://") != std::string::npos) return true;
    for (const char *prefix : network_prefixes)
        if (name.find(prefix) != std::string::npos) return true;
    return false;
}

std::string network_attempt() {
    std::string a;
    a.swap(attempted);
    return a;
}

void gdal_reset_errors() {
    CPLErrorReset();
    attempted.clear();
}

Dataset open_dataset(const std::string &name) {
    gdal_reset_errors();
    Dataset ds(GDALOpenEx(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR, nullptr, nullptr, nullptr));
    // GDAL 3.6 returns nothing but NoData from the first read through a VRT's implicit overviews
    // (those its sources have); one sample read from each overview first sets them up.
    GDALDriverH d = ds ? GDALGetDatasetDriver(ds.get()) : nullptr;
    if (d && !std::strcmp(GDALGetDriverShortName(d), "VRT"))
        for (int b = 1; b <= GDALGetRasterCount(ds.get()); ++b) {
            GDALRasterBandH band = GDALGetRasterBand(ds.get(), b);
            for (int i = 0; i < GDALGetOverviewCount(band); ++i) {
                float sample;
                if (GDALRasterIO(GDALGetOverview(band, i), GF_Read, 0, 0, 1, 1, &sample, 1, 1, GDT_Float32, 0, 0) != CE_None)
                    break;
            }
        }
    if (ds) gdal_reset_errors();
    return ds;
}

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
