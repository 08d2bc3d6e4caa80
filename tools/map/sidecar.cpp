// The sidecar file: JSON through GDAL's reader and writer, one version of the layout.
#include "map/sidecar.h"

#include "common/text.h"

#include <cpl_json.h>

#include <sys/mman.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <tuple>

namespace {

const char format_name[] = "mvx map sidecar 1";

// A JSON whole number, which must fit an int; json-c would read text, fractions and booleans as numbers.
Status read_json_int(const CPLJSONObject &r, const std::string &key, const std::string &name, int &v) {
    const CPLJSONObject o = r.GetObj(key);
    if (o.GetType() != CPLJSONObject::Type::Integer && o.GetType() != CPLJSONObject::Type::Long)
        return Status::at(name, key + " is not a whole number");
    const long long n = o.ToLong();
    if (n < INT_MIN || n > INT_MAX) return Status::at(name, key + " is out of range: " + std::to_string(n));
    v = static_cast<int>(n);
    return {};
}

// A JSON number of any kind, as a double; false for anything else.
bool read_json_real(const CPLJSONObject &o, double &v) {
    const CPLJSONObject::Type t = o.GetType();
    if (t != CPLJSONObject::Type::Integer && t != CPLJSONObject::Type::Long && t != CPLJSONObject::Type::Double) return false;
    v = o.ToDouble();
    return true;
}

}  // namespace

std::string sidecar_path(const std::string &map) { return map + ".json"; }

double height_of_level(const Sidecar &s, int level) {
    return level < 0 ? s.height_at_m1 + (level + 1) * s.per_level_below : s.height_at_0 + level * s.per_level_above;
}

bool is_sea_level(const Sidecar &s, int level) { return height_of_level(s, level) <= s.sea_level; }

std::string sidecar_json(const Sidecar &s) {
    CPLJSONDocument doc;
    CPLJSONObject r = doc.GetRoot();
    r.Add("format", format_name);
    r.Add("written_by", s.written_by);
    CPLJSONArray src;
    for (const std::string &p : s.sources) src.Add(p);
    r.Add("sources", src);
    if (!s.read.empty()) {
        CPLJSONArray read;
        for (const std::string &p : s.read) read.Add(p);
        r.Add("read", read);
    }
    CPLJSONObject crs;
    crs.Add("name", s.crs_name);
    crs.Add("wkt", s.crs);
    r.Add("crs", crs);
    if (s.georeferenced) {
        CPLJSONArray gt;
        for (double v : s.gt) gt.Add(v);
        r.Add("geotransform", gt);
    }
    if (s.has_bounds) {
        CPLJSONObject b;
        b.Add("west", s.west), b.Add("south", s.south), b.Add("east", s.east), b.Add("north", s.north);
        r.Add("bounds_lonlat", b);
    }
    CPLJSONObject box;
    box.Add("x0", s.box_x0), box.Add("y0", s.box_y0), box.Add("w", s.box_w), box.Add("h", s.box_h);
    r.Add("box", box);
    CPLJSONObject cell;
    cell.Add("across", s.cell_x), cell.Add("down", s.cell_y), cell.Add("nominal", s.nominal);
    r.Add("metres_per_cell", cell);
    CPLJSONObject lv;
    lv.Add("unit", s.metres ? "metre" : "input unit");
    lv.Add("height_at_0", s.height_at_0);
    lv.Add("height_at_-1", s.height_at_m1);
    lv.Add("per_level_below_0", s.per_level_below);
    lv.Add("per_level_above_0", s.per_level_above);
    r.Add("levels", lv);
    r.Add("sea_level", s.sea_level);
    return doc.SaveAsString() + "\n";
}

