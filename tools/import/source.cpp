// Opening height inputs: local checks, archives, subdatasets, .r16, rotated rasters, tile sets and directories.
#include "source.h"

#include "export.h"
#include "inputs.h"
#include "parallel.h"
#include "read.h"
#include "text.h"

#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal_utils.h>
#include <gdal_version.h>
#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <strings.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int max_bands = 1024;

// The /vsi prefix that reads inside an archive or compressed file, or empty.
std::string archive_prefix(const std::string &path) {
    if (ends_with(path, ".zip")) return "/vsizip/";
    if (ends_with(path, ".tar") || ends_with(path, ".tgz") || ends_with(path, ".tar.gz")) return "/vsitar/";
    if (ends_with(path, ".gz")) return "/vsigzip/";
    return "";
}

Status open_failure(const std::string &path) {
    if (const Refusal r = last_refusal()) return Status::at(path, refusal_cause(r, path));
    return Status::at(path, gdal_reason_or("not a raster that GDAL can read"));
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

// A headerless .r16 as a raw VRT band: little-endian unsigned 16-bit, rows top first.
Status open_r16(const std::string &path, int size_w, int size_h, HeightSource &src, Dataset &ds, std::string &name) {
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
    src.owned.push_back(std::move(vrt));
    ds = open_dataset(name);
    return ds ? Status{} : open_failure(path);
}

// Formats that decode only front to back: two readers would each decode the whole file.
bool decodes_sequentially(const std::string &driver, const std::string &name) {
    for (const char *d : {"PNG", "JPEG", "GIF", "AAIGrid", "GRASSASCIIGrid", "XYZ", "USGSDEM", "ISG"})
        if (driver == d) return true;
    return name.rfind("/vsigzip/", 0) == 0 || name.rfind("/vsizip/", 0) == 0 || name.rfind("/vsitar/", 0) == 0;
}

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
    bool grey = true, whole = false;
    const Status st = sample_pixels(path, ds.get(), 3, decodes_sequentially(d ? GDALGetDriverShortName(d) : "", name),
                                    [&](const double *v, size_t n) {
                                        for (size_t i = 0; i < n && grey; ++i) grey = v[i] == v[n + i] && v[i] == v[2 * n + i];
                                        return grey;
                                    },
                                    whole);
    if (!st.ok) return st;
    if (!grey) return Status::at(path, "a colour image, not greyscale heights (convert it to greyscale, or give it as --colour)");
    src.notes.push_back(path + (whole ? ": colour image with only grey pixels, read as greyscale"
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

// One input, as a north-up single-band dataset; `name` reopens it.
Status open_one(const std::string &path, int size_w, int size_h, HeightSource &src, Dataset &ds, std::string &name) {
    if (is_network_name(path)) return Status::at(path, refusal_cause({path, "", true}, path));
    const bool r16 = ends_with(path, ".r16");
    if (size_w > 0 && !r16) return Status::at(path, "a size is only needed for headerless .r16 files");
    Status st = r16 ? open_r16(path, size_w, size_h, src, ds, name) : open_raster_file(path, ds, name);
    if (!st.ok) return st;
    if (!(st = unswap_interlaced_png16(path, src, ds, name)).ok) return st;
    if (!(st = single_band(path, src, ds, name)).ok) return st;
    return north_up(path, src, ds, name);
}

// Metres in one unit of height, from the band's unit name; 0 when it is not a length we know.
double metres_per_unit(const std::string &unit) {
    static const std::pair<const char *, double> units[] = {
        {"m", 1}, {"metre", 1}, {"metres", 1}, {"meter", 1}, {"meters", 1}, {"km", 1000}, {"ft", 0.3048},
        {"foot", 0.3048}, {"feet", 0.3048}, {"international foot", 0.3048}, {"us survey foot", 1200.0 / 3937.0},
        {"us-ft", 1200.0 / 3937.0}, {"ftus", 1200.0 / 3937.0}};
    for (const auto &[name, metres] : units)
        if (!strcasecmp(unit.c_str(), name)) return metres;
    return 0;
}


// A GeoTIFF's georeferencing keys and GDAL's metadata as they stand in the file, or empty when it
// is no plain GeoTIFF (or has an .aux.xml, which may say otherwise).
std::string geokeys(const std::string &path, GDALDatasetH ds) {
    GDALDriverH d = GDALGetDatasetDriver(ds);
    struct stat st;
    if (!d || std::strcmp(GDALGetDriverShortName(d), "GTiff") != 0 || is_gdal_name(path) ||
        stat((path + ".aux.xml").c_str(), &st) == 0)
        return "";
    TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, [](TIFF *, void *, const char *, const char *, va_list) { return 1; }, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, [](TIFF *, void *, const char *, const char *, va_list) { return 1; }, nullptr);
    TIFF *t = TIFFOpenExt(path.c_str(), "r", opts);
    TIFFOpenOptionsFree(opts);
    if (!t) return "";
    std::string keys;
    // GeoKeyDirectory, GeoDoubleParams, GeoAsciiParams, GDAL's metadata (a unit of height): as
    // libtiff knows them, registered by GDAL and libgeotiff, or not.
    for (const uint32_t tag : {34735u, 34736u, 34737u, 42112u}) {
        const TIFFField *f = TIFFFieldWithTag(t, tag);
        if (!f) continue;
        const char *data = nullptr;
        size_t bytes = 0;
        if (!TIFFFieldPassCount(f)) {
            if (TIFFFieldDataType(f) == TIFF_ASCII && TIFFGetField(t, tag, &data) && data) bytes = std::strlen(data);
        } else if (TIFFFieldReadCount(f) == TIFF_VARIABLE2) {
            uint32_t n = 0;
            if (TIFFGetField(t, tag, &n, &data)) bytes = static_cast<size_t>(n) * TIFFDataWidth(TIFFFieldDataType(f));
        } else {
            uint16_t n = 0;
            if (TIFFGetField(t, tag, &n, &data)) bytes = static_cast<size_t>(n) * TIFFDataWidth(TIFFFieldDataType(f));
        }
        if (data && bytes > 0 && bytes < (1u << 24)) keys += std::to_string(tag) + ":" + std::to_string(bytes) + ":" + std::string(data, bytes);
    }
    TIFFClose(t);
    return keys;
}

// A raster's coordinate system and unit of height. GDAL works a GeoTIFF's out from its keys
// through PROJ's database, most of the cost of opening a small tile: GeoTIFFs with the same keys
// share the first answer.
struct Crs {
    std::string wkt;
    bool geographic = false;
    std::string unit;
};
Crs crs_of(const std::string &path, GDALDatasetH ds) {
    // A tile is asked twice as it opens (its latitudes checked, then its system taken).
    thread_local GDALDatasetH last_ds = nullptr;
    thread_local std::string last_path;
    thread_local Crs last;
    if (ds == last_ds && path == last_path) return last;
    static std::mutex m;
    static std::map<std::string, Crs> known;
    const std::string keys = geokeys(path, ds);
    if (!keys.empty()) {
        std::lock_guard<std::mutex> lock(m);
        if (auto it = known.find(keys); it != known.end()) {
            last_ds = ds, last_path = path, last = it->second;
            return last;
        }
    }
    Crs c;
    c.wkt = GDALGetProjectionRef(ds);
    OGRSpatialReferenceH s = GDALGetSpatialRef(ds);
    c.geographic = s && OSRIsGeographic(s);
    c.unit = GDALGetRasterUnitType(GDALGetRasterBand(ds, 1));
    if (!keys.empty()) {
        std::lock_guard<std::mutex> lock(m);
        known.emplace(keys, c);
    }
    last_ds = ds, last_path = path, last = c;
    return c;
}

// What the first band holds and how it is best read.
void describe_band(GDALDatasetH ds, GDALRasterBandH b, Tile &t) {
    t.w = GDALGetRasterXSize(ds);
    t.h = GDALGetRasterYSize(ds);
    t.x0 = std::min(t.gt[0], t.gt[0] + t.w * t.gt[1]);
    t.x1 = std::max(t.gt[0], t.gt[0] + t.w * t.gt[1]);
    t.y0 = std::min(t.gt[3], t.gt[3] + t.h * t.gt[5]);
    t.y1 = std::max(t.gt[3], t.gt[3] + t.h * t.gt[5]);
    // Packed data (netCDF's scale_factor and add_offset, a GeoTIFF's scale): each tile its own.
    t.scale = GDALGetRasterScale(b, nullptr);
    t.offset = GDALGetRasterOffset(b, nullptr);
    int has_nodata = 0;
    t.nodata = GDALGetRasterNoDataValue(b, &has_nodata);
    t.has_nodata = has_nodata != 0;
    const int flags = GDALGetMaskFlags(b);
    t.masked = !(flags & (GMF_ALL_VALID | GMF_NODATA));
    for (int i = 0; i < GDALGetOverviewCount(b); ++i)
        if (GDALRasterBandH o = GDALGetOverview(b, i))
            t.overviews.emplace_back(GDALGetRasterBandXSize(o), GDALGetRasterBandYSize(o));
    GDALGetBlockSize(b, &t.block_w, &t.block_h);
    t.block_w = std::max(1, t.block_w), t.block_h = std::max(1, t.block_h);
}

// A tile in another coordinate system than the first, warped into it at about its own resolution;
// the readers then average or interpolate it like any other tile.
Status warp_into(const std::string &path, const std::string &wkt, HeightSource &src, Dataset &ds, Tile &t) {
    const std::string from = crs_name(GDALGetProjectionRef(ds.get()));
    t.name = warp_to_vrt(ds.get(), {"-t_srs", wkt, "-r", "bilinear", "-ot", "Float32", "-dstnodata", "nan"}, src.owned);
    if (t.name.empty())
        return Status::at(path, "cannot warp it from " + from + " into " + crs_name(wkt) + ": " +
                                    gdal_reason_or("GDAL's warper refused it"));
    ds = open_dataset(t.name);
    if (!ds) return open_failure(path);
    src.notes.push_back(path + ": in " + from + ": warped into " + crs_name(wkt) + " (bilinear)");
    return {};
}

// One input opened: the tile, and what the whole set takes from the first.
struct Opened {
    Status st;
    Tile tile;
    bool geo = false, levels = false;
    std::string wkt, unit, driver;
    HeightSource part;  // the notes and in-memory files opening it made
};

// Opens `path` as a tile; one in another coordinate system than `first`'s is warped into it. The
// dataset is kept for the tile's first reader when `keep`.
void open_tile(const std::string &path, int size_w, int size_h, const Opened *first, bool keep, Opened &o) {
    Dataset ds;
    std::string name;
    if (!(o.st = open_one(path, size_w, size_h, o.part, ds, name)).ok) return;
    Tile &t = o.tile;
    t.path = path;
    t.name = name;
    o.geo = has_geotransform(ds.get(), t.gt);
    const Crs crs = crs_of(name, ds.get());
    o.wkt = crs.wkt;
    o.unit = crs.unit;
    GDALDriverH drv = GDALGetDatasetDriver(ds.get());
    o.driver = drv ? GDALGetDriverShortName(drv) : "";
    const char *mark = GDALGetMetadataItem(ds.get(), "mvx_heights", nullptr);
    o.levels = mark && !std::strcmp(mark, levels_value);
    if (first && o.geo && first->geo && !same_crs(o.wkt, first->wkt)) {
        if (!(o.st = warp_into(path, first->wkt, o.part, ds, t)).ok) return;
        has_geotransform(ds.get(), t.gt);
    }
    // A block GDAL would hold whole is refused before the read plans around it.
    GDALRasterBandH b = GDALGetRasterBand(ds.get(), 1);
    if (!(o.st = check_read(path, b, 0, max_read_samples, "")).ok) return;
    describe_band(ds.get(), b, t);
    // Its mask and overviews, opened just now, are files of their own.
    if (const Refusal r = last_refusal()) {
        o.st = Status::at(path, refusal_cause(r, path));
        return;
    }
    t.sequential = decodes_sequentially(o.driver, t.name);
    if (keep) t.opened = std::make_shared<Handoff>(std::move(ds));
}

// Tiles whose datasets stay open from their opening to their read: a few thousand, and a quarter
// of the files this process may have open.
size_t tiles_kept_open() {
    rlimit r{};
    const rlim_t files = getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur != RLIM_INFINITY ? r.rlim_cur : 4096;
    return std::min<size_t>(4096, static_cast<size_t>(files / 4));
}

// The one north-up raster the tiles make together: their union at the finest resolution, in the
// order of the ground (north first, then west), so that how the files were named cannot change the map.
Status union_of(HeightSource &src) {
    std::vector<Tile> &tiles = src.tiles;
    std::stable_sort(tiles.begin(), tiles.end(), [](const Tile &a, const Tile &b) {
        if (a.y1 != b.y1) return a.y1 > b.y1;
        if (a.x0 != b.x0) return a.x0 < b.x0;
        return std::fabs(a.gt[1]) < std::fabs(b.gt[1]);
    });
    const Tile &t0 = tiles[0];
    if (tiles.size() == 1) {
        src.w = t0.w, src.h = t0.h;
        if (!src.georeferenced) return {};
        src.gt[0] = t0.x0, src.gt[1] = std::fabs(t0.gt[1]), src.gt[2] = 0;
        src.gt[3] = t0.y1, src.gt[4] = 0, src.gt[5] = -std::fabs(t0.gt[5]);
        return {};
    }
    double x0 = t0.x0, y0 = t0.y0, x1 = t0.x1, y1 = t0.y1, rx = std::fabs(t0.gt[1]), ry = std::fabs(t0.gt[5]);
    for (const Tile &t : tiles) {
        x0 = std::min(x0, t.x0), y0 = std::min(y0, t.y0), x1 = std::max(x1, t.x1), y1 = std::max(y1, t.y1);
        rx = std::min(rx, std::fabs(t.gt[1])), ry = std::min(ry, std::fabs(t.gt[5]));
    }
    const double w = std::round((x1 - x0) / rx), h = std::round((y1 - y0) / ry);
    if (!(w >= 1 && h >= 1 && w < 2147483647.0 && h < 2147483647.0))
        return Status::fail(src.label + ": the tiles together span " + number(w) + " x " + number(h) +
                            " samples at their finest resolution, more than a raster can have");
    src.w = static_cast<int>(w), src.h = static_cast<int>(h);
    const double gt[6] = {x0, (x1 - x0) / w, 0, y1, 0, -(y1 - y0) / h};
    std::copy(gt, gt + 6, src.gt);
    return {};
}

// A geographic raster stays within the poles; past them its georeferencing is wrong (a projected
// grid labelled in degrees, a wrong cell size). Half a cell past 90 is the edge of cells centred
// on the pole, as global grids registered on their nodes have.
Status check_latitudes(const std::string &path, GDALDatasetH ds) {
    double gt[6];
    if (!has_geotransform(ds, gt)) return {};
    if (!crs_of(path, ds).geographic) return {};
    const double w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (const auto &[x, y] : {std::pair{0.0, 0.0}, std::pair{w, 0.0}, std::pair{0.0, h}, std::pair{w, h}}) {
        const double lat = gt[3] + x * gt[4] + y * gt[5];
        lo = std::min(lo, lat), hi = std::max(hi, lat);
    }
    const double edge = 90 + 0.5 * (std::fabs(gt[4]) + std::fabs(gt[5])) + 1e-9;
    if (!std::isfinite(lo) || !std::isfinite(hi) || (lo >= -edge && hi <= edge)) return {};
    return Status::at(path, "its latitudes reach " + number(hi > edge ? hi : lo, 6) +
                                ", beyond the pole: its georeferencing is wrong (check its coordinate system and cell size)");
}

}  // namespace

Status open_raster_file(const std::string &path, Dataset &ds, std::string &name) {
    gdal_setup();
    if (is_network_name(path)) return Status::at(path, refusal_cause({path, "", true}, path));
    // A file of that name is a file, colons or not (ab:fifo); other names GDAL resolves itself.
    struct stat st;
    const bool plain = path.rfind("/vsi", 0) != 0 && (stat(path.c_str(), &st) == 0 || !is_gdal_name(path));
    if (plain) {
        if (Status s = check_plain_input(path); !s.ok) return s;
        if (Status s = check_references(path); !s.ok) return s;
    }
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
    if (Status st = check_latitudes(path, ds.get()); !st.ok) return st;
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

Status open_heights(const std::vector<std::string> &paths, int size_w, int size_h, HeightSource &src) {
    gdal_setup();
    if (paths.empty()) return Status::fail("import: no height file given");
    src = HeightSource();
    src.inputs = paths;
    src.label = paths.size() == 1 ? paths[0] : paths[0] + " and " + std::to_string(paths.size() - 1) + " more tiles";
    // The first tile sets the coordinate system and the unit; the others are opened on every core
    // (each open reads the file's georeferencing, most of a small tile's cost), in order after.
    std::vector<Opened> opened(paths.size());
    const size_t kept = tiles_kept_open();
    open_tile(paths[0], size_w, size_h, nullptr, kept > 0, opened[0]);
    if (!opened[0].st.ok) return opened[0].st;
    parallel_rows(static_cast<int>(paths.size()) - 1, [&](int i0, int i1) {
        for (int i = i0 + 1; i <= i1; ++i) open_tile(paths[i], size_w, size_h, &opened[0], static_cast<size_t>(i) < kept, opened[i]);
    });
    const Opened &first = opened[0];
    src.driver = first.driver;
    src.georeferenced = first.geo;
    src.wkt = first.wkt;
    const double m0 = metres_per_unit(first.unit);
    src.z_in_metres = m0 > 0 || first.geo;
    src.z_metres = m0 > 0 ? m0 : 1;
    src.levels = paths.size() == 1 && first.levels;
    for (Opened &o : opened) {
        if (!o.st.ok) return o.st;
        if (paths.size() > 1 && !(o.geo && first.geo))
            return Status::at(o.geo ? paths[0] : o.tile.path, "not georeferenced: several inputs are placed by their "
                                                              "georeferencing (give one file, or georeferenced tiles)");
        // Heights in another unit than the first tile's are brought to it.
        const double m = metres_per_unit(o.unit);
        if (m0 > 0 && m > 0 && m != m0) o.tile.scale *= m / m0, o.tile.offset *= m / m0;
        src.notes.insert(src.notes.end(), o.part.notes.begin(), o.part.notes.end());
        for (auto &f : o.part.owned) src.owned.push_back(std::move(f));
        src.tiles.push_back(std::move(o.tile));
    }
    src.sequential = src.tiles.size() == 1 && src.tiles[0].sequential;
    return union_of(src);
}
