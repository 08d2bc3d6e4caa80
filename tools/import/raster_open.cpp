// Opening one raster: a file GDAL reads (an archive looked into, a container at its heights) or a headerless .r16.
#include "import/raster_open.h"

#include "common/text.h"
#include "import/inputs.h"
#include "import/raster_crs.h"
#include "sandbox/gate.h"

#include <cpl_string.h>
#include <cpl_vsi.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <sys/stat.h>

namespace {

constexpr int max_bands = 1024;

// The /vsi prefix that reads inside an archive or compressed file, or empty.
std::string archive_prefix(const std::string &path) {
    if (ends_with(path, ".zip")) return "/vsizip/";
    if (ends_with(path, ".tar") || ends_with(path, ".tgz") || ends_with(path, ".tar.gz")) return "/vsitar/";
    if (ends_with(path, ".gz")) return "/vsigzip/";
    return "";
}

// Names rasters GDAL reads usually have: tried first.
bool has_raster_extension(const std::string &member) {
    for (const char *ext : {".tif", ".tiff", ".gtif", ".vrt", ".hgt", ".asc", ".img", ".nc", ".nc4", ".grd", ".bil", ".bip",
                            ".bsq", ".flt", ".dem", ".bt", ".ter", ".png", ".jpg", ".jpeg", ".jp2", ".j2k", ".gif", ".bmp",
                            ".xyz", ".kea", ".h5", ".hdf", ".hdf5", ".he5", ".grb", ".grib", ".grb2", ".grib2", ".dt0", ".dt1",
                            ".dt2", ".ers", ".rst", ".sdat", ".gpkg", ".mbtiles", ".webp", ".pgm", ".dat", ".bin", ".raw",
                            ".isg", ".gtx", ".adf", ".ddf", ".ntf", ".nitf", ".cub", ".til"})
        if (ends_with(member, ext)) return true;
    return false;
}

// Folders of an archive looked into, and members opened with GDAL, at most: listing a folder, or
// opening a member, takes time in the number of members.
constexpr int max_archive_folders = 32;
constexpr size_t max_archive_opens = 16;

struct ArchiveList {
    std::vector<std::string> all, likely, other;  // every member; named like rasters; neither that nor companions
    int folders = 0;
};

// The members under `dir` by name alone: none is opened, none stat'ed. A name that is neither a
// raster's nor a companion's may be a folder, looked into while the bound allows.
void list_archive(const std::string &dir, const std::string &under, ArchiveList &list) {
    char **names = VSIReadDir(dir.c_str());
    for (int i = 0; names && names[i]; ++i) {
        const std::string n = names[i];
        if (n.empty() || n == "." || n == "..") continue;
        const std::string member = under + n;
        if (!is_companion(member) && !has_raster_extension(member) && list.folders < max_archive_folders) {
            ++list.folders;
            char **inside = VSIReadDir((dir + "/" + n).c_str());
            const bool folder = inside && inside[0];
            CSLDestroy(inside);
            if (folder) {
                list_archive(dir + "/" + n, member + "/", list);
                continue;
            }
        }
        list.all.push_back(member);
        if (is_companion(member)) continue;
        (has_raster_extension(member) ? list.likely : list.other).push_back(member);
    }
    CSLDestroy(names);
}

// The one raster inside an archive (its companions, overviews and masks aside), among the members
// named like rasters first; a bounded number of members is opened.
Status open_archive(const std::string &path, const std::string &prefix, Dataset &ds, std::string &name) {
    const std::string root = prefix + path;
    if (prefix == "/vsigzip/") {
        name = root;
        if (const Refusal r = vet_name(name)) return Status::at(path, refusal_cause(r, path));
        ds = open_dataset(name);
        return ds ? Status{} : open_failure(path);
    }
    ArchiveList list;
    list_archive(root, "", list);
    if (list.all.empty()) return Status::at(path, "an empty or unreadable archive");
    std::vector<std::string> tries = list.likely, rasters;
    tries.insert(tries.end(), list.other.begin(), list.other.end());
    size_t tried = 0;
    for (; tried < tries.size() && tried < max_archive_opens && rasters.size() < 2; ++tried) {
        const std::string member = root + "/" + tries[tried];
        if (const Refusal r = vet_name(member)) return Status::at(path, refusal_cause(r, path));
        if (Dataset d = open_dataset(member); d && GDALGetRasterCount(d.get()) > 0) rasters.push_back(tries[tried]);
        else if (const Refusal r = last_refusal()) return Status::at(path, refusal_cause(r, path));
    }
    const std::string held =
        list.all[0] + (list.all.size() > 1 ? " and " + std::to_string(list.all.size() - 1) + " more" : "");
    if (rasters.empty() && tried < tries.size())
        return Status::at(path, "no raster GDAL reads among the first " + std::to_string(tried) + " members tried (it holds " +
                                    held + "): name the one to read, as " + root + "/" + tries[tried]);
    if (rasters.empty()) return Status::at(path, "nothing inside that GDAL reads as a raster (it holds " + held + ")");
    if (rasters.size() > 1)
        return Status::at(path, "holds several rasters (" + rasters[0] + ", " + rasters[1] + (tries.size() > 2 ? ", ..." : "") +
                              "): name one, as " + root + "/" + rasters[0]);
    name = root + "/" + rasters[0];
    ds = open_dataset(name);
    return ds ? Status{} : open_failure(path);
}

// A container of several rasters (netCDF, HDF): the one that holds heights, by its variable name.
Status open_subdataset(const std::string &path, Dataset &ds, std::string &name) {
    char **sub = GDALGetMetadata(ds.get(), "SUBDATASETS");
    std::vector<std::string> names;
    for (int i = 0; sub && sub[i]; ++i) {
        const std::string kv = sub[i];
        const size_t eq = kv.find('=');
        if (eq != std::string::npos && eq >= 5 && kv.compare(eq - 5, 5, "_NAME") == 0) names.push_back(kv.substr(eq + 1));
    }
    if (names.empty()) return Status::at(path, "has no raster band");
    std::string pick = names.size() == 1 ? names[0] : "";
    // netCDF names a variable after a colon, HDF5 a dataset at the end of its path.
    for (const char *var : {"elevation", "z", "height", "altitude", "topo", "bathymetry", "dem", "elev", "band1"})
        for (const std::string &n : names)
            if (pick.empty() && (ends_with(n, (std::string(":") + var).c_str()) || ends_with(n, (std::string("/") + var).c_str())))
                pick = n;
    if (pick.empty())
        return Status::at(path, "holds several rasters and none is named like heights; choose one, as " + names[0]);
    name = pick;
    ds = open_dataset(name);
    return ds ? Status{} : open_failure(path);
}

}  // namespace

