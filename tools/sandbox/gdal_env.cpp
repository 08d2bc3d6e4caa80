// GDAL set-up: the drivers, settings that keep it from writing, error capture, the cache bound, the gate.
#include "sandbox/gdal_env.h"

#include "sandbox/drivers.h"
#include "sandbox/gate.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

// Block cache for all datasets together, when GDAL_CACHEMAX does not say otherwise: enough for
// a few rows of tiles of the largest inputs on each thread, small beside the map itself.
constexpr GIntBig cache_bytes = 96LL << 20;

// Settings of GDAL's that reading a file must not change whatever the environment says: each
// keeps GDAL from writing beside an input or running what a file holds.
const char *const read_only_settings[][2] = {
    // No FILE.gz.properties (sizes and checkpoints of a .gz) written beside a gzipped input.
    {"CPL_VSIL_GZIP_WRITE_PROPERTIES", "NO"},
    // SQLite (GeoPackage, MBTiles) reads through GDAL's file layer, and so the gate: it creates
    // no -shm or journal there, and GDAL opens a database in WAL mode immutable, leaving its -wal.
    {"SQLITE_USE_OGR_VFS", "YES"},
    // A VRT's pixel functions written in Python are not run.
    {"GDAL_VRT_ENABLE_PYTHON", "NO"},
};

void CPL_STDCALL quiet(CPLErr, CPLErrorNum, const char *) {}

// The files beside each file, as set_siblings was given them, in GDAL's lists.
std::mutex siblings_lock;
std::map<std::string, CPLStringList> sibling_lists;

// The list for `name`, or null: GDAL then asks for each companion. It stays until set_siblings replaces it.
char **siblings_of(const std::string &name) {
    std::lock_guard<std::mutex> hold(siblings_lock);
    const auto it = sibling_lists.find(name);
    return it == sibling_lists.end() ? nullptr : it->second.List();
}

}  // namespace

void gdal_setup() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Messages are read back with gdal_reason(); on the terminal they would repeat ours.
        CPLSetErrorHandler(quiet);
        for (const auto &[key, value] : read_only_settings) CPLSetConfigOption(key, value);
        register_readers();
        install_gate();
        OSRSetPROJEnableNetwork(FALSE);
        if (!CPLGetConfigOption("GDAL_CACHEMAX", nullptr)) GDALSetCacheMax64(cache_bytes);
        // Every open would otherwise list the file's whole directory to find its companions: with
        // thousands of tiles in one directory, that is most of the work. Asked one by one instead.
        if (!CPLGetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", nullptr))
            CPLSetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "TRUE");
    });
}

std::string gdal_reason() {
    if (const Refusal refusal = last_refusal()) return refusal_cause(refusal, "");
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
    if (!r.empty() && r[0] == '`' && r.find("' not recognized as") != std::string::npos)
        r = "not in a format mvx reads (mvx help import lists them)";
    while (!r.empty() && (r.back() == ' ' || r.back() == '.')) r.pop_back();
    return r;
}

std::string gdal_reason_or(const char *otherwise) {
    const std::string r = gdal_reason();
    return r.empty() ? otherwise : r;
}

void gdal_reset_errors() {
    CPLErrorReset();
    reset_refusals();
}

void set_siblings(Siblings siblings) {
    std::map<std::string, CPLStringList> lists;
    for (const auto &[path, names] : siblings) {
        CPLStringList &l = lists[path];
        for (const std::string &n : names) l.AddString(n.c_str());
    }
    std::lock_guard<std::mutex> hold(siblings_lock);
    sibling_lists.swap(lists);
}

bool alone(const std::string &name) {
    const std::string own = name.substr(name.rfind('/') + 1);
    std::lock_guard<std::mutex> hold(siblings_lock);
    const auto it = sibling_lists.find(name);
    if (it == sibling_lists.end()) return false;
    for (int i = 0; i < it->second.size(); ++i)
        if (own != it->second[i]) return false;
    return true;
}

Dataset open_dataset(const std::string &name) {
    gdal_reset_errors();
    Dataset ds(GDALOpenEx(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR, nullptr, nullptr,
                          siblings_of(name)));
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
    // Whatever the gate refused on the way (a source, a companion file) fails the open, saying why.
    if (last_refusal()) ds.reset();
    for (const char *archive : {"/vsizip/", "/vsitar/", "/vsigzip/", "/vsi7z/", "/vsirar/"})
        if (ds && name.rfind(archive, 0) == 0) note_member(name);
    if (ds) gdal_reset_errors();
    return ds;
}