Status parse_sidecar(const std::string &text, const std::string &name, Sidecar &s) {
    CPLJSONDocument doc;
    if (!doc.LoadMemory(text)) return Status::fail(name + ": not JSON");
    const CPLJSONObject r = doc.GetRoot();
    if (r.GetString("format") != format_name) return Status::fail(name + ": not an mvx map sidecar");
    s = Sidecar{};
    s.written_by = r.GetString("written_by");
    const CPLJSONArray src = r.GetArray("sources");
    for (int i = 0; i < src.Size(); ++i) s.sources.push_back(src[i].ToString());
    const CPLJSONArray read = r.GetArray("read");
    for (int i = 0; i < read.Size(); ++i) s.read.push_back(read[i].ToString());
    s.crs_name = r.GetString("crs/name");
    s.crs = r.GetString("crs/wkt");
    const CPLJSONArray gt = r.GetArray("geotransform");
    if (gt.IsValid() && gt.Size() != 6)
        return Status::at(name, "a geotransform of " + std::to_string(gt.Size()) + " numbers, not 6");
    s.georeferenced = gt.IsValid();
    for (int i = 0; s.georeferenced && i < 6; ++i)
        if (!read_json_real(gt[i], s.gt[i])) return Status::at(name, "geotransform holds something that is not a number");
    const CPLJSONObject b = r.GetObj("bounds_lonlat");
    s.has_bounds = b.IsValid();
    if (s.has_bounds)
        s.west = b.GetDouble("west"), s.south = b.GetDouble("south"), s.east = b.GetDouble("east"),
        s.north = b.GetDouble("north");
    for (const auto &[key, v] : {std::pair<const char *, int *>{"box/x0", &s.box_x0}, {"box/y0", &s.box_y0},
                                 {"box/w", &s.box_w}, {"box/h", &s.box_h}})
        if (Status st = read_json_int(r, key, name, *v); !st.ok) return st;
    s.cell_x = r.GetDouble("metres_per_cell/across"), s.cell_y = r.GetDouble("metres_per_cell/down");
    s.nominal = r.GetBool("metres_per_cell/nominal");
    s.metres = r.GetString("levels/unit") == "metre";
    s.height_at_0 = r.GetDouble("levels/height_at_0");
    s.per_level_below = r.GetDouble("levels/per_level_below_0", 1);
    s.per_level_above = r.GetDouble("levels/per_level_above_0", 1);
    // Sidecars from before the sea sat on a level boundary have one line through every level.
    s.height_at_m1 = r.GetDouble("levels/height_at_-1", s.height_at_0 - s.per_level_below);
    s.sea_level = r.GetDouble("sea_level");
    return check_sidecar(s, name);
}

Status check_sidecar(const Sidecar &s, const std::string &name) {
    const struct {
        const char *key;
        double v;
        bool size;  // never negative
    } fields[] = {{"geotransform", s.gt[0], false},          {"geotransform", s.gt[1], false},
                  {"geotransform", s.gt[2], false},          {"geotransform", s.gt[3], false},
                  {"geotransform", s.gt[4], false},          {"geotransform", s.gt[5], false},
                  {"bounds_lonlat/west", s.west, false},     {"bounds_lonlat/south", s.south, false},
                  {"bounds_lonlat/east", s.east, false},     {"bounds_lonlat/north", s.north, false},
                  {"metres_per_cell/across", s.cell_x, true}, {"metres_per_cell/down", s.cell_y, true},
                  {"levels/height_at_0", s.height_at_0, false}, {"levels/height_at_-1", s.height_at_m1, false},
                  {"levels/per_level_below_0", s.per_level_below, true},
                  {"levels/per_level_above_0", s.per_level_above, true}, {"sea_level", s.sea_level, false}};
    for (const auto &f : fields) {
        if (!std::isfinite(f.v)) return Status::at(name, std::string(f.key) + " holds a number that is not finite");
        if (f.size && f.v < 0) return Status::at(name, std::string(f.key) + " is negative");
    }
    // In 64 bits: the corner and the size may each be near the limits of an int.
    const long long x0 = s.box_x0, y0 = s.box_y0, w = s.box_w, h = s.box_h;
    if (w <= 0 || h <= 0)
        return Status::at(name, "its box of " + std::to_string(w) + " x " + std::to_string(h) + " cells is empty");
    if (x0 < 0 || y0 < 0 || x0 + w > grid_columns || y0 + h > grid_rows)
        return Status::at(name, "its box, columns " + std::to_string(x0) + " to " + std::to_string(x0 + w - 1) + " and rows " +
                                    std::to_string(y0) + " to " + std::to_string(y0 + h - 1) + ", is not within the " +
                                    std::to_string(grid_columns) + " x " + std::to_string(grid_rows) + " map");
    const double area = s.gt[1] * s.gt[5] - s.gt[2] * s.gt[4];
    if (s.georeferenced && !(std::isfinite(area) && area != 0))
        return Status::at(name, "its geotransform gives cells " + std::string(area == 0 ? "no area" : "an infinite area"));
    // What is worked out from finite numbers must be finite too: the heights of the end levels,
    // and the grid's corners (those of any box, and of a box's blocks, lie between them).
    for (const auto &[level, key, v] : {std::tuple{-128, "levels/per_level_below_0", s.per_level_below},
                                        std::tuple{127, "levels/per_level_above_0", s.per_level_above}})
        if (!std::isfinite(height_of_level(s, level)))
            return Status::at(name, std::string(key) + " of " + number(v) + " takes level " + std::to_string(level) +
                                        " beyond any number");
    for (const auto &[x, y] : {std::pair{grid_columns, 0}, std::pair{0, grid_rows}, std::pair{grid_columns, grid_rows}}) {
        const double cx = s.gt[0] + x * s.gt[1] + y * s.gt[2], cy = s.gt[3] + x * s.gt[4] + y * s.gt[5];
        if (s.georeferenced && !(std::isfinite(cx) && std::isfinite(cy)))
            return Status::at(name, "its geotransform takes the map's corner at column " + std::to_string(x) + ", row " +
                                        std::to_string(y) + " beyond any number");
    }
    return {};
}

