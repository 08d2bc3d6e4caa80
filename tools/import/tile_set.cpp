// The tile set: each input opened as a tile (footprint, coordinate system, unit of height), and the raster of their union.
#include "import/tile_set.h"

#include "common/parallel.h"
#include "common/text.h"
#include "import/float_tiff.h"
#include "import/inputs.h"
#include "import/raster_crs.h"
#include "import/raster_open.h"
#include "import/raster_quirks.h"
#include "import/read_budget.h"
#include "import/tiff_tags.h"
#include "map/export.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// One input opened as GDAL reads it; `name` reopens it.
Status open_file(const std::string &path, int size_w, int size_h, HeightSource &src, Dataset &ds, std::string &name) {
    if (is_network_name(path)) return Status::at(path, refusal_cause({path, "", true}, path));
    const bool r16 = ends_with(path, ".r16");
    if (size_w > 0 && !r16) return Status::at(path, "a size is only needed for headerless .r16 files");
    return r16 ? open_r16(path, size_w, size_h, src.owned, ds, name) : open_raster_file(path, ds, name);
}

// Metres in one unit of height, from the band's unit name; 0 when it is not a length we know.
double metres_per_height_unit(const std::string &unit) {
    static const std::pair<const char *, double> units[] = {
        {"m", 1}, {"metre", 1}, {"metres", 1}, {"meter", 1}, {"meters", 1}, {"km", 1000}, {"ft", 0.3048},
        {"foot", 0.3048}, {"feet", 0.3048}, {"international foot", 0.3048}, {"us survey foot", 1200.0 / 3937.0},
        {"us-ft", 1200.0 / 3937.0}, {"ftus", 1200.0 / 3937.0}};
    for (const auto &[name, metres] : units)
        if (!strcasecmp(unit.c_str(), name)) return metres;
    return 0;
}

// Where the tile of w × h samples lies, from its geotransform.
void place_tile(int w, int h, Tile &t) {
    t.w = w, t.h = h;
    t.x0 = std::min(t.gt[0], t.gt[0] + t.w * t.gt[1]);
    t.x1 = std::max(t.gt[0], t.gt[0] + t.w * t.gt[1]);
    t.y0 = std::min(t.gt[3], t.gt[3] + t.h * t.gt[5]);
    t.y1 = std::max(t.gt[3], t.gt[3] + t.h * t.gt[5]);
}

// What the first band holds and how it is best read.
void describe_band(GDALRasterBandH b, Tile &t) {
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
    bool geo = false, geographic = false, map_levels = false;
    std::string wkt, unit, driver;
    TagSetup setup;
    bool model = false;  // the first tile, read by GDAL as its tags say: tiles of its set-up take its answers
    bool own_blocks = false;  // the first tile's blocks are ones mvx decodes itself
    HeightSource part;   // the notes and in-memory files opening it made
};

// A tile as GDAL reads it: made one north-up band of heights (see apply_quirks), placed, warped
// into `first`'s coordinate system when in another.
Status read_by_gdal(const std::string &path, const Opened *first, Dataset &ds, Opened &o) {
    Tile &t = o.tile;
    if (Status st = check_latitudes(path, ds.get()); !st.ok) return st;
    if (Status st = apply_quirks(path, o.part, ds, t.name); !st.ok) return st;
    o.geo = has_geotransform(ds.get(), t.gt);
    const Crs crs = crs_of(t.name, ds.get());
    o.wkt = crs.wkt;
    o.unit = crs.unit;
    o.geographic = crs.geographic;
    GDALDriverH drv = GDALGetDatasetDriver(ds.get());
    o.driver = drv ? GDALGetDriverShortName(drv) : "";
    const char *mark = GDALGetMetadataItem(ds.get(), "mvx_heights", nullptr);
    o.map_levels = mark && !std::strcmp(mark, levels_value);
    if (first && o.geo && first->geo && !same_crs(o.wkt, first->wkt)) {
        if (Status st = warp_into(path, first->wkt, o.part, ds, t); !st.ok) return st;
        has_geotransform(ds.get(), t.gt);
    }
    place_tile(GDALGetRasterXSize(ds.get()), GDALGetRasterYSize(ds.get()), t);
    describe_band(GDALGetRasterBand(ds.get(), 1), t);
    return {};
}

// A tile of the first's set-up: what GDAL read from the first, but where it lies. GDAL would work
// the same out again from the same tags (its coordinate system, georeferencing and mask), most of
// the cost of opening a small tile.
Status read_like(const std::string &path, const Opened &first, int w, int h, Opened &o) {
    Tile &t = o.tile;
    std::copy(o.setup.gt, o.setup.gt + 6, t.gt);
    place_tile(w, h, t);
    if (Status st = check_latitudes(path, t.gt, t.w, t.h, first.geographic); !st.ok) return st;
    o.geo = true, o.geographic = first.geographic, o.map_levels = first.map_levels;
    o.wkt = first.wkt, o.unit = first.unit, o.driver = first.driver;
    t.scale = first.tile.scale, t.offset = first.tile.offset;
    t.has_nodata = first.tile.has_nodata, t.nodata = first.tile.nodata;
    t.masked = first.tile.masked, t.overviews = first.tile.overviews;
    return {};
}