Status open_failure(const std::string &path) {
    if (const Refusal r = last_refusal()) return Status::at(path, refusal_cause(r, path));
    return Status::at(path, gdal_reason_or("not a raster that GDAL can read"));
}

Status open_raster_file(const std::string &path, Dataset &ds, std::string &name) {
    gdal_setup();
    if (is_network_name(path)) return Status::at(path, refusal_cause({path, "", true}, path));
    // A file of that name is a file, colons or not (ab:fifo); other names GDAL resolves itself.
    struct stat st;
    const bool plain = path.rfind("/vsi", 0) != 0 && (!is_gdal_name(path) || stat(path.c_str(), &st) == 0);
    if (plain)
        if (Status s = check_references(path); !s.ok) return s;
    if (const Refusal r = vet_name(path)) return Status::at(path, refusal_cause(r, path));
    if (const std::string prefix = plain ? archive_prefix(path) : ""; !prefix.empty()) {
        if (Status st = open_archive(path, prefix, ds, name); !st.ok) return st;
    } else {
        name = path;
        ds = open_dataset(name);
        if (!ds) return open_failure(path);
    }
    if (GDALGetRasterCount(ds.get()) == 0)
        if (Status st = open_subdataset(path, ds, name); !st.ok) return st;
    if (GDALGetRasterXSize(ds.get()) <= 0 || GDALGetRasterYSize(ds.get()) <= 0) return Status::at(path, "an empty raster");
    // Every band costs GDAL work before the first sample is read; heights and colours need a few.
    if (const int n = GDALGetRasterCount(ds.get()); n > max_bands)
        return Status::at(path, std::to_string(n) + " bands, more than the " + std::to_string(max_bands) +
                              " mvx takes (heights take one, colours three)");
    // GDAL reads what a raw file lacks as zeros: flat ground that is not there.
    if (const Refusal r = short_raw_data(ds.get())) return Status::at(path, refusal_cause(r, path));
    // Companions (.aux.xml, masks) are read when first asked about: by now they have been.
    if (const Refusal r = last_refusal()) return Status::at(path, refusal_cause(r, path));
    return {};
}