Status read_sidecar(const std::string &map, Sidecar &s, bool &found) {
    const std::string path = sidecar_path(map);
    struct stat st;
    found = stat(path.c_str(), &st) == 0;
    if (!found) return {};
    std::vector<uint8_t> bytes;
    if (Status r = read_whole(path, bytes, 1 << 24); !r.ok) return r;
    return parse_sidecar(std::string(bytes.begin(), bytes.end()), path, s);
}

Status check_map_output(const std::string &map, const std::vector<std::string> &inputs, Links map_links) {
    if (Status st = check_output(map, inputs, map_links); !st.ok) return st;
    struct stat st;
    if (stat(map.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size != 0 && st.st_size != grid_bytes)
        return Status::at(map, "exists and is not a map (" + grouped(st.st_size) +
                                   " bytes); mvx replaces only maps (write to another name)");
    return check_output(sidecar_path(map), inputs, Links::refuse);
}

namespace {

// Where a map and its sidecar go, checked again before either is replaced; and what the sidecar
// says, which must read back: every number finite, and what is derived from them.
Status check_save(const std::string &path, const Sidecar &s, Links map_links) {
    if (Status st = check_map_output(path, {}, map_links); !st.ok) return st;
    return check_sidecar(s, sidecar_path(path));
}

// The sidecar written beside the map's written temporary, both committed together.
Status commit_with_sidecar(const std::string &path, PendingFile &map, const Sidecar &s) {
    PendingFile side(sidecar_path(path), Links::refuse);
    const std::string json = sidecar_json(s);
    if (Status st = side.write([&](int fd) { return write_all(fd, reinterpret_cast<const uint8_t *>(json.data()), json.size()); });
        !st.ok)
        return st;
    return commit_together({&map, &side});
}

// save_map with `write` filling the map's temporary file.
Status save_with(const std::string &path, const Sidecar &s, Links map_links, const std::function<Status(PendingFile &)> &write) {
    // Both places first: the map is not written for nothing.
    if (Status st = check_save(path, s, map_links); !st.ok) return st;
    PendingFile map(path, map_links);
    if (Status st = write(map); !st.ok) return st;
    return commit_with_sidecar(path, map, s);
}

}  // namespace

Status save_map(const std::string &path, const Map &m, const Sidecar &s, Links map_links) {
    return save_with(path, s, map_links, [&](PendingFile &f) { return write_map(f, m); });
}

MapOutput::~MapOutput() {
    if (bytes_) munmap(bytes_, grid_bytes);
}

Status MapOutput::open() {
    if (Status st = check_map_output(path_, {}, links_); !st.ok) return st;
    return file_.write([&](int fd) {
        // The room first: a full disk is told now, not as a fault in the process that fills the map.
        if (const int e = posix_fallocate(fd, 0, grid_bytes)) {
            errno = e;
            return false;
        }
        void *p = mmap(nullptr, grid_bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p == MAP_FAILED) return false;
        bytes_ = static_cast<uint8_t *>(p);
        return true;
    });
}

Status MapOutput::commit(const Sidecar &s) {
    // Where it goes may have changed while the map was made.
    if (Status st = check_save(path_, s, links_); !st.ok) return st;
    return commit_with_sidecar(path_, file_, s);
}