// A tile alike the first, whose blocks mvx decodes itself, opened by libtiff alone: what GDAL read
// from the first, its size and blocks from its tags. False when it is not such a tile: GDAL opens it.
bool open_alone(const std::string &path, const Opened &first, bool keep, Opened &o) {
    // A local file by its plain name: what lies inside archives, and drivers' names, are GDAL's.
    if (ends_with(path, ".r16") || is_gdal_name(path)) return false;
    auto f = std::make_unique<TiffFile>(path);
    FloatTiffBlocks blocks;
    if (!f->tif() || !blocks.attach(f->tif())) return false;
    const FloatTiffBlocks::Layout l = blocks.layout();
    if (l.w > INT_MAX || l.h > INT_MAX) return false;
    o.setup = tag_setup(f->tif(), path);
    if (o.setup.key.empty() || o.setup.key != first.setup.key) return false;
    Tile &t = o.tile;
    t.path = t.name = path;
    t.block_w = static_cast<int>(l.block_w), t.block_h = static_cast<int>(l.block_h);
    t.sequential = first.tile.sequential;
    o.st = read_like(path, first, static_cast<int>(l.w), static_cast<int>(l.h), o);
    if (o.st.ok && keep) t.opened = std::make_shared<Handoff>(Opening{nullptr, std::move(f)});
    return true;
}

// Opens `path` as a tile; one in another coordinate system than `first`'s is warped into it. The
// dataset is kept for the tile's first reader when `keep`.
void open_tile(const std::string &path, int size_w, int size_h, const Opened *first, bool keep, Opened &o) {
    if (first && first->own_blocks && size_w == 0 && open_alone(path, *first, keep, o)) return;
    Dataset ds;
    Tile &t = o.tile;
    t.path = path;
    if (!(o.st = open_file(path, size_w, size_h, o.part, ds, t.name)).ok) return;
    o.setup = tag_setup(full_image(ds.get()), t.name);
    const bool alike = first && first->model && !o.setup.key.empty() && o.setup.key == first->setup.key;
    if (!(o.st = alike ? read_like(path, *first, GDALGetRasterXSize(ds.get()), GDALGetRasterYSize(ds.get()), o) : read_by_gdal(path, first, ds, o)).ok) return;
    // A block GDAL would hold whole is refused before the read plans around it.
    GDALRasterBandH b = GDALGetRasterBand(ds.get(), 1);
    if (!(o.st = check_read(path, b, 0, max_read_samples, "")).ok) return;
    GDALGetBlockSize(b, &t.block_w, &t.block_h);
    t.block_w = std::max(1, t.block_w), t.block_h = std::max(1, t.block_h);
    // Its mask and overviews, opened just now, are files of their own.
    if (const Refusal r = last_refusal()) {
        o.st = Status::at(path, refusal_cause(r, path));
        return;
    }
    t.sequential = decodes_sequentially(o.driver, t.name);
    // The first tile is a model for others when GDAL read it as its tags say: nothing made of it
    // in its place, and the same geotransform to the bit.
    o.model = !first && !o.setup.key.empty() && o.part.notes.empty() && t.name == path && o.geo &&
              std::memcmp(o.setup.gt, t.gt, sizeof t.gt) == 0;
    o.own_blocks = o.model && FloatTiffBlocks().attach(ds.get());
    if (keep) t.opened = std::make_shared<Handoff>(Opening{std::move(ds), nullptr});
}

// Tiles whose datasets stay open from their opening to their read: a few thousand, and a quarter
// of the files this process may have open.
size_t tiles_kept_open() {
    rlimit r{};
    const rlim_t files = getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur != RLIM_INFINITY ? r.rlim_cur : 4096;
    return std::min<size_t>(4096, static_cast<size_t>(files / 4));
}

// Room in the table of this process's descriptors for `n` more. The kernel grows the table as
// files are opened, and once threads share it, waits for every core to pass a quiescent point at
// each growth: grown now, on one thread, instead of a few times while the tiles open on every core.
void reserve_descriptors(size_t n) {
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) != 0) return;
    const int top = static_cast<int>(std::min<rlim_t>(r.rlim_cur, static_cast<rlim_t>(n) + 64)) - 1;
    const int fd = fcntl(0, F_DUPFD_CLOEXEC, top);
    if (fd >= 0) close(fd);
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

}  // namespace

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
    if (paths.size() > 1) reserve_descriptors(std::min(kept, paths.size()));
    open_tile(paths[0], size_w, size_h, nullptr, kept > 0, opened[0]);
    if (!opened[0].st.ok) return opened[0].st;
    parallel_rows(static_cast<int>(paths.size()) - 1, [&](int i0, int i1) {
        for (int i = i0 + 1; i <= i1; ++i) open_tile(paths[i], size_w, size_h, &opened[0], static_cast<size_t>(i) < kept, opened[i]);
    });
    const Opened &first = opened[0];
    src.driver = first.driver;
    src.georeferenced = first.geo;
    src.wkt = first.wkt;
    const double m0 = metres_per_height_unit(first.unit);
    src.z_in_metres = m0 > 0 || first.geo;
    src.z_metres = m0 > 0 ? m0 : 1;
    src.map_levels = paths.size() == 1 && first.map_levels;
    for (Opened &o : opened) {
        if (!o.st.ok) return o.st;
        if (paths.size() > 1 && !(o.geo && first.geo))
            return Status::at(o.geo ? paths[0] : o.tile.path, "not georeferenced: several inputs are placed by their "
                                                              "georeferencing (give one file, or georeferenced tiles)");
        // Heights in another unit than the first tile's are brought to it.
        const double m = metres_per_height_unit(o.unit);
        if (m0 > 0 && m > 0 && m != m0) o.tile.scale *= m / m0, o.tile.offset *= m / m0;
        src.notes.insert(src.notes.end(), o.part.notes.begin(), o.part.notes.end());
        for (auto &f : o.part.owned) src.owned.push_back(std::move(f));
        src.tiles.push_back(std::move(o.tile));
    }
    src.sequential = src.tiles.size() == 1 && src.tiles[0].sequential;
    return union_of(src);
}