// A geographic raster stays within the poles; past them its georeferencing is wrong (a projected
// grid labelled in degrees, a wrong cell size). Half a cell past 90 is the edge of cells centred
// on the pole, as global grids registered on their nodes have.
Status check_latitudes(const std::string &path, const double gt[6], int w, int h, bool geographic) {
    if (!geographic) return {};
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (const auto &[x, y] : {std::pair{0.0, 0.0}, std::pair{1.0 * w, 0.0}, std::pair{0.0, 1.0 * h}, std::pair{1.0 * w, 1.0 * h}}) {
        const double lat = gt[3] + x * gt[4] + y * gt[5];
        lo = std::min(lo, lat), hi = std::max(hi, lat);
    }
    const double edge = 90 + 0.5 * (std::fabs(gt[4]) + std::fabs(gt[5])) + 1e-9;
    if (!std::isfinite(lo) || !std::isfinite(hi) || (lo >= -edge && hi <= edge)) return {};
    return Status::at(path, "its latitudes reach " + number(hi > edge ? hi : lo, 6) +
                                ", beyond the pole: its georeferencing is wrong (check its coordinate system and cell size)");
}

Status check_latitudes(const std::string &path, GDALDatasetH ds) {
    double gt[6];
    if (has_geotransform(ds, gt))
        if (Status st = check_latitudes(path, gt, GDALGetRasterXSize(ds), GDALGetRasterYSize(ds), crs_of(path, ds).geographic); !st.ok)
            return st;
    // Companions (.aux.xml, masks) are read when first asked about: by now they have been.
    if (const Refusal r = last_refusal()) return Status::at(path, refusal_cause(r, path));
    return {};
}

Status r16_size(long long bytes, const std::string &name, int &w, int &h) {
    if (bytes == 0) return Status::at(name, "empty file");
    if (w > 0 && h > 0) {
        const unsigned long long need = 2ULL * static_cast<unsigned>(w) * static_cast<unsigned>(h);
        if (need != static_cast<unsigned long long>(bytes))
            return Status::at(name, std::to_string(bytes) + " bytes do not hold " + std::to_string(w) + " x " + std::to_string(h) +
                                  " 16-bit samples (" + std::to_string(need) + " bytes)");
        return {};
    }
    const long long samples = bytes / 2;
    const long long side = std::llround(std::sqrt(static_cast<double>(samples)));
    if (bytes % 2 || side * side != samples || side > 0x7fffffff)
        return Status::at(name, std::to_string(bytes) + " bytes is not a square grid of 16-bit samples (give its size with --size WxH)");
    w = h = static_cast<int>(side);
    return {};
}

Status open_r16(const std::string &path, int size_w, int size_h, std::vector<std::unique_ptr<MemFile>> &owned, Dataset &ds,
                std::string &name) {
    if (!is_gdal_name(path))
        if (Status s = check_plain_input(path); !s.ok) return s;
    VSIStatBufL st;
    if (VSIStatL(path.c_str(), &st) != 0) return Status::fail(cause(path, "cannot open", errno));
    int w = size_w, h = size_h;
    if (Status s = r16_size(st.st_size, path, w, h); !s.ok) return s;
    auto vrt = std::make_unique<MemFile>("r16.vrt");
    vrt->write("<VRTDataset rasterXSize=\"" + std::to_string(w) + "\" rasterYSize=\"" + std::to_string(h) +
               "\"><VRTRasterBand dataType=\"UInt16\" band=\"1\" subClass=\"VRTRawRasterBand\">"
               "<SourceFilename relativeToVRT=\"0\">" + xml_escaped(path) + "</SourceFilename><ImageOffset>0</ImageOffset>"
               "<PixelOffset>2</PixelOffset><LineOffset>" + std::to_string(2LL * w) +
               "</LineOffset><ByteOrder>LSB</ByteOrder></VRTRasterBand></VRTDataset>");
    name = vrt->name();
    owned.push_back(std::move(vrt));
    ds = open_dataset(name);
    return ds ? Status{} : open_failure(path);
}
